#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "common/Text.h"
#include "connection/RaceState.h"
#include "support/FakePlatform.h"

namespace gs {
namespace {

// A 24-byte wire name field holding `text`.
struct WireName {
    char bytes[WireNameWidth] = {};
    explicit WireName(const std::string& text) { std::memcpy(bytes, text.data(), std::min(text.size(), sizeof bytes)); }
};
struct WireCar {
    char bytes[WireCarWidth] = {};
    explicit WireCar(const std::string& text) { std::memcpy(bytes, text.data(), std::min(text.size(), sizeof bytes)); }
};

void AddPlayers(RaceState& race, std::initializer_list<const char*> names) {
    const int start = race.PlayerCount;
    race.ResizePlayers(start + static_cast<int>(names.size()));
    int slot = start;
    for (const char* n : names) race.SetPlayer(slot++, WireName(n).bytes, WireCar("XF GTI").bytes);
}

TEST(ColourCodes, AreRemovedWherePresentAndBoundedByWidth) {
    EXPECT_EQ(StripColourCodes("^1Al^7ex"), "Alex");
    EXPECT_EQ(StripColourCodes("abc^"), "abc");       // a final caret is dropped
    EXPECT_EQ(StripColourCodes("ab^\0zz", 6), "ab");  // a terminator after a caret ends the text
    const char full[24] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'K', 'L',
                           'M', 'N', 'O', 'P', 'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X'};
    EXPECT_EQ(StripColourCodes(full, 24), std::string(full, 24));  // unterminated field stays inside
    EXPECT_EQ(TwoDigits(7), "07");
    EXPECT_EQ(TwoDigits(12), "12");
    EXPECT_EQ(TwoDigits(0), "00");
}

TEST(CodePage, ServerTextsDecodeThroughWindows1252AndBack) {
    // Bytes as a server sends them: "€" 0x80, "„" 0x84, "Š" 0x8A, curly
    // quotes 0x93 0x94, "Ÿ" 0x9F, "é" 0xE9; 0x81 has no character.
    const std::string server = "\x80\x84\x8A\x93x\x94\x9F\xE9\x81!";
    EXPECT_EQ(Windows1252ToUtf8(server), "\u20AC\u201E\u0160\u201Cx\u201D\u0178\u00E9!");
    EXPECT_EQ(Windows1252Char(0x96), U'\u2013');
    EXPECT_EQ(Windows1252Char(0x99), U'\u2122');
    for (unsigned char undefined : {0x81, 0x8D, 0x8F, 0x90, 0x9D}) EXPECT_EQ(Windows1252Char(undefined), 0u);
    EXPECT_EQ(Windows1252Char(0x41), U'A');
    EXPECT_EQ(Windows1252Char(0xFF), U'\u00FF');

    // Typed text back to the server's bytes; what the page lacks is "?".
    EXPECT_EQ(Utf8ToWindows1252("\u20AC\u201E\u0160\u201Cx\u201D\u0178\u00E9!"), "\x80\x84\x8A\x93x\x94\x9F\xE9!");
    EXPECT_EQ(Utf8ToWindows1252("a\u4E2D\U0001F600b"), "a??b");
    EXPECT_EQ(Utf8ToWindows1252("a\xC3"), "a?");       // cut sequence
    EXPECT_EQ(Utf8ToWindows1252("\xE2\x82x"), "??x");  // broken continuation
}

TEST(MessageLog, KeepsAtMost255CharactersAndOrdersOldestFirst) {
    RaceState race;
    race.AddMessage("first %d", 1);
    race.AddMessage("%s", std::string(400, 'x').c_str());
    ASSERT_EQ(race.Log.Size(), 2u);
    EXPECT_EQ(race.Log.Oldest(), "first 1");
    EXPECT_EQ(race.Log.Newest().size(), 255u);
}

TEST(MessageLog, AFloodKeepsOnlyTheNewestEntries) {
    MessageLog log;
    for (int i = 0; i < 10000; ++i) log.Add("line " + std::to_string(i));
    EXPECT_EQ(log.Size(), MessageLog::MaxEntries);
    EXPECT_EQ(log.Newest(), "line 9999");
    EXPECT_EQ(log.Oldest(), "line " + std::to_string(10000 - MessageLog::MaxEntries));
    for (std::size_t i = 0; i < log.Size(); ++i)
        ASSERT_EQ(log.At(i), "line " + std::to_string(10000 - MessageLog::MaxEntries + i)) << i;
    // Emptied midway round the ring, it fills again from its oldest.
    log.Clear();
    EXPECT_TRUE(log.Empty());
    log.Add("again");
    log.Add(std::string(300, 'x'));
    EXPECT_EQ(log.Oldest(), "again");
    EXPECT_EQ(log.Newest(), std::string(MessageEntry::MaxLength, 'x'));
}

TEST(MessageLog, TrimDropsOneOldEntryPerCall) {
    MessageLog log;
    for (int i = 0; i < 16; ++i) log.Add("line " + std::to_string(i));
    EXPECT_TRUE(log.TrimOldest(13));
    EXPECT_EQ(log.Size(), 15u);
    EXPECT_EQ(log.Oldest(), "line 1");
    EXPECT_TRUE(log.TrimOldest(13));
    EXPECT_TRUE(log.TrimOldest(13));
    EXPECT_FALSE(log.TrimOldest(13));
    EXPECT_EQ(log.Size(), 13u);
    EXPECT_EQ(log.Newest(), "line 15");
}

TEST(Laps, BestLapAndTotalArithmetic) {
    RaceState race;
    AddPlayers(race, {"Alex"});
    PlayerRecord& p = race.Players[0];
    race.RecordLap(0, 0, 59, 95, "XR GT");
    EXPECT_EQ(p.BestMin * 10000 + p.BestSec * 100 + p.BestHund, 5995);
    race.RecordLap(0, 1, 0, 10, "XR GT");
    // 0:59.95 + 1:00.10 = 2:00.05
    EXPECT_EQ(p.TotalMin, 2);
    EXPECT_EQ(p.TotalSec, 0);
    EXPECT_EQ(p.TotalHund, 5);
    EXPECT_EQ(p.BestMin, 0);  // the slower lap does not replace the best
    EXPECT_EQ(p.BestSec, 59);
    race.RecordLap(0, 0, 59, 95, "XR GT TURBO");  // an equal lap leaves the best
    EXPECT_EQ(p.BestHund, 95);
    EXPECT_STREQ(p.Car, "XR GT TURBO");
}

TEST(Laps, AfterTheResultOnlyBestAndCarChange) {
    RaceState race;
    AddPlayers(race, {"^1Alex"});
    race.RecordResult(WireName("^4Al^2ex").bytes, 5, 10, 20, 1, 2, 3);
    PlayerRecord& p = race.Players[0];
    EXPECT_EQ(p.Finished, 1);
    EXPECT_EQ(p.TotalMin, 5);
    race.RecordLap(0, 1, 0, 0, "FZ50");
    EXPECT_EQ(p.TotalMin, 5);
    EXPECT_EQ(p.TotalSec, 10);
    EXPECT_EQ(p.BestMin, 1);
    EXPECT_EQ(p.BestSec, 0);
    EXPECT_STREQ(p.Car, "FZ50");
}

TEST(Samples, QueueFillsToEightThenIgnoresUntilAStepDropsOne) {
    test::FakeClock clock;
    RaceState race;
    race.InitSampleClock(clock);
    race.ResizePlayers(1);
    for (int i = 0; i < 9; ++i) race.PushSample(0, CarSample{float(i), 0, 0, 0}, 100 + i, i, 0);
    PlayerRecord& p = race.Players[0];
    EXPECT_EQ(p.SampleCount, 8);
    EXPECT_EQ(p.Node, 107u);  // the ninth sample changed nothing
    clock.AdvanceMs(499);
    race.AdvanceSampleClock(clock);
    EXPECT_EQ(p.SampleCount, 8);
    clock.AdvanceMs(1);
    race.AdvanceSampleClock(clock);
    EXPECT_EQ(p.SampleCount, 7);
    EXPECT_EQ(p.Samples[0].X, 1.0f);
}

TEST(Samples, ALongPauseCatchesUpEveryStep) {
    test::FakeClock clock;
    RaceState race;
    race.InitSampleClock(clock);
    race.ResizePlayers(2);
    for (int i = 0; i < 8; ++i) race.PushSample(0, CarSample{float(i), 0, 0, 0}, 0, 0, 0);
    for (int i = 0; i < 4; ++i) race.PushSample(1, CarSample{float(i), 0, 0, 0}, 0, 0, 0);
    const std::int64_t base = race.Clock.Base;
    clock.AdvanceMs(3000);
    race.AdvanceSampleClock(clock);
    EXPECT_EQ(race.Players[0].SampleCount, 5);
    EXPECT_EQ(race.Players[0].Samples[0].X, 3.0f);
    EXPECT_EQ(race.Players[1].SampleCount, 4);
    EXPECT_EQ(race.Clock.Base, base + 6 * std::int64_t{500000});
    clock.AdvanceMs(3600 * 1000);  // an hour later: still whole steps only
    race.AdvanceSampleClock(clock);
    EXPECT_EQ(race.Clock.Base, base + (6 + 7200) * std::int64_t{500000});
}

TEST(Samples, ASlowCounterStillAdvances) {
    test::FakeClock clock;
    clock.frequency = 10;  // slower than 100 Hz
    RaceState race;
    race.InitSampleClock(clock);
    EXPECT_EQ(race.Clock.TicksPer10ms, 1);
    clock.now += 120;
    race.AdvanceSampleClock(clock);
    EXPECT_EQ(race.Clock.Base, 5000000 + 100);
}

TEST(Players, GrowingTheCountClearsOnlyNewQueues) {
    RaceState race;
    AddPlayers(race, {"A", "B", "C", "D", "E"});
    for (int i = 0; i < 5; ++i) race.PushSample(i, CarSample{}, 0, 0, 0);
    race.ResizePlayers(3);
    race.ResizePlayers(5);
    EXPECT_EQ(race.Players[2].SampleCount, 1);
    EXPECT_EQ(race.Players[3].SampleCount, 0);
    EXPECT_EQ(race.Players[4].SampleCount, 0);
    EXPECT_STREQ(race.Players[4].Name, "E");
    race.ResizePlayers(200);
    EXPECT_EQ(race.PlayerCount, MaxPlayers);
}

TEST(Players, RemovalMovesTheFollowedPlayerWithItsRecord) {
    RaceState race;
    AddPlayers(race, {"A", "B", "C", "D", "E"});
    race.FollowIndex = 4;
    race.RemovePlayerByName(WireName("^3C").bytes);
    EXPECT_EQ(race.PlayerCount, 4);
    EXPECT_EQ(race.FollowIndex, 3);
    EXPECT_STREQ(race.Players[2].Name, "D");
    EXPECT_STREQ(race.Players[3].Name, "E");
    EXPECT_STREQ(race.Players[4].Name, "E");  // the former last slot keeps its copy
    race.RemovePlayerByName(WireName("nobody").bytes);
    EXPECT_EQ(race.PlayerCount, 4);
}

TEST(Players, RenameMatchesAcrossColourCodes) {
    RaceState race;
    AddPlayers(race, {"^1Al^2ex", "Bo"});
    EXPECT_STREQ(race.Players[0].Name, "Alex");
    race.RenamePlayer(WireName("A^5lex").bytes, WireName("^6Alexa").bytes);
    EXPECT_STREQ(race.Players[0].Name, "Alexa");
    race.RenamePlayer(WireName("Zed").bytes, WireName("Q").bytes);
    EXPECT_STREQ(race.Players[1].Name, "Bo");
}

TEST(Players, ReorderCopiesRecordsAndNeverReadsOutsideTheTable) {
    RaceState race;
    AddPlayers(race, {"A", "B", "C"});
    const std::uint8_t order[MaxPlayers] = {2, 0, 1};
    race.ReorderPlayers(order, 3);
    EXPECT_STREQ(race.Players[0].Name, "C");
    EXPECT_STREQ(race.Players[1].Name, "A");
    EXPECT_STREQ(race.Players[2].Name, "B");
    const std::uint8_t wild[MaxPlayers] = {200, 0, 1};
    race.ReorderPlayers(wild, 250);
    EXPECT_EQ(race.PlayerCount, MaxPlayers);
    EXPECT_STREQ(race.Players[0].Name, "C");  // an out-of-table byte keeps the position
    EXPECT_STREQ(race.Players[1].Name, "C");
    EXPECT_STREQ(race.Players[2].Name, "A");
}

TEST(Race, ResetRaceAndResetTimes) {
    RaceState race;
    AddPlayers(race, {"A", "B"});
    race.RecordLap(0, 1, 2, 3, "LX4");
    race.RecordResult(WireName("B").bytes, 9, 9, 9, 1, 1, 1);
    race.ResetRace(0, 0);
    EXPECT_EQ(race.RaceMode, rmNone);
    EXPECT_EQ(race.Players[0].BestMin, 0);
    EXPECT_EQ(race.Players[1].Finished, 0);
    race.ResetRace(0, 15);
    EXPECT_EQ(race.RaceMode, rmQualify);
    race.ResetRace(5, 15);
    EXPECT_EQ(race.RaceMode, rmRace);
    EXPECT_EQ(race.RaceLaps, 5u);
    race.RecordLap(1, 1, 2, 3, "LX4");
    race.RecordResult(WireName("B").bytes, 9, 9, 9, 1, 1, 1);
    race.ResetTimes();
    EXPECT_EQ(race.PlayerCount, 0);
    EXPECT_EQ(race.Players[1].TotalMin, 0);
    EXPECT_EQ(race.Players[1].Finished, 1);  // the flag is left alone
    EXPECT_STREQ(race.Players[1].Name, "B");
}

TEST(Players, SlotsOutsideTheTableAreIgnored) {
    RaceState race;
    AddPlayers(race, {"A"});
    race.PushSample(32, CarSample{}, 1, 1, 0);
    race.PushSample(-1, CarSample{}, 1, 1, 0);
    race.SetPlayer(40, WireName("X").bytes, WireCar("Y").bytes);
    race.RecordLap(255, 1, 1, 1, "Z");
    EXPECT_EQ(race.Players[0].SampleCount, 0);
    SUCCEED();
}

}  // namespace
}  // namespace gs
