#include "view/Standings.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "common/Text.h"
#include "connection/RaceState.h"

namespace gs {

namespace {

bool TimeBefore(std::int32_t m1, std::int32_t s1, std::int32_t h1, std::int32_t m2, std::int32_t s2, std::int32_t h2) {
    if (m1 != m2) return m1 < m2;
    if (s1 != s2) return s1 < s2;
    return h1 < h2;
}

bool NameBefore(const PlayerRecord& j, const PlayerRecord& i) {
    return std::strcmp(j.Name, i.Name) < 0;  // strcmp compares bytes as unsigned
}

bool AheadInQualifying(const PlayerRecord& j, const PlayerRecord& i) {
    if (TimeBefore(j.BestMin, j.BestSec, j.BestHund, i.BestMin, i.BestSec, i.BestHund)) return true;
    const bool same = j.BestMin == i.BestMin && j.BestSec == i.BestSec && j.BestHund == i.BestHund;
    return same && NameBefore(j, i);
}

bool AheadInRace(const PlayerRecord& j, const PlayerRecord& i, std::int64_t nodes, std::int64_t finish) {
    if (j.Lap > i.Lap) return true;
    if (j.Finished && i.Finished)
        return TimeBefore(j.TotalMin, j.TotalSec, j.TotalHund, i.TotalMin, i.TotalSec, i.TotalHund);
    if (j.Lap != i.Lap) return false;
    // Just past the finish line the node index is small again: such a car is
    // early in its lap, one before the line is late.
    auto early = [&](std::int64_t n) { return n > finish && n < nodes; };
    auto late = [&](std::int64_t n) { return n < finish; };
    const std::int64_t ni = i.Node, nj = j.Node;
    if (early(ni) && late(nj)) return true;
    if (early(nj) && late(ni)) return false;
    return nj > ni || (nj == ni && NameBefore(j, i));
}

}  // namespace

void ComputePositions(RaceState& race, std::int32_t pathNodeCount, std::int32_t finishNode) {
    const bool qualifying = race.RaceMode == rmQualify;
    for (int i = 0; i < race.PlayerCount; ++i) {
        int ahead = 0;
        for (int j = 0; j < race.PlayerCount; ++j) {
            if (j == i) continue;
            const PlayerRecord &pi = race.Players[i], &pj = race.Players[j];
            if (qualifying ? AheadInQualifying(pj, pi) : AheadInRace(pj, pi, pathNodeCount, finishNode)) ++ahead;
        }
        race.Players[i].Position = 1 + ahead;
    }
}

// Summed in 64 bits and saturated: a server can drive a total up lap after
// lap, and the sum must not overflow.
std::int32_t Hundredths(std::int32_t m, std::int32_t s, std::int32_t h) {
    const std::int64_t sum = std::int64_t{h} + 100 * std::int64_t{s} + 6000 * std::int64_t{m};
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(sum, INT32_MIN, INT32_MAX));
}

LeaderData FindLeader(const RaceState& race) {
    LeaderData leader;
    for (int i = 0; i < race.PlayerCount; ++i) {
        const PlayerRecord& p = race.Players[i];
        if (p.Position != 1) continue;
        leader.total = Hundredths(p.TotalMin, p.TotalSec, p.TotalHund);
        leader.lap = p.Lap;
    }
    return leader;
}

StandingsPage NextStandingsPage(float& pageTimer, int frameIntervalMs, int playerCount) {
    pageTimer += static_cast<float>(frameIntervalMs);
    const int n = playerCount;
    if (pageTimer < 4000.0f) return {0, std::min(n, 12)};
    if (pageTimer < 6000.0f) {
        const int last = std::min(n, 21);
        return {std::max(last - 12, 0), last};
    }
    pageTimer = 0;
    return {0, std::min(n, 12)};
}

std::string TotalOrGapText(const PlayerRecord& p, const LeaderData& leader) {
    if (p.Position == 1) return LapTimeText(p.TotalMin, p.TotalSec, p.TotalHund);
    const std::int64_t gap = std::int64_t{Hundredths(p.TotalMin, p.TotalSec, p.TotalHund)} - leader.total;
    if (gap < 0) return std::string();
    if (p.Lap == leader.lap)
        return "+" + LapTimeText(static_cast<int>(gap / 6000), static_cast<int>((gap % 6000) / 100),
                                 static_cast<int>(gap % 100));
    // A player ranked behind the leader can have more laps (qualifying
    // ranks by best lap): no lap gap to show then, as for a negative time.
    if (leader.lap - p.Lap < 1) return std::string();
    return "+" + std::to_string(leader.lap - p.Lap) + " Laps";
}

}  // namespace gs
