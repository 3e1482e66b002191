// gridscope-live's model: snapshots of the core's race state, the messages
// built from them (with their size budgets), the event journal, the delay
// line and the track picture.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <cstring>
#include <map>

#include "LiveModel.h"
#include "RaceFeed.h"
#include "Timing.h"
#include "common/Text.h"
#include "connection/RaceState.h"
#include "view/SceneText.h"
#include "view/Standings.h"

namespace gs::live {
namespace {

QJsonObject Parse(const QByteArray& text) { return QJsonDocument::fromJson(text).object(); }

// A race of `n` players with long names beyond ASCII ("Drïver NN “Löng”
// N€me": 23 bytes on the wire, 29 in UTF-8) round AS1's mesh (x -224 to 233,
// y -56 to 166) at `step`: the leader on lap 4, the others 25 nodes apart,
// from car 29 on a lap down; totals 1.37 s apart.
void Fill(RaceState& race, int n, int step = 0) {
    race.ResizePlayers(n);
    race.RaceMode = rmRace;
    race.RaceLaps = 20;
    std::memcpy(race.TrackCode, "AS1", 3);
    for (int i = 0; i < n; ++i) {
        char name[WireNameWidth] = {};
        std::snprintf(name, sizeof name, "^3Dr\xefver %02d \x93L\xf6ng\x94 N\x80me", i);
        race.SetPlayer(i, name, "XR GT TURBO");
        const double a = (i * 11 + step * 3) * 0.0196;
        race.PushSample(i,
                        CarSample{float(4.5 + 228.4 * std::cos(a)), float(55.1 + 110.7 * std::sin(a)),
                                  float(std::fmod(a + 1.5708, 6.2832)), 143.0f + i},
                        900u - 25u * i + 20u * step, i < 29 ? 4 : 3, 0);
        race.RecordLap(i, 1, 15, 10 + i, "XR GT TURBO");
        const int total = 22500 + 137 * i;
        race.Players[i].TotalMin = total / 6000;
        race.Players[i].TotalSec = total / 100 % 60;
        race.Players[i].TotalHund = total % 100;
    }
}

// Timing as a long race has it: intervals of up to 2.5 s (new ones with
// each `seed`), gaps growing down the field, two sectors of this lap and
// the best three, the lapped cars' laps behind.
void TimeField(Snapshot& s, int seed) {
    int gap = 0;
    for (CarView& c : s.cars) {
        const int i = c.slot, interval = 300 + (i * 397 + seed * 131) % 2200;
        gap += interval;
        c.timing.intervalMs = i ? std::optional(interval) : std::nullopt;
        c.timing.gapMs = i ? std::optional(gap) : std::nullopt;
        c.timing.gapLaps = i >= 29 ? 1 : 0;
        c.timing.sectors = {24000 + i * 37, 25000 + i * 53};
        c.timing.bestSectors = {23900 + i, 24900 + i, 25900 + i};
        c.lapsCompleted = i < 29 ? 3 : 2;
    }
    s.session.bestSectors = {23900, 24900, 25900};
    s.session.bestLap = BestLap{"Dr\xc3\xafver 00", 74700};
}

// The full message's cars read back into objects by its field list, as the
// page reads them.
std::vector<QJsonObject> DecodeCars(const QJsonObject& full) {
    const QJsonArray fields = full["fields"].toArray();
    std::vector<QJsonObject> cars;
    for (const auto& car : full["cars"].toArray()) {
        EXPECT_EQ(car.toArray().size(), fields.size()) << "a value for each field";
        QJsonObject o;
        for (int i = 0; i < fields.size() && i < car.toArray().size(); ++i) o.insert(fields[i].toString(), car[i]);
        cars.push_back(o);
    }
    return cars;
}

// One field of a change's rows, [slot, value, slot, value, ...], by slot.
std::map<int, QJsonValue> Column(const QJsonObject& change, const char* field) {
    const QJsonArray list = change["rows"].toObject()[field].toArray();
    EXPECT_EQ(list.size() % 2, 0) << field;
    std::map<int, QJsonValue> bySlot;
    for (int i = 0; i + 1 < list.size(); i += 2)
        EXPECT_TRUE(bySlot.emplace(list[i].toInt(), list[i + 1]).second) << field << ": car " << list[i].toInt();
    return bySlot;
}

std::map<int, QJsonArray> Moves(const QJsonObject& change) {
    std::map<int, QJsonArray> bySlot;
    for (const auto& m : change["moves"].toArray()) bySlot[m[0].toInt()] = m.toArray();
    return bySlot;
}

TEST(LiveSnapshot, RanksNamesAndTimesAsTheProgram) {
    RaceState race;
    race.ResizePlayers(3);
    race.RaceMode = rmRace;
    // Windows-1252: euro sign, curly quotes, u with diaeresis, colour codes.
    race.SetPlayer(0, "^1Ren\x80 \x93Q\x94 M\xfcller", "FZ50");
    race.SetPlayer(1, "Ann", "XRT");
    race.SetPlayer(2, "Bob", "XRT");
    race.PushSample(0, CarSample{10, 20, 1.5f, 100}, 50, 2, 0);
    race.PushSample(1, CarSample{11, 21, 0, 50.4f}, 80, 2, 0);
    race.PushSample(2, CarSample{12, 22, 0, 0}, 10, 3, 0);
    race.RecordLap(0, 1, 2, 3, "FZ50");
    race.Players[0].TotalMin = 3;
    race.Players[2].TotalMin = 2;
    race.Players[2].TotalSec = 58;

    const Snapshot s = TakeSnapshot(race, 200, 0);
    ASSERT_EQ(s.cars.size(), 3u);
    EXPECT_EQ(s.cars[0].name, "Ren\u20ac \u201cQ\u201d M\u00fcller");
    // Bob is a lap ahead, Ann further along than the first slot.
    EXPECT_EQ(s.cars[2].pos, 1);
    EXPECT_EQ(s.cars[1].pos, 2);
    EXPECT_EQ(s.cars[0].pos, 3);
    EXPECT_EQ(s.cars[0].best, "1:02.03");
    EXPECT_EQ(s.cars[2].gap, "2:58.00");
    EXPECT_EQ(s.cars[0].gap, "+1 Laps");
    EXPECT_EQ(s.cars[1].kmh, 50);
    EXPECT_DOUBLE_EQ(s.cars[0].heading, 1.5);
    const Rgb c = PlayerColour(1);
    char colour[8];
    std::snprintf(colour, sizeof colour, "#%02x%02x%02x", int(std::lround(c.r * 255)), int(std::lround(c.g * 255)),
                  int(std::lround(c.b * 255)));
    EXPECT_EQ(s.cars[1].colour, colour);
    EXPECT_EQ(s.session.mode, "race");

    // The positions are the program's own ranking, computed the same way.
    RaceState copy = race;
    ComputePositions(copy, 200, 0);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(s.cars[i].pos, copy.Players[i].Position);
}

TEST(LiveMessages, FullAndChangeCarryWhatChangedWithinTheirBudgets) {
    RaceState race;
    Fill(race, 32);
    EventJournal journal;
    for (int i = 0; i < 30; ++i)
        journal.Add(FieldText(race.Players[i].Name, WireNameWidth) + " finishes Lap 3 in 1:15." +
                    std::to_string(10 + i));
    Snapshot a = TakeSnapshot(race, 1000, 0);
    a.lastEvent = journal.Last();
    TimeField(a, 0);

    // 32 cars with long names and their timing, 20 event lines: under 8 KB.
    const QByteArray full = FullMessage(a, journal);
    EXPECT_LT(full.size(), 8 * 1024) << "a full state for 32 cars";
    EXPECT_TRUE(full.contains(
        R"("fields":["slot","colour","name","car","lap","best","gap","pos","finished","pose","interval_ms","gap_ms",)"
        R"("interval_laps","gap_laps","sectors","best_sectors"])"));
    const QJsonObject f = Parse(full);
    EXPECT_EQ(f["type"].toString(), "full");
    const QJsonArray events = f["events"].toArray();
    ASSERT_EQ(events.size(), static_cast<int>(FullStateEvents));
    EXPECT_EQ(events.last().toObject()["seq"].toInt(), 30);
    EXPECT_EQ(events.last().toObject()["text"].toString(),
              QString::fromUtf8("Dr\u00efver 29 \u201cL\u00f6ng\u201d N\u20acme finishes Lap 3 in 1:15.39"));
    // Its arrays, read by their field list, are /api/state's objects (laps
    // behind there only when not 0), and those hold the cars' values.
    const QJsonObject state = StateObject(a, journal);
    EXPECT_EQ(state["session"], f["session"]);
    EXPECT_EQ(state["events"], f["events"]);
    const QJsonArray objects = state["cars"].toArray();
    const std::vector<QJsonObject> decoded = DecodeCars(f);
    ASSERT_EQ(decoded.size(), 32u);
    ASSERT_EQ(objects.size(), 32);
    for (int i = 0; i < 32; ++i) {
        QJsonObject car = decoded[i];
        for (const char* laps : {"interval_laps", "gap_laps"})
            if (car[laps].toInt(-1) == 0) car.remove(laps);
        EXPECT_EQ(car, objects[i].toObject()) << "car " << i;
    }
    const QJsonObject lapped = objects[30].toObject();
    EXPECT_EQ(lapped["name"].toString(), QString::fromUtf8("Dr\u00efver 30 \u201cL\u00f6ng\u201d N\u20acme"));
    EXPECT_EQ(lapped["best"].toString(), "1:15.40");
    EXPECT_EQ(lapped["gap_laps"].toInt(), 1);
    EXPECT_EQ(lapped["interval_ms"].toInt(), 1210);
    EXPECT_EQ(lapped["sectors"].toArray(), (QJsonArray{25110, 26590}));
    EXPECT_EQ(lapped["pose"].toArray(), (QJsonArray{30, 229.0, 75.4, 1.76, 173})) << "x and y to 0.1";

    EXPECT_TRUE(ChangeMessage(a, a, journal).isEmpty()) << "nothing changed, nothing sent";

    // The largest change a race makes: the leader crosses the line with the
    // session's best lap, so every other gap text changes (the program's:
    // a total behind the leader's new one shows nothing), every car moves
    // with a new interval and gap, and the lap comes with its line.
    Fill(race, 32, 1);
    race.PushSample(0, race.Players[0].Samples[race.Players[0].SampleCount - 1], 5, 5, 0);
    race.RecordLap(0, 1, 14, 56, "XR GT TURBO");
    race.Players[0].TotalMin = 4;
    race.Players[0].TotalSec = 59;
    race.Players[0].TotalHund = 56;
    journal.Add(FieldText(race.Players[0].Name, WireNameWidth) + " finishes Lap 4 in 1:14.56");
    Snapshot b = TakeSnapshot(race, 1000, 0);
    b.lastEvent = journal.Last();
    TimeField(b, 1);
    CarView& leader = b.cars[0];
    ASSERT_EQ(leader.pos, 1);
    leader.timing.sectors = {};
    leader.timing.bestSectors = {23800, 24800, 25800};
    leader.lapsCompleted = 4;
    leader.lastLap = LapRecord{4, 74560, {23800, 24800, 25960}, 1, 0, {}, true, true};
    leader.lastLapGap = 0;
    b.session.bestSectors = {23800, 24800, 25900};
    b.session.bestLap = BestLap{leader.name, 74560};
    const QByteArray change = ChangeMessage(a, b, journal);
    EXPECT_LT(change.size(), 2 * 1024) << "the leader crossing the line: " << change.toStdString();
    QJsonObject m = Parse(change);
    const std::map<int, QJsonValue> gaps = Column(m, "gap");
    ASSERT_EQ(gaps.size(), 32u);
    for (int i = 1; i < 32; ++i) EXPECT_EQ(gaps.at(i).toString(), "") << "car " << i;
    EXPECT_TRUE(change.contains(R"("gap":[0,"4:59.56",1,"",2,"",3,"",)")) << "the leader's total, byte by byte";
    EXPECT_EQ(Column(m, "lap"), (std::map<int, QJsonValue>{{0, 5}}));
    EXPECT_EQ(Column(m, "best"), (std::map<int, QJsonValue>{{0, "1:14.56"}}));
    EXPECT_EQ(Column(m, "sectors"), (std::map<int, QJsonValue>{{0, QJsonArray()}}));
    EXPECT_EQ(Column(m, "best_sectors"), (std::map<int, QJsonValue>{{0, QJsonArray{23800, 24800, 25800}}}));
    // Each car once in the moves, with its new interval and gap.
    const std::map<int, QJsonArray> moves = Moves(m);
    ASSERT_EQ(moves.size(), 32u);
    for (const auto& [slot, move] : moves) EXPECT_EQ(move.size(), slot < 29 ? 7 : 9) << "laps behind, car " << slot;
    EXPECT_EQ(moves.at(17)[5].toInt(), 300 + (17 * 397 + 131) % 2200);
    EXPECT_TRUE(change.contains("[0,232.5,61.6,1.63,143,null,null]")) << "the leader, byte by byte";
    EXPECT_TRUE(change.contains("[31,209.2,104.2,2.03,174,1738,43504,0,1]")) << "a lapped car, byte by byte";
    // The session: its new bests only, byte by byte.
    EXPECT_TRUE(
        change.contains("\"session\":{\"best_lap\":{\"ms\":74560,\"name\":\"Dr\xc3\xafver 00 \xe2\x80\x9cL\xc3\xb6ng"
                        "\xe2\x80\x9d N\xe2\x82\xacme\"},\"best_sectors\":[23800,24800,25900]}"));
    ASSERT_EQ(m["laps"].toArray().size(), 1);
    EXPECT_EQ(m["laps"][0]["lap"].toInt(), 4);
    EXPECT_TRUE(m["laps"][0]["overall"].toBool());
    ASSERT_EQ(m["events"].toArray().size(), 1);
    EXPECT_EQ(m["events"][0]["seq"].toInt(), 31);

    // A rename, a car gone, a session change and two new events.
    race.RenamePlayer("Dr\xefver 03 \x93L\xf6ng\x94 N\x80me", "^2New \x93Name\x94");
    race.ResizePlayers(31);
    race.RaceMode = rmQualify;
    journal.Add("one");
    journal.Add("two");
    Snapshot c = TakeSnapshot(race, 1000, 0);
    c.lastEvent = journal.Last();
    m = Parse(ChangeMessage(b, c, journal));
    EXPECT_EQ(m["count"].toInt(), 31);
    EXPECT_EQ(m["session"].toObject()["mode"].toString(), "qualifying");
    EXPECT_FALSE(m["session"].toObject().contains("track")) << "only what changed";
    EXPECT_EQ(Column(m, "name").at(3).toString(), QString::fromUtf8("New \u201cName\u201d"));
    EXPECT_FALSE(Column(m, "car").contains(3)) << "only what changed";
    ASSERT_EQ(m["events"].toArray().size(), 2);
    EXPECT_EQ(m["events"].toArray()[0].toObject()["text"].toString(), "one");

    // A new slot arrives with every field, field by field.
    race.ResizePlayers(32);
    race.SetPlayer(31, "Late", "RB4");
    race.PushSample(31, CarSample{12.34f, -56.78f, 0.5f, 99}, 5, 1, 0);
    Snapshot d = TakeSnapshot(race, 1000, 0);
    d.lastEvent = c.lastEvent;
    const QByteArray joined = ChangeMessage(c, d, journal);
    m = Parse(joined);
    for (const char* field : {"colour", "name", "car", "lap", "best", "gap", "pos", "finished", "pose", "interval_ms",
                              "gap_ms", "interval_laps", "gap_laps", "sectors", "best_sectors"})
        EXPECT_EQ(Column(m, field).size(), 1u) << "the new car's " << field << ": " << joined.toStdString();
    EXPECT_TRUE(joined.contains(R"("name":[31,"Late"])") && joined.contains(R"("pose":[31,[31,12.3,-56.8,0.5,99]])"));
    EXPECT_FALSE(m.contains("moves")) << "its pose and timing are in its rows";
}

// The timing in the messages: fields of the full state (null where
// unknown), moves [slot, x, y, heading, km/h, interval, gap(, laps behind)]
// and changed sectors in a change, each completed lap once, the session's
// bests, and the lap history as /api/laps gives it.
TEST(LiveMessages, TimingTravelsInFullChangeAndLapMessages) {
    RaceState race;
    Fill(race, 3);
    race.SetPlayer(1, "Zo\xeb", "XRT");
    Timing timing;
    timing.SetTrack(300, 100);
    auto report = [&](std::int64_t at, int slot, double place) {
        const int whole = static_cast<int>(place);
        race.Players[slot].Node = static_cast<std::uint32_t>((whole % 300 + 100) % 300);
        race.Players[slot].Lap = whole / 300 + 1;
        ComputePositions(race, 300, 100);
        timing.Report(at, CarSampleReport{FieldText(race.Players[slot].Name, 32), int(race.Players[slot].Node),
                                          race.Players[slot].Lap, race.Players[slot].Position, false});
    };
    // Three cars at 0.1 nodes a ms, each a second behind the one before,
    // sampled every 100 ms: a lap takes 3 s.
    auto drive = [&](std::int64_t from, std::int64_t to) {
        for (std::int64_t t = from; t <= to; t += 100)
            for (int slot = 0; slot < 3; ++slot) report(t, slot, 50 + 0.1 * double(t - 1000 * slot));
    };
    drive(2000, 2000);
    Snapshot a = TakeSnapshot(race, 300, 100, &timing);
    const QJsonObject f = Parse(FullMessage(a, EventJournal()));
    for (const QJsonObject& c : DecodeCars(f)) {
        EXPECT_TRUE(c["interval_ms"].isNull() && c["gap_ms"].isNull()) << "nothing comparable yet";
        EXPECT_EQ(c["sectors"].toArray().size(), 0);
        EXPECT_EQ(c["best_sectors"].toArray(), (QJsonArray{QJsonValue(), QJsonValue(), QJsonValue()}));
        EXPECT_EQ(c["interval_laps"].toInt(-1), 0);
    }
    EXPECT_TRUE(f["session"].toObject()["best_lap"].isNull());

    drive(2100, 9000);
    Snapshot b = TakeSnapshot(race, 300, 100, &timing);
    const QJsonObject g = Parse(FullMessage(b, EventJournal()));
    std::map<int, QJsonObject> bySlot;
    for (const QJsonObject& car : DecodeCars(g)) bySlot[car["slot"].toInt()] = car;
    EXPECT_TRUE(bySlot[0]["interval_ms"].isNull()) << "the leader";
    EXPECT_EQ(bySlot[1]["interval_ms"].toInt(), 1000);
    EXPECT_EQ(bySlot[2]["interval_ms"].toInt(), 1000);
    EXPECT_EQ(bySlot[2]["gap_ms"].toInt(), 2000);
    EXPECT_EQ(bySlot[0]["best_sectors"].toArray(), (QJsonArray{1000, 1000, 1000}));
    const QJsonObject best = g["session"].toObject()["best_lap"].toObject();
    EXPECT_EQ(best["ms"].toInt(), 3000);
    EXPECT_EQ(g["session"].toObject()["best_sectors"].toArray(), (QJsonArray{1000, 1000, 1000}));

    // Car 0 crosses the line: its lap once, its sectors start again; the
    // other two move on and their intervals travel in their moves.
    drive(9100, 9600);
    Snapshot c = TakeSnapshot(race, 300, 100, &timing);
    const QJsonObject m = Parse(ChangeMessage(b, c, EventJournal()));
    const QJsonArray laps = m["laps"].toArray();
    ASSERT_FALSE(laps.isEmpty());
    const QJsonObject lap = laps[0].toObject();
    EXPECT_TRUE(lap.contains("name") && lap.contains("gap_ms") && lap.contains("pos"));
    EXPECT_EQ(lap["ms"].toInt(), 3000);
    EXPECT_EQ(lap["sectors"].toArray(), (QJsonArray{1000, 1000, 1000}));
    EXPECT_TRUE(Parse(ChangeMessage(c, c, EventJournal())).isEmpty()) << "a lap goes once";
    for (const QString& field : m["rows"].toObject().keys())
        for (const auto& [slot, value] : Column(m, field.toLatin1().constData()))
            EXPECT_TRUE(Column(m, "sectors").contains(slot)) << field.toStdString() << " of car " << slot;
    for (const auto& [slot, move] : Moves(m)) EXPECT_EQ(move.size(), 7) << "no laps behind to send";

    // The history: one driver's laps (names as UTF-8), or every driver's.
    const auto zoe = LapsMessage(timing, "Zo\u00eb", timing.Now());
    ASSERT_TRUE(zoe);
    const QJsonArray history = QJsonDocument::fromJson(*zoe).array();
    ASSERT_GE(history.size(), 2);
    EXPECT_EQ(history[1].toObject()["lap"].toInt(), 2);
    EXPECT_EQ(history[1].toObject()["ms"].toInt(), 3000);
    EXPECT_EQ(history[1].toObject()["pos"].toInt(), 2);
    EXPECT_EQ(history[1].toObject()["gap_ms"].toInt(), 1000);
    EXPECT_EQ(QJsonDocument::fromJson(*LapsMessage(timing, "Zo\u00eb", 3000)).array().size(), 0) << "not yet";
    EXPECT_FALSE(LapsMessage(timing, "Nobody", timing.Now()));
    const QJsonObject all = Parse(*LapsMessage(timing, "", timing.Now()));
    EXPECT_EQ(all["drivers"].toArray().size(), 3);
    EXPECT_EQ(all["drivers"].toArray()[1].toObject()["name"].toString(), QString::fromUtf8("Zo\u00eb"));
}

// The stream's pace: a message as soon as it is due while the stream is
// slower than twenty a second, two close together, never more than twenty
// in a second, and a faster source spread evenly.
TEST(LiveJournalAndDelay, SendPaceLetsUpdatesGoAtOnceAndBoundsTheRate) {
    SendPace pace;
    EXPECT_LE(pace.NextAllowed(), 0);
    pace.Sent(1000);
    EXPECT_LE(pace.NextAllowed(), 1005) << "an update close after another is not held back";
    pace.Sent(1005);
    EXPECT_EQ(pace.NextAllowed(), 1050) << "the third waits for the pace";
    // Ten a second for a while: each goes at once.
    std::int64_t t = 2000;
    for (int i = 0; i < 50; ++i, t += 100) {
        EXPECT_LE(pace.NextAllowed(), t);
        pace.Sent(t);
    }
    // As fast as allowed for five seconds.
    std::vector<std::int64_t> sent;
    for (t = 10000; t < 15000; ++t)
        if (pace.NextAllowed() <= t) {
            pace.Sent(t);
            sent.push_back(t);
        }
    for (std::size_t i = SendPace::MaxPerSecond; i < sent.size(); ++i)
        EXPECT_GE(sent[i] - sent[i - SendPace::MaxPerSecond], 1000) << "more than twenty in a second";
    EXPECT_GE(sent.size(), 5u * SendPace::MaxPerSecond - 2);
    for (std::size_t i = 2; i < sent.size(); ++i) EXPECT_GE(sent[i] - sent[i - 2], SendPace::Spacing) << "bunched";
}

TEST(LiveJournalAndDelay, BoundedJournalAndSnapshotsReleasedOnTime) {
    EventJournal journal;
    for (std::size_t i = 0; i < EventJournal::Capacity + 10; ++i) journal.Add("line " + std::to_string(i + 1));
    EXPECT_EQ(journal.Last(), EventJournal::Capacity + 10);
    EXPECT_TRUE(journal.Between(0, 5, 100).empty()) << "the oldest lines are gone";
    const auto some = journal.Between(100, 103, 100);
    ASSERT_EQ(some.size(), 3u);
    EXPECT_EQ(some.front().seq, 101u);
    EXPECT_EQ(some.back().text, "line 103");
    EXPECT_EQ(journal.Between(0, journal.Last(), 2).back().seq, journal.Last());

    DelayLine line(3000);
    EXPECT_FALSE(line.NextDue());
    for (int t = 0; t < 5; ++t) {
        Snapshot s;
        s.lastEvent = static_cast<std::uint64_t>(t);
        line.Push(1000 + 100 * t, s);
    }
    EXPECT_EQ(*line.NextDue(), 4000);
    EXPECT_FALSE(line.Release(3999)) << "nothing before its time";
    auto due = line.Release(4150);
    ASSERT_TRUE(due);
    EXPECT_EQ(due->lastEvent, 1u) << "the newest of those due";
    EXPECT_EQ(line.Held(), 3u);
    EXPECT_EQ(*line.NextDue(), 4200);
    EXPECT_EQ(line.Release(10000)->lastEvent, 4u);
    EXPECT_EQ(line.Held(), 0u);

    DelayLine full(1);
    for (std::size_t i = 0; i < DelayLine::Capacity + 7; ++i) full.Push(static_cast<std::int64_t>(i), Snapshot{});
    EXPECT_EQ(full.Held(), DelayLine::Capacity);
    EXPECT_EQ(*full.NextDue(), 8) << "the oldest were dropped";
}

std::uint32_t U32(const QByteArray& b, int at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(b[at + i]);
    return v;
}
float F32(const QByteArray& b, int at) {
    const std::uint32_t bits = U32(b, at);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}
int U16(const QByteArray& b, int at) {
    return static_cast<std::uint8_t>(b[at]) | (static_cast<std::uint8_t>(b[at + 1]) << 8);
}

TEST(LiveTrackPicture, FlatTrianglesInMeshOrderWithBoundsAndColours) {
    // Two objects: a ground triangle, a wall (no area from above) and a
    // second ground triangle in the other object.
    const MeshPoint ground[] = {{0, 0, 0, 1, 0, 0}, {100, 0, 0, 0, 1, 0}, {0, 50, 0, 0, 0, 1}, {0, 0, 9, 1, 1, 1}};
    const MeshTriangle groundTris[] = {{.b = 1, .c = 2, .a = 0}, {.b = 3, .c = 0, .a = 0}};
    const MeshPoint kerb[] = {{-20, 10, 0, 1, 1, 1}, {40, 10, 1, 1, 1, 1}, {40, 30, 1, 0.5f, 0.5f, 0.5f}};
    const MeshTriangle kerbTris[] = {{.b = 1, .c = 0, .a = 2}};
    TrackMesh mesh;
    MeshObject a;
    a.PointCount = 4;
    a.TriangleCount = 2;
    a.Points = ground;
    a.Triangles = groundTris;
    MeshObject b;
    b.PointCount = 3;
    b.TriangleCount = 1;
    b.Points = kerb;
    b.Triangles = kerbTris;
    mesh.Objects = {a, b};

    const QByteArray p = TrackPicture(mesh);
    ASSERT_EQ(p.size(), 28 + 2 * static_cast<int>(TrackPictureTriangleSize));
    EXPECT_EQ(p.left(8), "GSTRACK2");
    EXPECT_EQ(U32(p, 8), 2u) << "the wall is left out";
    EXPECT_FLOAT_EQ(F32(p, 12), -20);
    EXPECT_FLOAT_EQ(F32(p, 16), 0);
    EXPECT_FLOAT_EQ(F32(p, 20), 100);
    EXPECT_FLOAT_EQ(F32(p, 24), 50);
    // First triangle: (0,0) (100,0) (0,50) as fractions of 120 x 50.
    EXPECT_NEAR(U16(p, 28), 10922.5, 0.5);  // 20/120 of 65535
    EXPECT_EQ(U16(p, 30), 0);
    EXPECT_EQ(U16(p, 32), 65535);
    EXPECT_EQ(U16(p, 34), 0);
    EXPECT_NEAR(U16(p, 36), 10922.5, 0.5);
    EXPECT_EQ(U16(p, 38), 65535);
    EXPECT_EQ(static_cast<std::uint8_t>(p[40]), 85);  // the mean of red, green and blue points
    EXPECT_EQ(static_cast<std::uint8_t>(p[41]), 85);
    EXPECT_EQ(static_cast<std::uint8_t>(p[42]), 85);
    // Second, from the second object, in its own point order.
    EXPECT_NEAR(U16(p, 43), 32767.5, 0.5);
    EXPECT_NEAR(U16(p, 45), 39321, 1);
    EXPECT_EQ(U16(p, 51), 0);
    EXPECT_NEAR(static_cast<std::uint8_t>(p[55]), 212.5, 0.5);  // (1 + 1 + 0.5) / 3
}

}  // namespace
}  // namespace gs::live
