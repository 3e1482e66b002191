// gridscope-live's model: snapshots of the core's race state, the messages
// built from them (with their size budgets), the event journal, the delay
// line and the track picture.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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

// A race of `n` players, all on lap 3, spread along the path; the name field
// holds raw wire bytes.
void Fill(RaceState& race, int n) {
    race.ResizePlayers(n);
    race.RaceMode = rmRace;
    race.RaceLaps = 5;
    std::memcpy(race.TrackCode, "BL1", 3);
    for (int i = 0; i < n; ++i) {
        char name[WireNameWidth] = {};
        std::snprintf(name, sizeof name, "^3Driver %02d Long Name X", i);
        race.SetPlayer(i, name, "XR GT TURBO");
        race.PushSample(i, CarSample{1234.567f + i, -987.654f - i, 1.23456f, 201.6f}, 100u + i, 3, 0);
    }
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
    for (int i = 0; i < 30; ++i) journal.Add("Driver " + std::to_string(i) + " finishes Lap 3 in 1:23.45 \x80");
    Snapshot a = TakeSnapshot(race, 1000, 0);
    a.lastEvent = journal.Last();

    const QByteArray full = FullMessage(a, journal);
    // The timing fields (interval, gap, sectors, best sectors: 80 bytes a
    // car even when empty) took a full state of 32 cars and 20 event lines
    // past the 8 KB it had kept to: docs/live.md has the figures.
    EXPECT_LT(full.size(), 10 * 1024) << "a full state for 32 cars";
    const QJsonObject f = Parse(full);
    EXPECT_EQ(f["type"].toString(), "full");
    EXPECT_EQ(f["cars"].toArray().size(), 32);
    const QJsonArray events = f["events"].toArray();
    ASSERT_EQ(events.size(), static_cast<int>(FullStateEvents));
    EXPECT_EQ(events.last().toObject()["seq"].toInt(), 30);
    EXPECT_EQ(events.last().toObject()["text"].toString(),
              QString::fromUtf8("Driver 29 finishes Lap 3 in 1:23.45 \u20ac"));

    EXPECT_TRUE(ChangeMessage(a, a, journal).isEmpty()) << "nothing changed, nothing sent";

    // Every car moves: poses only, under 2 KB.
    for (int i = 0; i < 32; ++i) race.PushSample(i, CarSample{-1234.5f - i, 987.25f + i, 6.2f, 250}, 120u + i, 3, 0);
    Snapshot b = TakeSnapshot(race, 1000, 0);
    b.lastEvent = a.lastEvent;
    const QByteArray moved = ChangeMessage(a, b, journal);
    EXPECT_LT(moved.size(), 2 * 1024) << "a change for 32 moving cars";
    QJsonObject m = Parse(moved);
    EXPECT_EQ(m["poses"].toArray().size(), 32);
    EXPECT_FALSE(m.contains("rows"));
    EXPECT_FALSE(m.contains("session"));
    const QJsonArray pose = m["poses"].toArray()[5].toArray();
    EXPECT_EQ(pose[0].toInt(), 5);
    EXPECT_DOUBLE_EQ(pose[1].toDouble(), -1239.5);
    EXPECT_DOUBLE_EQ(pose[2].toDouble(), 992.25);

    // A rename, a car gone, a session change and two new events.
    race.RenamePlayer("Driver 03 Long Name X", "^2New \x93Name\x94");
    race.ResizePlayers(31);
    race.RaceMode = rmQualify;
    journal.Add("one");
    journal.Add("two");
    Snapshot c = TakeSnapshot(race, 1000, 0);
    c.lastEvent = journal.Last();
    m = Parse(ChangeMessage(b, c, journal));
    EXPECT_EQ(m["count"].toInt(), 31);
    EXPECT_EQ(m["session"].toObject()["mode"].toString(), "qualifying");
    bool renamed = false;
    for (const auto& row : m["rows"].toArray())
        if (row.toObject()["slot"].toInt() == 3) {
            renamed = row.toObject()["name"].toString() == QString::fromUtf8("New \u201cName\u201d");
            EXPECT_FALSE(row.toObject().contains("car")) << "only what changed";
        }
    EXPECT_TRUE(renamed);
    ASSERT_EQ(m["events"].toArray().size(), 2);
    EXPECT_EQ(m["events"].toArray()[0].toObject()["text"].toString(), "one");

    // A new slot arrives with every field.
    race.ResizePlayers(32);
    race.SetPlayer(31, "Late", "RB4");
    Snapshot d = TakeSnapshot(race, 1000, 0);
    d.lastEvent = c.lastEvent;
    m = Parse(ChangeMessage(c, d, journal));
    const QJsonObject late = m["rows"].toArray().last().toObject();
    EXPECT_EQ(late["slot"].toInt(), 31);
    EXPECT_EQ(late["name"].toString(), "Late");
    EXPECT_TRUE(late.contains("colour"));
    EXPECT_TRUE(late.contains("pose"));
}

// The timing in the messages: named fields in the full state (null where
// unknown), [slot, interval, gap(, laps behind)] arrays and changed sectors
// in a change, each completed lap once, the session's bests, and the lap
// history as /api/laps gives it.
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
    for (const auto& car : f["cars"].toArray()) {
        const QJsonObject c = car.toObject();
        EXPECT_TRUE(c["interval_ms"].isNull() && c["gap_ms"].isNull()) << "nothing comparable yet";
        EXPECT_EQ(c["sectors"].toArray().size(), 0);
        EXPECT_EQ(c["best_sectors"].toArray(), (QJsonArray{QJsonValue(), QJsonValue(), QJsonValue()}));
        EXPECT_FALSE(c.contains("interval_laps"));
    }
    EXPECT_TRUE(f["session"].toObject()["best_lap"].isNull());

    drive(2100, 9000);
    Snapshot b = TakeSnapshot(race, 300, 100, &timing);
    const QJsonObject g = Parse(FullMessage(b, EventJournal()));
    std::map<int, QJsonObject> bySlot;
    for (const auto& car : g["cars"].toArray()) bySlot[car.toObject()["slot"].toInt()] = car.toObject();
    EXPECT_TRUE(bySlot[0]["interval_ms"].isNull()) << "the leader";
    EXPECT_EQ(bySlot[1]["interval_ms"].toInt(), 1000);
    EXPECT_EQ(bySlot[2]["interval_ms"].toInt(), 1000);
    EXPECT_EQ(bySlot[2]["gap_ms"].toInt(), 2000);
    EXPECT_EQ(bySlot[0]["best_sectors"].toArray(), (QJsonArray{1000, 1000, 1000}));
    const QJsonObject best = g["session"].toObject()["best_lap"].toObject();
    EXPECT_EQ(best["ms"].toInt(), 3000);
    EXPECT_EQ(g["session"].toObject()["best_sectors"].toArray(), (QJsonArray{1000, 1000, 1000}));

    // Car 0 crosses the line: its lap once, its sectors start again; the
    // other two move on and their intervals travel as arrays.
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
    for (const auto& row : m["rows"].toArray()) EXPECT_TRUE(row.toObject().contains("sectors"));
    for (const auto& t : m["timing"].toArray()) EXPECT_EQ(t.toArray().size(), 3) << "no laps behind to send";

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
