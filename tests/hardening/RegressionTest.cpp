// Regression tests for what the fuzzers found, each feeding the bytes of
// the finding through the path on which it was found.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "DispatchHarness.h"
#include "FileHarness.h"
#include "common/Settings.h"
#include "connection/Connection.h"
#include "support/FakePlatform.h"
#include "view/Standings.h"

namespace gs {
namespace {

// A connection on fake parts, for feeding findings to it directly.
struct Rig {
    RaceState race;
    ServerList servers;
    test::FakeClock clock;
    test::FakeTimer t1{50, true}, t2{5000, true};
    test::FakeSocket socket;
    test::RecordingShell shell;
    Connection c{race, servers, {clock, t1, t2, socket, shell}};
};

// fuzz_settings: a text line ending in two carriage returns ("127.0\r\r\n")
// was read as "127.0\r", written back as such, and read the next time as
// "127.0": the settings file did not keep what the program had read.
TEST(SettingsRegression, TrailingCarriageReturnsAreNotPartOfAText) {
    const std::string crash = "127.0\r\r\n47\n";
    EXPECT_EQ(fuzz::RunSettingsInput(reinterpret_cast<const std::uint8_t*>(crash.data()), crash.size()), "");

    const std::string path = fuzz::ScratchDir() + "/crlf.ini";
    std::ofstream(path, std::ios::binary) << "host\r\r\r\n29999\r\npass\r\r\n";
    Settings s;
    ReadSettings(s, path);
    EXPECT_EQ(s.ServerIP, "host");
    EXPECT_EQ(s.InSimPort, 29999);
    EXPECT_EQ(s.AdminPassword, "pass");
    // A carriage return inside a text stays.
    std::ofstream(path, std::ios::binary) << "a\rb\n";
    ReadSettings(s, path);
    EXPECT_EQ(s.ServerIP, "a\rb");
}

// fuzz_settings: the server address " (null)" lost its blank on reading and
// became "(null)", which the file writes for an empty text: the address
// read back empty. Blanks go before the line is compared with that marker.
TEST(SettingsRegression, AnAddressThatTrimsToTheEmptyMarkerReadsEmpty) {
    const std::string crash = "(null) \n0\n(nu\n0\n(null)\n0\n0\n0\n0\n0\n0\n0\n";
    EXPECT_EQ(fuzz::RunSettingsInput(reinterpret_cast<const std::uint8_t*>(crash.data()), crash.size()), "");
    const std::string path = fuzz::ScratchDir() + "/marker.ini";
    std::ofstream(path, std::ios::binary) << " \t(null)  \n1\n (null)\n";
    Settings s;
    s.ServerIP = "x";
    ReadSettings(s, path);
    EXPECT_EQ(s.ServerIP, "");
    EXPECT_EQ(s.AdminPassword, " (null)");  // a password keeps its blanks

    // fuzz_settings, next: "host\r\r \r" lost its carriage return and then
    // its blank, which uncovered two more carriage returns; written back,
    // they were lost on the next read.
    const std::string uncovered =
        " r+\xFF\xA2\xA2\xA2\xA2"
        "6 4\r\r\r\r\r\r\xA2\xA2\xA2\r\r\r \r";
    EXPECT_EQ(fuzz::RunSettingsInput(reinterpret_cast<const std::uint8_t*>(uncovered.data()), uncovered.size()), "");
    std::ofstream(path, std::ios::binary) << "host\r\r \r\n";
    ReadSettings(s, path);
    EXPECT_EQ(s.ServerIP, "host");
}

// fuzz_dispatch: an empty datagram in the socket made the fake socket copy
// from a null pointer. The drain must take the empty read as the end of the
// tick, and the datagram behind it must wait for the next tick.
TEST(DispatchRegression, EmptyDatagramEndsTheDrain) {
    Rig rig;
    RaceState& race = rig.race;
    test::FakeSocket& socket = rig.socket;
    Connection& c = rig.c;
    std::string error;
    socket.Open("127.0.0.1", "29999", error);
    c.ConnectionMode = cmDirect;
    c.LinkState = lsRequested;
    socket.incoming.push_back({});
    socket.incoming.push_back(test::PacketBuilder("REN", 4));
    c.OnPacketTick();
    EXPECT_TRUE(race.Log.Empty());
    c.OnPacketTick();
    ASSERT_EQ(race.Log.Size(), 1u);
    EXPECT_EQ(race.Log.Newest(), "Race End");

    fuzz::StartState live;
    live.linkState = lsLive;
    live.mode = cmDirect;
    const auto input = fuzz::DispatchInput(live).Queue({}).Do(fuzz::Op::Tick).Data();
    EXPECT_EQ(fuzz::RunDispatchInput(input.data(), input.size()).violation, "");
}

// A lap packet of the race with slot, minutes, seconds and hundredths.
test::Bytes LapPacket(std::uint8_t slot, std::uint8_t m, std::uint8_t s, std::uint8_t h) {
    return test::PacketBuilder("LAP", 92).U8(84, m).U8(85, s).U8(86, h).U8(88, slot);
}

// fuzz_dispatch: 2048 lap packets of 255:59.99 for one player drove its
// total to 524287 minutes; the standings' sum in hundredths, 6000 × 524287,
// overflowed a 32-bit int. Sums now saturate.
TEST(StandingsRegression, EndlessLapsDoNotOverflowTheGapSum) {
    fuzz::StartState live;
    live.linkState = lsLive;
    live.mode = cmDirect;
    live.playerCount = 3;
    live.pathNodes = 300;
    live.finishNode = 120;
    live.players = {{1, 1}, {2, 2}, {3, 3}};
    const auto input = fuzz::DispatchInput(live).Burst(255, LapPacket(0, 255, 59, 99)).Data();
    EXPECT_EQ(fuzz::RunDispatchInput(input.data(), input.size()).violation, "");

    EXPECT_EQ(Hundredths(524287, 0, 0), INT32_MAX);
    EXPECT_EQ(Hundredths(-524287, 0, 0), INT32_MIN);
    EXPECT_EQ(Hundredths(1, 5, 7), 6507);
    PlayerRecord far;
    far.TotalMin = INT32_MAX;
    far.Position = 2;
    const LeaderData leader{Hundredths(10, 0, 0), 0};
    // INT32_MAX - 60000 hundredths behind the leader.
    EXPECT_EQ(TotalOrGapText(far, leader), "+357903:56.47");
}

// The same endless laps through the lap handler: the race total stops at the
// largest number of minutes instead of wrapping to a negative time.
TEST(RaceStateRegression, EndlessLapsStopTheTotalAtItsLargestValue) {
    Rig rig;
    RaceState& race = rig.race;
    Connection& c = rig.c;
    c.LinkState = lsLive;
    race.ResizePlayers(1);
    race.Players[0].TotalMin = INT32_MAX - 100;
    const test::Bytes lap = LapPacket(0, 255, 59, 99);
    c.ReceiveDatagram(lap.data(), lap.size());
    EXPECT_EQ(race.Players[0].TotalMin, INT32_MAX);
    EXPECT_EQ(race.Players[0].TotalSec, 59);
    EXPECT_EQ(race.Players[0].TotalHund, 99);
    c.ReceiveDatagram(lap.data(), lap.size());
    EXPECT_EQ(race.Players[0].TotalMin, INT32_MAX);
}

}  // namespace
}  // namespace gs
