// The standings ranking and the texts of its table, without GL.
//
// Every frame the live players are ranked (a count of who is ahead, so full
// ties share a position), the leader's total and lap are found, the page
// timer chooses which positions are shown, and each row's cells are formatted.
#pragma once

#include <cstdint>
#include <string>

namespace gs {

class RaceState;
struct PlayerRecord;

// Writes Position of every live slot: 1 + the number of live slots ahead.
void ComputePositions(RaceState& race, std::int32_t pathNodeCount, std::int32_t finishNode);

struct LeaderData {
    std::int32_t total = 0;  // hundredths
    std::int32_t lap = 0;
};
LeaderData FindLeader(const RaceState& race);

// Advances the page timer by one frame interval and returns the positions
// shown this frame: [first, last) as 0-based position indices.
struct StandingsPage {
    int first, last;
};
StandingsPage NextStandingsPage(float& pageTimer, int frameIntervalMs, int playerCount);

std::int32_t Hundredths(std::int32_t m, std::int32_t s, std::int32_t h);

// Cells of one row.
// The total for the leader, else the gap ("+0:01.50", "+2 Laps", or empty
// when the time gap is negative or the player has more laps than the leader).
std::string TotalOrGapText(const PlayerRecord& p, const LeaderData& leader);

}  // namespace gs
