// The fuzz harnesses and their seeds, run in the ordinary test build: the
// seeds reach the states they were written for, the invariant checks catch
// a broken model, and the input format reads as documented.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <stdexcept>
#include <string>

#include "DispatchHarness.h"
#include "FileHarness.h"
#include "SeedPackets.h"
#include "connection/Connection.h"
#include "connection/RaceState.h"
#include "connection/ServerList.h"

namespace gs::fuzz {
namespace {

DispatchResult RunInput(const Bytes& input) { return RunDispatchInput(input.data(), input.size()); }

const NamedPacket& Seed(const std::vector<NamedPacket>& seeds, const std::string& name) {
    for (const NamedPacket& s : seeds)
        if (s.name == name) return s;
    throw std::runtime_error("no seed " + name);
}

StartState LiveWithThree() {
    StartState s;
    s.linkState = lsLive;
    s.mode = cmDirect;
    s.playerCount = 3;
    s.players = {{1, 8}, {3, 0}, {0, 2}};
    return s;
}

TEST(DispatchHarness, EverySeedRunsWithoutBreakingAnInvariant) {
    for (const NamedPacket& seed : DispatchSeeds()) {
        const DispatchResult r = RunInput(seed.bytes);
        EXPECT_EQ(r.violation, "") << seed.name;
        EXPECT_GT(r.operations, 0) << seed.name;
    }
}

TEST(DispatchHarness, SeedsReachTheStatesTheyWereWrittenFor) {
    const auto seeds = DispatchSeeds();

    const DispatchResult race = RunInput(Seed(seeds, "direct-race").bytes);
    EXPECT_EQ(race.finalLinkState, lsIdle);  // ends with Disconnect
    ASSERT_FALSE(race.tracksLoaded.empty());
    EXPECT_EQ(race.tracksLoaded.front(), "AS1");

    // Two chunks of a 13-server list, a refresh, one chunk again, race
    // data, then a full relay ends the connection.
    const DispatchResult relay = RunInput(Seed(seeds, "relay-list-spectate").bytes);
    EXPECT_EQ(relay.finalReceived, 8);
    EXPECT_EQ(relay.finalLinkState, lsIdle);

    EXPECT_EQ(RunInput(Seed(seeds, "relay-long-list").bytes).finalReceived, ServerList::Capacity);
    EXPECT_EQ(RunInput(Seed(seeds, "timeout").bytes).finalLinkState, lsIdle);
    EXPECT_EQ(RunInput(Seed(seeds, "single-MCI-32players-8cars").bytes).finalPlayerCount, 32);
    EXPECT_EQ(RunInput(Seed(seeds, "single-STA-BL1R-qualify").bytes).tracksLoaded, std::vector<std::string>{"BL1R"});
}

TEST(DispatchHarness, EveryReceivedTypeHasAValidPacket) {
    std::set<std::string> types;
    for (const NamedPacket& p : ValidPackets()) types.insert(std::string(p.bytes.begin(), p.bytes.begin() + 3));
    for (const char* type :
         {"MCI", "CHL", "ERR", "REO", "VER", "STA", "NPL", "PLL", "ISM", "LAP", "RES", "CPR", "MSO", "RST", "REN"})
        EXPECT_TRUE(types.count(type)) << type;
}

TEST(DispatchHarness, InputFormatReadsAsDocumented) {
    // A burst delivers (count + 1) × 8 datagrams.
    EXPECT_EQ(RunInput(DispatchInput(LiveWithThree()).Burst(0, Bytes{'R', 'E', 'N', 0}).Data()).datagrams, 8);
    EXPECT_EQ(RunInput(DispatchInput(LiveWithThree()).Burst(255, Bytes{'R', 'E', 'N', 0}).Data()).datagrams, 2048);

    // A length past the end takes what is left: one datagram, one operation.
    Bytes cut = DispatchInput(LiveWithThree()).Data();
    cut.insert(cut.end(), {0x00, 0xFF, 0xFF, 'R', 'E', 'N', 0});
    const DispatchResult r = RunInput(cut);
    EXPECT_EQ(r.datagrams, 1);
    EXPECT_EQ(r.operations, 1);
    EXPECT_EQ(r.finalLogSize, 1u);  // "Race End"

    // The header alone, even cut short, sets up a state and runs nothing.
    const Bytes header = DispatchInput(LiveWithThree()).Data();
    EXPECT_EQ(RunInput(header).finalPlayerCount, 3);
    EXPECT_EQ(RunInput(Bytes(header.begin(), header.begin() + 3)).operations, 0);
    EXPECT_EQ(RunInput({}).violation, "");
}

TEST(DispatchHarness, InvariantCheckCatchesEachKindOfBrokenModel) {
    auto broken = [&](auto change) {
        RaceState race;
        ServerList list;
        change(race, list);
        return CheckInvariants(race, list);
    };
    EXPECT_EQ(broken([](RaceState&, ServerList&) {}), "");
    EXPECT_NE(broken([](RaceState& r, ServerList&) { r.PlayerCount = 33; }), "");
    EXPECT_NE(broken([](RaceState& r, ServerList&) { r.PlayerCount = -1; }), "");
    EXPECT_NE(broken([](RaceState& r, ServerList&) { r.FollowIndex = 32; }), "");
    EXPECT_NE(broken([](RaceState& r, ServerList&) { r.FollowIndex = -2; }), "");
    EXPECT_NE(broken([](RaceState& r, ServerList&) { r.Players[31].SampleCount = 9; }), "");
    EXPECT_NE(broken([](RaceState& r, ServerList&) { std::memset(r.Players[4].Name, 'A', 32); }), "");
    EXPECT_NE(broken([](RaceState& r, ServerList&) { std::memset(r.TrackCode, 'A', 7); }), "");
    EXPECT_NE(broken([](RaceState&, ServerList& s) { s.total = 600, s.received = 513; }), "");
    EXPECT_NE(broken([](RaceState&, ServerList& s) { s.total = 3, s.received = 4; }), "");
    EXPECT_EQ(broken([](RaceState&, ServerList& s) { s.total = 600, s.received = 512; }), "");
}

TEST(SettingsHarness, SeedsRoundTrip) {
    for (const NamedPacket& seed : SettingsSeeds())
        EXPECT_EQ(RunSettingsInput(seed.bytes.data(), seed.bytes.size()), "") << seed.name;
}

TEST(TrackHarness, HandMadeAndGeneratedSeedsLoad) {
    const auto seeds = TrackSeeds(GRIDSCOPE_RUN_DIR, 65536);
    int generated = 0;
    for (const NamedPacket& seed : seeds) {
        EXPECT_EQ(RunTrackInput(seed.bytes.data(), seed.bytes.size()), "") << seed.name;
        generated += seed.name.rfind("run-", 0) == 0;
    }
    EXPECT_EQ(generated, 6);  // one cut mesh per catalogue track
}

TEST(TrackHarness, MissingFilesFailWithTheLoadersMessages) {
    // Flags 0: neither file; the harness checks the message itself.
    const Bytes none = {0, 0};
    EXPECT_EQ(RunTrackInput(none.data(), none.size()), "");
    // Path file only, then a mesh that is not one.
    const Bytes junk = {3, 16, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 'X', 'Y'};
    EXPECT_EQ(RunTrackInput(junk.data(), junk.size()), "");
}

}  // namespace
}  // namespace gs::fuzz
