#include <gtest/gtest.h>

#include <cstring>

#include "connection/RaceState.h"
#include "view/Standings.h"

namespace gs {
namespace {

PlayerRecord& Add(RaceState& race, const char* name, int lap, unsigned node) {
    PlayerRecord& p = race.Players[race.PlayerCount++];
    p = PlayerRecord{};
    std::strncpy(p.Name, name, sizeof p.Name - 1);
    p.Lap = lap;
    p.Node = node;
    return p;
}

void SetTotal(PlayerRecord& p, int m, int s, int h) {
    p.TotalMin = m;
    p.TotalSec = s;
    p.TotalHund = h;
}

TEST(Ranking, RaceByLapThenPathPositionAroundTheFinishLine) {
    RaceState race;
    race.RaceMode = rmRace;
    // 300 nodes, the lap begins at node 120: nodes past it are early in the
    // lap, nodes below it (after the wrap at 299) late.
    Add(race, "Late", 3, 100);   // nearly round: ahead of both early cars
    Add(race, "Early", 3, 130);  // just past the line
    Add(race, "Further", 3, 250);
    Add(race, "Leader", 4, 10);
    Add(race, "Twin", 2, 50);
    Add(race, "Twin", 2, 50);  // same name, lap and node: shared position
    Add(race, "Back", 1, 0);
    ComputePositions(race, 300, 120);
    EXPECT_EQ(race.Players[3].Position, 1);
    EXPECT_EQ(race.Players[0].Position, 2);
    EXPECT_EQ(race.Players[2].Position, 3);
    EXPECT_EQ(race.Players[1].Position, 4);
    EXPECT_EQ(race.Players[4].Position, 5);
    EXPECT_EQ(race.Players[5].Position, 5);
    EXPECT_EQ(race.Players[6].Position, 7);  // position 6 is skipped
}

TEST(Ranking, FinishedPlayersByTotalAndEqualNodesByName) {
    RaceState race;
    race.RaceMode = rmRace;
    PlayerRecord& a = Add(race, "Alpha", 5, 10);
    PlayerRecord& b = Add(race, "Bravo", 5, 20);
    a.Finished = b.Finished = 1;
    SetTotal(a, 10, 0, 0);
    SetTotal(b, 10, 0, 1);
    PlayerRecord& c = Add(race, "Charlie", 5, 30);  // unfinished, same lap: by node
    ComputePositions(race, 300, 0);
    EXPECT_EQ(c.Position, 1);  // an unfinished car on the same lap: by node
    EXPECT_EQ(a.Position, 2);  // ahead of "Bravo" by total although behind on the path
    EXPECT_EQ(b.Position, 3);
    SetTotal(b, 10, 0, 0);
    ComputePositions(race, 300, 0);
    EXPECT_EQ(a.Position, b.Position);  // equal totals share

    RaceState names;
    Add(names, "Bea", 1, 40);
    Add(names, "Abe", 1, 40);
    ComputePositions(names, 300, 0);
    EXPECT_EQ(names.Players[1].Position, 1);
    EXPECT_EQ(names.Players[0].Position, 2);
}

TEST(Ranking, QualifyingByBestLapWithNoLapFirst) {
    RaceState race;
    race.RaceMode = rmQualify;
    PlayerRecord& slow = Add(race, "Slow", 0, 0);
    slow.BestMin = 1;
    slow.BestSec = 30;
    PlayerRecord& fastB = Add(race, "Bfast", 0, 0);
    fastB.BestMin = 1;
    fastB.BestSec = 20;
    PlayerRecord& fastA = Add(race, "Afast", 9, 0);
    fastA.BestMin = 1;
    fastA.BestSec = 20;
    Add(race, "NoLap", 0, 0);
    ComputePositions(race, 300, 0);
    EXPECT_EQ(race.Players[3].Position, 1);
    EXPECT_EQ(fastA.Position, 2);
    EXPECT_EQ(fastB.Position, 3);
    EXPECT_EQ(slow.Position, 4);
}

TEST(Ranking, NoLeaderWhenFinishedPlayersCountEachOtherAhead) {
    RaceState race;
    race.RaceMode = rmRace;
    PlayerRecord& a = Add(race, "A", 6, 0);
    PlayerRecord& b = Add(race, "B", 5, 0);
    a.Finished = b.Finished = 1;
    SetTotal(a, 9, 0, 0);
    SetTotal(b, 8, 0, 0);  // b ahead by total, a ahead by laps
    ComputePositions(race, 300, 0);
    EXPECT_EQ(a.Position, 2);
    EXPECT_EQ(b.Position, 2);
    const LeaderData leader = FindLeader(race);
    EXPECT_EQ(leader.total, 0);
    EXPECT_EQ(leader.lap, 0);
    EXPECT_EQ(TotalOrGapText(a, leader), "");  // more laps than the (absent) leader
}

TEST(GapTexts, SameLapDifferentLapsAndNegative) {
    LeaderData leader{Hundredths(10, 0, 0), 10};
    PlayerRecord p;
    p.Position = 2;
    p.Lap = 10;
    SetTotal(p, 11, 5, 43);
    EXPECT_EQ(TotalOrGapText(p, leader), "+1:05.43");
    SetTotal(p, 10, 1, 50);
    EXPECT_EQ(TotalOrGapText(p, leader), "+0:01.50");
    SetTotal(p, 10, 0, 0);
    EXPECT_EQ(TotalOrGapText(p, leader), "+0:00.00");
    p.Lap = 8;
    EXPECT_EQ(TotalOrGapText(p, leader), "+2 Laps");
    SetTotal(p, 9, 0, 0);
    EXPECT_EQ(TotalOrGapText(p, leader), "");
    // Qualifying ranks by best lap: second place may have driven more laps.
    SetTotal(p, 12, 0, 0);
    p.Lap = 11;
    EXPECT_EQ(TotalOrGapText(p, leader), "");
    p.Lap = 9;
    EXPECT_EQ(TotalOrGapText(p, leader), "+1 Laps");
    p.Position = 1;
    SetTotal(p, 1, 5, 7);
    EXPECT_EQ(TotalOrGapText(p, leader), "1:05.07");
}

TEST(Pages, FifteenPlayersAt20FramesPerSecond) {
    float timer = 0;
    int firstPageFrames = 0, secondPageFrames = 0;
    for (int frame = 0; frame < 120; ++frame) {
        const StandingsPage page = NextStandingsPage(timer, 50, 15);
        if (page.first == 0) {
            EXPECT_EQ(page.last, 12);
            ++firstPageFrames;
        } else {
            EXPECT_EQ(page.first, 3);  // positions 4 to 15
            EXPECT_EQ(page.last, 15);
            ++secondPageFrames;
        }
    }
    EXPECT_EQ(firstPageFrames, 80);
    EXPECT_EQ(secondPageFrames, 40);
}

TEST(Pages, FewAndManyPlayers) {
    float timer = 4500;
    StandingsPage p = NextStandingsPage(timer, 50, 9);
    EXPECT_EQ(p.first, 0);
    EXPECT_EQ(p.last, 9);  // 12 or fewer: both pages alike
    timer = 4500;
    p = NextStandingsPage(timer, 50, 25);
    EXPECT_EQ(p.first, 9);  // positions 10 to 21
    EXPECT_EQ(p.last, 21);
    timer = 5990;
    p = NextStandingsPage(timer, 50, 25);
    EXPECT_EQ(timer, 0.0f);
    EXPECT_EQ(p.last, 12);
}

}  // namespace
}  // namespace gs
