// What gridscope-live tells browsers, and how it holds it back.
//
//   Snapshot        - the race as the page shows it at one moment: session
//                     line, one row per car (ranked by the program's rules,
//                     with the program's texts, as UTF-8) and the newest event
//   TakeSnapshot    - reads the core's race state into a snapshot
//   EventJournal    - the numbered event lines (bounded)
//   FullMessage     - the whole state, sent to a browser when it connects
//   ChangeMessage   - what changed between two snapshots (only the changed
//                     fields of a row), or nothing
//   DelayLine       - snapshots held back a fixed time to match a stream
//   SendPace        - how often the stream may send
//   LapsMessage     - a driver's lap history (or every driver's) as JSON
//
// Messages are compact JSON text, kept small for the stream: the full
// message carries each car as an array of values under a field list given
// once; a change carries its rows field by field ([slot, value, ...] per
// changed field), each moving car once as [slot, x, y, heading, km/h,
// interval ms, gap ms] (with the laps behind when there are any), and only
// the session's keys that changed. So a full state of 32 cars stays under
// 8 KB and a change under 2 KB. /api/state keeps cars as named objects.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include <QByteArray>
#include <QJsonObject>

#include "Timing.h"

namespace gs {
class RaceState;
}

namespace gs::live {

struct CarView {
    int slot = 0;
    std::string name, car;  // UTF-8, colour codes removed
    int lap = 0;
    std::string best, gap;  // the standings' texts
    int pos = 0;
    bool finished = false;
    double x = 0, y = 0;  // world units, rounded to 0.1
    double heading = 0;   // radians, rounded to 0.01
    int kmh = 0;
    std::string colour;  // "#rrggbb" of the player slot
    // Timing in depth: interval, gap, this lap's sectors, best sectors; the
    // laps completed and the newest of them with its gap at the line.
    CarTiming timing;
    int lapsCompleted = 0;
    std::optional<LapRecord> lastLap;
    std::optional<int> lastLapGap;
};

struct SessionView {
    std::string server;  // UTF-8, colour codes removed
    std::string track;   // short track name, e.g. "AS1"
    std::string mode;    // "race", "qualifying" or ""
    int laps = 0;
    int minutes = 0;
    std::string link;  // "connecting", "live", "silent" or "disconnected"
    bool trackLoaded = false;
    Sectors bestSectors;             // the session's best of each sector
    std::optional<BestLap> bestLap;  // its best lap, the name as UTF-8
    bool operator==(const SessionView&) const = default;
};

struct Snapshot {
    SessionView session;
    std::vector<CarView> cars;  // by slot, 0..count-1
    std::uint64_t lastEvent = 0;
    std::int64_t timingAt = 0;  // the timing's clock when taken (ms)
};

struct EventLine {
    std::uint64_t seq;
    std::string text;  // UTF-8
};

// Numbered event lines, oldest first, at most Capacity of them.
class EventJournal {
public:
    static constexpr std::size_t Capacity = 1024;
    // Adds a server text (Windows-1252) as UTF-8; returns its number.
    std::uint64_t Add(const std::string& windows1252);
    std::uint64_t Last() const { return next_ - 1; }
    // Lines with after < seq <= upTo, at most `limit` of the newest.
    std::vector<EventLine> Between(std::uint64_t after, std::uint64_t upTo, std::size_t limit) const;

private:
    std::deque<EventLine> lines_;
    std::uint64_t next_ = 1;
};

// Ranks the live slots (the program's rules) and reads them into rows,
// with their timing when there is one. In qualifying the interval and gap
// are those of the best laps (the server's, as the table ranks by them).
Snapshot TakeSnapshot(RaceState& race, std::int32_t pathNodeCount, std::int32_t finishNode,
                      const Timing* timing = nullptr);

// Event lines sent with a full state (a change carries every new line).
constexpr std::size_t FullStateEvents = 20;

// The state with its cars as objects, for /api/state.
QJsonObject StateObject(const Snapshot& s, const EventJournal& journal);
// The same with its cars as arrays under "fields", for the stream.
QByteArray FullMessage(const Snapshot& s, const EventJournal& journal);
// Empty when nothing changed.
QByteArray ChangeMessage(const Snapshot& before, const Snapshot& after, const EventJournal& journal);

// A driver's laps completed up to `upTo` (the timing's clock) as
// [{"lap","ms","sectors","pos","gap_ms","personal","overall"}], or with an
// empty name every driver's as {"drivers":[{"name","laps"}]}; nothing for a
// name not timed. Names are UTF-8.
std::optional<QByteArray> LapsMessage(const Timing& timing, const std::string& utf8Name, std::int64_t upTo);

// The stream's pace: at most MaxPerSecond messages in any second, and
// spread so that a faster source is sent evenly (one every 1000 /
// MaxPerSecond ms, with Burst saved up for an update that comes close
// after the one before). Times are ms of any monotonic clock.
class SendPace {
public:
    static constexpr int MaxPerSecond = 20;
    static constexpr int Burst = 2;
    static constexpr std::int64_t Spacing = 1000 / MaxPerSecond;

    // The earliest time the next message may go.
    std::int64_t NextAllowed() const;
    void Sent(std::int64_t now);

private:
    std::int64_t due_ = INT64_MIN / 2;  // the paced time of the next message
    std::deque<std::int64_t> recent_;   // the last MaxPerSecond send times
};
// Snapshots released `delayMs` after they were taken. Times are in ms of
// any monotonic clock.
class DelayLine {
public:
    explicit DelayLine(std::int64_t delayMs) : delay_(delayMs) {}
    void Push(std::int64_t takenAt, Snapshot s);
    // The newest snapshot whose time has come, dropping it and every older
    // one; nothing when none is due.
    std::optional<Snapshot> Release(std::int64_t now);
    // When the oldest held snapshot falls due, or nothing when empty.
    std::optional<std::int64_t> NextDue() const;
    std::size_t Held() const { return held_.size(); }
    std::int64_t Delay() const { return delay_; }

    // At ten snapshots a second this is over five minutes of delay.
    static constexpr std::size_t Capacity = 4096;

private:
    std::int64_t delay_;
    std::deque<std::pair<std::int64_t, Snapshot>> held_;
};

}  // namespace gs::live
