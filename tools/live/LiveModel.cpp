#include "LiveModel.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdio>

#include "common/Text.h"
#include "connection/RaceState.h"
#include "view/SceneText.h"
#include "view/Standings.h"

namespace gs::live {

namespace {

double Round2(double v) { return std::round(v * 100.0) / 100.0; }

// Positions to a tenth of a world unit (half a metre): the page fits the
// whole track's mesh into the map (map.js, transform()), and the catalogue's
// meshes span 190 to 230 world units across their narrower side, so in a map
// some 600 pixels high one pixel is about a third of a world unit and a
// tenth is well under a pixel. Each digit less is a byte less for every car
// at every update.
double Round1(double v) { return std::round(v * 10.0) / 10.0; }

std::string ColourText(int slot) {
    const Rgb c = PlayerColour(slot);
    auto byte = [](float v) { return static_cast<int>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); };
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", byte(c.r), byte(c.g), byte(c.b));
    return text;
}

QString Q(const std::string& utf8) { return QString::fromStdString(utf8); }

QJsonValue Ms(const std::optional<int>& ms) { return ms ? QJsonValue(*ms) : QJsonValue(QJsonValue::Null); }

template <typename List>
QJsonArray MsArray(const List& list) {
    QJsonArray a;
    for (const std::optional<int>& ms : list) a.append(Ms(ms));
    return a;
}

QJsonObject SessionObject(const SessionView& s) {
    QJsonObject o{{"server", Q(s.server)}, {"track", Q(s.track)}, {"mode", Q(s.mode)},           {"laps", s.laps},
                  {"minutes", s.minutes},  {"link", Q(s.link)},   {"trackLoaded", s.trackLoaded}};
    o.insert("best_sectors", MsArray(s.bestSectors));
    o.insert("best_lap", s.bestLap ? QJsonValue(QJsonObject{{"name", Q(s.bestLap->name)}, {"ms", s.bestLap->ms}})
                                   : QJsonValue(QJsonValue::Null));
    return o;
}

QJsonObject LapObject(const LapRecord& r, const std::optional<int>& gap) {
    return QJsonObject{{"lap", r.lap},          {"ms", Ms(r.ms)},       {"sectors", MsArray(r.sectors)},
                       {"pos", r.pos},          {"gap_ms", Ms(gap)},    {"personal", r.personalBest},
                       {"overall", r.sessionBest}};
}

QJsonArray Pose(const CarView& c) { return QJsonArray{c.slot, c.x, c.y, c.heading, c.kmh}; }

// A car's values, one per field of CarFields. Every form a car takes comes
// from them: /api/state's objects, the full message's arrays under its
// field list, and a change's field-major rows (which compare them).
enum CarField {
    FSlot,
    FColour,
    FName,
    FCar,
    FLap,
    FBest,
    FGap,
    FPos,
    FFinished,
    FPose,
    FIntervalMs,
    FGapMs,
    FIntervalLaps,
    FGapLaps,
    FSectors,
    FBestSectors,
    CarFieldCount
};
constexpr std::array<const char*, CarFieldCount> CarFields = {
    "slot",     "colour", "name",        "car",    "lap",           "best",     "gap",     "pos",
    "finished", "pose",   "interval_ms", "gap_ms", "interval_laps", "gap_laps", "sectors", "best_sectors"};
using CarValues = std::array<QJsonValue, CarFieldCount>;

CarValues ValuesOf(const CarView& c) {
    return {c.slot,
            Q(c.colour),
            Q(c.name),
            Q(c.car),
            c.lap,
            Q(c.best),
            Q(c.gap),
            c.pos,
            c.finished,
            Pose(c),
            Ms(c.timing.intervalMs),
            Ms(c.timing.gapMs),
            c.timing.intervalLaps,
            c.timing.gapLaps,
            MsArray(c.timing.sectors),
            MsArray(c.timing.bestSectors)};
}

// In a change, these travel in "moves" (every update, for nearly every
// car) rather than as rows.
bool Moves(int field) { return field == FPose || (field >= FIntervalMs && field <= FGapLaps); }

// [slot, x, y, heading, km/h, interval ms, gap ms], with the laps behind
// the car ahead and the leader when either is not 0.
QJsonArray MoveArray(const CarView& c) {
    QJsonArray a = Pose(c);
    a.append(Ms(c.timing.intervalMs));
    a.append(Ms(c.timing.gapMs));
    if (c.timing.intervalLaps || c.timing.gapLaps) {
        a.append(c.timing.intervalLaps);
        a.append(c.timing.gapLaps);
    }
    return a;
}

// As an object, laps behind present only when there are any.
QJsonObject CarObject(const CarView& c) {
    const CarValues v = ValuesOf(c);
    QJsonObject o;
    for (int f = 0; f < CarFieldCount; ++f)
        if (!((f == FIntervalLaps || f == FGapLaps) && v[f].toInt() == 0)) o.insert(CarFields[f], v[f]);
    return o;
}

QJsonArray CarArray(const CarView& c) {
    QJsonArray a;
    for (const QJsonValue& v : ValuesOf(c)) a.append(v);
    return a;
}

QJsonArray EventsArray(const std::vector<EventLine>& lines) {
    QJsonArray a;
    for (const EventLine& e : lines) a.append(QJsonObject{{"seq", static_cast<qint64>(e.seq)}, {"text", Q(e.text)}});
    return a;
}

QByteArray Compact(const QJsonObject& o) { return QJsonDocument(o).toJson(QJsonDocument::Compact); }

}  // namespace

// ------------------------------------------------------------------ journal

std::uint64_t EventJournal::Add(const std::string& windows1252) {
    lines_.push_back(EventLine{next_, Windows1252ToUtf8(windows1252)});
    if (lines_.size() > Capacity) lines_.pop_front();
    return next_++;
}

std::vector<EventLine> EventJournal::Between(std::uint64_t after, std::uint64_t upTo, std::size_t limit) const {
    std::vector<EventLine> out;
    for (auto it = lines_.rbegin(); it != lines_.rend() && out.size() < limit; ++it) {
        if (it->seq <= after) break;
        if (it->seq <= upTo) out.push_back(*it);
    }
    return {out.rbegin(), out.rend()};
}

// ----------------------------------------------------------------- snapshot

namespace {

// Each row's timing, the field taken in the table's order (position, then
// slot).
void PutTiming(const RaceState& race, const Timing& timing, Snapshot& s) {
    std::vector<int> order(s.cars.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return s.cars[a].pos < s.cars[b].pos; });
    std::vector<std::string> ranked;
    for (const int slot : order) ranked.push_back(FieldText(race.Players[slot].Name, sizeof race.Players[slot].Name));
    const std::vector<CarTiming> standing = timing.Standing(ranked);
    const bool qualifying = race.RaceMode == rmQualify;
    auto best = [&](int slot) {
        const PlayerRecord& p = race.Players[slot];
        return std::int64_t{Hundredths(p.BestMin, p.BestSec, p.BestHund)} * 10;
    };
    for (std::size_t i = 0; i < order.size(); ++i) {
        CarView& c = s.cars[static_cast<std::size_t>(order[i])];
        c.timing = standing[i];
        if (qualifying) {
            // Ranked by best lap: the difference of the best laps, where
            // both drivers have one.
            c.timing = CarTiming{{}, {}, 0, 0, c.timing.sectors, c.timing.bestSectors};
            auto diff = [&](int ahead) -> std::optional<int> {
                const std::int64_t mine = best(order[i]), theirs = best(ahead);
                if (mine <= 0 || theirs <= 0) return std::nullopt;
                return static_cast<int>(std::clamp<std::int64_t>(mine - theirs, 0, INT32_MAX));
            };
            if (i > 0) {
                c.timing.intervalMs = diff(order[i - 1]);
                c.timing.gapMs = diff(order[0]);
            }
        }
        c.lapsCompleted = timing.LapsCompleted(ranked[i]);
        c.lastLap = timing.LastLap(ranked[i]);
        if (c.lastLap) c.lastLapGap = timing.GapAtLine(*c.lastLap);
    }
    s.session.bestSectors = timing.BestSectors();
    if (const auto& lap = timing.BestLapOfSession()) s.session.bestLap = BestLap{Windows1252ToUtf8(lap->name), lap->ms};
    s.timingAt = timing.Now();
}

}  // namespace

Snapshot TakeSnapshot(RaceState& race, std::int32_t pathNodeCount, std::int32_t finishNode, const Timing* timing) {
    ComputePositions(race, pathNodeCount, finishNode);
    const LeaderData leader = FindLeader(race);
    Snapshot s;
    s.cars.reserve(static_cast<std::size_t>(race.PlayerCount));
    for (int i = 0; i < race.PlayerCount; ++i) {
        const PlayerRecord& p = race.Players[i];
        CarView c;
        c.slot = i;
        c.name = Windows1252ToUtf8(FieldText(p.Name, sizeof p.Name));
        c.car = Windows1252ToUtf8(FieldText(p.Car, sizeof p.Car));
        c.lap = p.Lap;
        c.best = LapTimeText(p.BestMin, p.BestSec, p.BestHund);
        c.gap = TotalOrGapText(p, leader);
        c.pos = p.Position;
        c.finished = p.Finished != 0;
        // The newest sample: the page smooths between updates itself.
        if (p.SampleCount > 0 && p.SampleCount <= MaxSamples) {
            const CarSample& newest = p.Samples[p.SampleCount - 1];
            c.x = Round1(newest.X);
            c.y = Round1(newest.Y);
            c.heading = Round2(newest.Heading);
            c.kmh = static_cast<int>(std::lround(std::clamp(newest.Speed, 0.0f, 100000.0f)));
        }
        c.colour = ColourText(i);
        s.cars.push_back(std::move(c));
    }
    if (timing) PutTiming(race, *timing, s);
    s.session.server = Windows1252ToUtf8(StripColourCodes(race.ServerName, sizeof race.ServerName));
    s.session.track = FieldText(race.TrackCode, 6);
    s.session.mode = race.RaceMode == rmRace ? "race" : race.RaceMode == rmQualify ? "qualifying" : "";
    s.session.laps = static_cast<int>(std::min<std::uint32_t>(race.RaceLaps, 1000));
    s.session.minutes = static_cast<int>(std::min<std::uint32_t>(race.QualMinutes, 1000));
    return s;
}

// ----------------------------------------------------------------- messages

namespace {

QJsonObject Whole(const Snapshot& s, const EventJournal& journal, QJsonArray cars) {
    return QJsonObject{{"type", "full"},
                       {"session", SessionObject(s.session)},
                       {"cars", cars},
                       {"events", EventsArray(journal.Between(0, s.lastEvent, FullStateEvents))}};
}

// The session's keys whose values differ.
QJsonObject SessionChange(const SessionView& before, const SessionView& after) {
    const QJsonObject was = SessionObject(before), now = SessionObject(after);
    QJsonObject changed;
    for (auto it = now.begin(); it != now.end(); ++it)
        if (was.value(it.key()) != it.value()) changed.insert(it.key(), it.value());
    return changed;
}

}  // namespace

QJsonObject StateObject(const Snapshot& s, const EventJournal& journal) {
    QJsonArray cars;
    for (const CarView& c : s.cars) cars.append(CarObject(c));
    return Whole(s, journal, cars);
}

QByteArray FullMessage(const Snapshot& s, const EventJournal& journal) {
    QJsonArray fields, cars;
    for (const char* f : CarFields) fields.append(QLatin1String(f));
    for (const CarView& c : s.cars) cars.append(CarArray(c));
    QJsonObject o = Whole(s, journal, cars);
    o.insert("fields", fields);
    return Compact(o);
}

QByteArray ChangeMessage(const Snapshot& before, const Snapshot& after, const EventJournal& journal) {
    QJsonObject o{{"type", "change"}};
    if (!(before.session == after.session)) o.insert("session", SessionChange(before.session, after.session));
    if (before.cars.size() != after.cars.size()) o.insert("count", static_cast<int>(after.cars.size()));
    // Rows field by field, [slot, value, slot, value, ...]: when the leader
    // crosses the line every other gap text changes, and that is one list.
    std::array<QJsonArray, CarFieldCount> rows;
    QJsonArray moves, laps;
    for (const CarView& c : after.cars) {
        const auto k = static_cast<std::size_t>(c.slot);
        const CarValues now = ValuesOf(c);
        // A car new to the field gets every field; any other only the
        // fields that changed (an overtake is a position and a gap).
        const std::optional<CarValues> was =
            k < before.cars.size() ? std::optional(ValuesOf(before.cars[k])) : std::nullopt;
        bool moved = false;
        for (int f = FSlot + 1; f < CarFieldCount; ++f) {
            if (was && (*was)[f] == now[f]) continue;
            if (was && Moves(f)) {
                moved = true;
                continue;
            }
            rows[f].append(c.slot);
            rows[f].append(now[f]);
        }
        if (moved) moves.append(MoveArray(c));
        // A lap completed since: for the lap history and the race trace.
        if (was && c.lapsCompleted != before.cars[k].lapsCompleted && c.lastLap && c.name == before.cars[k].name) {
            QJsonObject lap = LapObject(*c.lastLap, c.lastLapGap);
            lap.insert("name", Q(c.name));
            laps.append(lap);
        }
    }
    QJsonObject changed;
    for (int f = 0; f < CarFieldCount; ++f)
        if (!rows[f].isEmpty()) changed.insert(CarFields[f], rows[f]);
    if (!changed.isEmpty()) o.insert("rows", changed);
    if (!moves.isEmpty()) o.insert("moves", moves);
    if (!laps.isEmpty()) o.insert("laps", laps);
    if (after.lastEvent > before.lastEvent)
        o.insert("events", EventsArray(journal.Between(before.lastEvent, after.lastEvent, EventJournal::Capacity)));
    if (o.size() == 1) return {};
    return Compact(o);
}

// -------------------------------------------------------------- lap history

std::optional<QByteArray> LapsMessage(const Timing& timing, const std::string& utf8Name, std::int64_t upTo) {
    auto lapsOf = [&](const std::string& name) -> std::optional<QJsonArray> {
        const auto laps = timing.LapsOf(name, upTo);
        if (!laps) return std::nullopt;
        QJsonArray a;
        for (const LapRecord& r : *laps) a.append(LapObject(r, timing.GapAtLine(r)));
        return a;
    };
    if (!utf8Name.empty()) {
        const auto laps = lapsOf(Utf8ToWindows1252(utf8Name));
        if (!laps) return std::nullopt;
        return QJsonDocument(*laps).toJson(QJsonDocument::Compact);
    }
    QJsonArray drivers;
    for (const std::string& name : timing.Drivers())
        drivers.append(QJsonObject{{"name", Q(Windows1252ToUtf8(name))}, {"laps", lapsOf(name).value_or(QJsonArray())}});
    return Compact(QJsonObject{{"drivers", drivers}});
}

// ---------------------------------------------------------------- send pace

std::int64_t SendPace::NextAllowed() const {
    std::int64_t next = due_ - (Burst - 1) * Spacing;
    if (recent_.size() >= static_cast<std::size_t>(MaxPerSecond)) next = std::max(next, recent_.front() + 1000);
    return next;
}

void SendPace::Sent(std::int64_t now) {
    due_ = std::max(due_, now) + Spacing;
    recent_.push_back(now);
    while (recent_.size() > static_cast<std::size_t>(MaxPerSecond)) recent_.pop_front();
}

// --------------------------------------------------------------- delay line

void DelayLine::Push(std::int64_t takenAt, Snapshot s) {
    held_.emplace_back(takenAt, std::move(s));
    if (held_.size() > Capacity) held_.pop_front();
}

std::optional<Snapshot> DelayLine::Release(std::int64_t now) {
    std::optional<Snapshot> due;
    while (!held_.empty() && held_.front().first + delay_ <= now) {
        due = std::move(held_.front().second);
        held_.pop_front();
    }
    return due;
}

std::optional<std::int64_t> DelayLine::NextDue() const {
    if (held_.empty()) return std::nullopt;
    return held_.front().first + delay_;
}

}  // namespace gs::live
