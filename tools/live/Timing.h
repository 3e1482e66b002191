// Timing in depth from path nodes: when each car reached each node of each
// lap, and from that the interval to the car ahead, the gap to the leader,
// three sectors per lap, personal and session bests, and every driver's lap
// history. Plain C++ on the core's race state; no Qt.
//
//   Timing::SetTrack / StartSession - what a lap is, and when a race began
//   Timing::Report                  - one car sample (name, node, lap,
//                                     position) at an explicit time
//   Timing::AfterDatagram           - the feed's glue: the samples and race
//                                     starts a dispatched datagram left in
//                                     the core's race state
//   Timing::Standing                - interval and gap of every car of a
//                                     field in standings order
//   Timing::LapsOf, Best...         - lap history and bests
//
// Times are milliseconds of one monotonic clock: the arrival of the
// datagrams. A car's place in the race is an "absolute node": (lap - 1) x
// the node count + the node's distance from the finish node, so lap k runs
// from (k - 1) x N to k x N and two cars on the same node of the same lap
// have the same absolute node. A car reaches the nodes between two of its
// samples at times interpolated linearly between them.
//
// What the samples cannot be trusted for:
// - a node behind the furthest one reached (reversing, a reset to the
//   pits): nothing is recorded until the car is past that node again, so
//   every node keeps the time it was first reached;
// - a forward jump that no driving explains (more than half a lap, more
//   than MaxSampleGapMs since the last sample, or far faster than the car
//   was going: a reset forward or a long loss of datagrams), or one between
//   two samples read less than MinSampleGapMs apart (datagrams that waited
//   in the socket while the feed was busy, so their arrival is unknown):
//   the nodes jumped over get no time, and the sectors and lap that contain
//   them get none either;
// - a lap counter one lap off from the node near the line (a counter that
//   turns a little before or after the finish node): the node's continuity
//   wins there; elsewhere the counter does, and a car reported far behind
//   its furthest node for ReanchorMs starts again from where it is;
// - a car without samples for StaleMs: its interval and gap are unknown.
// No interval or gap is ever negative: two cars that passed each other
// between two samples have an interval of 0.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gs {
class RaceState;
struct PlayerRecord;
}  // namespace gs

namespace gs::live {

using Sectors = std::array<std::optional<int>, 3>;  // ms, or unknown

struct LapRecord {
    int lap = 0;                // the lap completed, 1 for the first
    std::optional<int> ms;      // unknown when some of the lap was not timed
    Sectors sectors;            // its three sectors
    int pos = 0;                // standings position right after the line
    std::int64_t at = 0;        // arrival of the sample that completed it
    std::optional<std::int64_t> crossed;  // when it reached the finish node
    bool personalBest = false;  // faster than every earlier lap of the driver
    bool sessionBest = false;   // faster than every earlier lap of the session
};

// What a row of the standings shows.
struct CarTiming {
    std::optional<int> intervalMs, gapMs;  // unknown for the leader and without a comparable node
    int intervalLaps = 0, gapLaps = 0;     // whole laps the car ahead / the leader is ahead
    std::vector<std::optional<int>> sectors;  // this lap's, as far as it has come
    Sectors bestSectors;
    bool operator==(const CarTiming&) const = default;
};

struct BestLap {
    std::string name;  // as the feed names drivers (the core's names)
    int ms = 0;
    bool operator==(const BestLap&) const = default;
};

struct CarSampleReport {
    std::string name;
    int node = 0;  // as reported: 0..N-1
    int lap = 0;   // as reported: the lap the car is on, 1 for the first
    int pos = 0;   // standings position after this sample
    bool finished = false;
};

class Timing {
public:
    static constexpr std::int64_t MinSampleGapMs = 10;  // no server sends a car's samples closer
    static constexpr std::int64_t MaxSampleGapMs = 2000;
    static constexpr std::int64_t StaleMs = 3000;
    static constexpr std::int64_t ReanchorMs = 1000;
    static constexpr std::size_t MaxDrivers = 64;
    static constexpr std::size_t MaxLaps = 1000;     // per driver, the newest kept
    static constexpr int CompareSearchNodes = 32;    // how far back a comparable node is sought

    // A new track: everything timed so far is forgotten. Fewer than three
    // nodes (or no track) turns the timing off.
    void SetTrack(int nodeCount, int finishNode);
    // A new session: laps, bests and node times are forgotten. In a race
    // (standing start) lap 1 of a car first seen in its first sector is
    // timed from `at`.
    void StartSession(std::int64_t at, bool standingStart);
    void Report(std::int64_t at, const CarSampleReport& sample);
    void Rename(const std::string& from, const std::string& to);

    // After the core dispatched one datagram of `type` that arrived at `at`,
    // `before` being the player table as it was before it: a car-info
    // datagram reports every car whose sample queue it grew (with the
    // standings computed for it) and then leaves each queue its newest
    // sample alone; a race start starts a session.
    void AfterDatagram(std::string_view type, std::int64_t at, RaceState& race, const PlayerRecord* before,
                       int beforeCount);

    // Interval, gap and sectors of each named driver, `ranked` being the
    // field in standings order (leader first).
    std::vector<CarTiming> Standing(const std::vector<std::string>& ranked) const;

    // The laps a driver completed up to `upTo` (arrival time), oldest
    // first; nothing for a driver never reported.
    std::optional<std::vector<LapRecord>> LapsOf(const std::string& name, std::int64_t upTo) const;
    // Drivers timed this session, in the order they were first reported.
    std::vector<std::string> Drivers() const;
    // The gap to the first car across the same line, for a lap whose
    // crossing is known.
    std::optional<int> GapAtLine(const LapRecord& lap) const;
    // How many laps a driver has completed this session (0 when unknown),
    // and the newest of them.
    int LapsCompleted(const std::string& name) const;
    std::optional<LapRecord> LastLap(const std::string& name) const;

    const Sectors& BestSectors() const { return bestSectors_; }
    const std::optional<BestLap>& BestLapOfSession() const { return bestLap_; }
    // The newest sample's time (0 before any).
    std::int64_t Now() const { return now_; }
    int NodeCount() const { return nodes_; }
    // The nodes that end sectors 1 and 2, as reported nodes.
    int SplitNode(int sector) const;

private:
    struct Car {
        std::string name;
        std::uint64_t first = 0;   // order of the first report
        bool anchored = false;
        std::int64_t hw = 0;       // furthest absolute node reached
        std::int64_t anchorA = 0;  // the sample the next one is interpolated from
        std::int64_t anchorT = 0;
        std::int64_t lastSkipEnd = 0;     // nodes up to here may lack a time
        std::optional<std::int64_t> farSince;  // reported far behind since
        double rate = 0;                  // nodes per ms of the last driven step
        std::int64_t lastSample = 0;
        std::optional<std::int64_t> finishA;  // frozen at this line once finished
        int pos = 0;
        std::vector<std::int32_t> times;  // ring of 2N: ms since the epoch, or Absent
        std::int64_t currentLap = 0;      // the lap `current` belongs to
        std::vector<std::optional<int>> current;
        Sectors best;
        std::optional<int> bestLap;
        std::vector<LapRecord> laps;
        int completed = 0;
    };
    static constexpr std::int32_t Absent = INT32_MIN;

    Car* Find(const std::string& name);
    const Car* Find(const std::string& name) const;
    Car& Admit(const std::string& name);
    void Anchor(Car& c, std::int64_t at, std::int64_t a, int lap, int d, bool first);
    void Advance(Car& c, std::int64_t at, std::int64_t a);
    void Record(Car& c, std::int64_t a, std::optional<std::int64_t> t);
    std::optional<std::int64_t> TimeAt(const Car& c, std::int64_t a) const;
    void Boundary(Car& c, std::int64_t b, std::int64_t at);
    std::optional<int> Span(const Car& c, std::int64_t from, std::int64_t to) const;
    std::int64_t Progress(const Car& c) const { return c.finishA ? *c.finishA : c.hw; }
    void Compare(const Car& x, const Car* y, std::optional<int>& ms, int& laps) const;
    std::int64_t LapStart(std::int64_t lap) const { return (lap - 1) * nodes_; }
    std::int64_t LapOf(std::int64_t a) const;
    // The lap whose sector ends can fall on `a`: lap k's are past its start
    // and up to its line, (k - 1) x N + 1 to k x N.
    std::int64_t LapEndingAt(std::int64_t a) const { return LapOf(a - 1); }

    int nodes_ = 0, finish_ = 0;
    int split_[4] = {0, 0, 0, 0};  // distance from the line of each sector's end
    std::vector<Car> cars_;
    std::uint64_t reports_ = 0;
    std::optional<std::int64_t> epoch_;
    std::int64_t now_ = 0;
    std::optional<std::int64_t> standingStart_;
    Sectors bestSectors_;
    std::optional<BestLap> bestLap_;
    std::map<std::int64_t, std::int64_t> firstAcross_;  // line's absolute node -> first crossing
};

}  // namespace gs::live
