// Timing in depth from path nodes, fed as gridscope-live feeds it: car-info,
// race-start and result datagrams written byte by byte here, dispatched by
// the core's connection, each at a time the test gives. The cars drive
// scripted paths, so every node time, sector and lap is known; the track's
// finish node is not node 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Timing.h"
#include "connection/Connection.h"
#include "connection/RaceState.h"
#include "connection/ServerList.h"
#include "support/FakePlatform.h"

namespace gs::live {
namespace {

constexpr int Nodes = 600, FinishNode = 450;  // sectors end at nodes 50 and 250

// Where a car is at a time: a place along the race (nodes from the start of
// lap 1, 0 at the finish node) and how many laps its counter is off, or no
// datagram for it then.
struct Place {
    double place;
    int lapOffset = 0;
};
using Script = std::function<std::optional<Place>(std::int64_t t)>;

// Through piecewise-straight waypoints (time ms, place); stands before the
// first and after the last.
Script Waypoints(std::vector<std::pair<std::int64_t, double>> points) {
    return [points](std::int64_t t) -> std::optional<Place> {
        if (t <= points.front().first) return Place{points.front().second};
        for (std::size_t i = 1; i < points.size(); ++i)
            if (t <= points[i].first) {
                const auto [t0, p0] = points[i - 1];
                const auto [t1, p1] = points[i];
                return Place{p0 + (p1 - p0) * double(t - t0) / double(t1 - t0)};
            }
        return Place{points.back().second};
    };
}

class Rig {
public:
    Rig() { timing.SetTrack(Nodes, FinishNode); }

    void Send(std::int64_t at, const test::Bytes& d) {
        PlayerRecord before[MaxPlayers];
        std::copy(std::begin(race.Players), std::end(race.Players), before);
        const int count = race.PlayerCount;
        connection.ReceiveDatagram(d.data(), d.size());
        timing.AfterDatagram(std::string_view(reinterpret_cast<const char*>(d.data()), 3), at, race, before, count);
    }
    void Join(int slot, const std::string& name) {
        Send(0, test::PacketBuilder("NPL", 97).Text(28, name).Text(60, "XRT").U8(96, static_cast<std::uint8_t>(slot)));
    }
    void Start(std::int64_t at, int laps) { Send(at, test::PacketBuilder("RST", 6).U8(4, static_cast<std::uint8_t>(laps))); }
    void Finish(std::int64_t at, const std::string& name) {
        Send(at, test::PacketBuilder("RES", 103).Text(28, name).U8(96, 1).U8(100, 1));
    }
    // The car-info datagrams of a moment, eight cars to a datagram as a
    // server sends them, each car's node and lap as the server reports them
    // (the lap it is on, counted from 1). A datagram with a car that has
    // none is lost.
    void CarInfo(std::int64_t at, const std::vector<std::optional<Place>>& cars) {
        const int count = static_cast<int>(cars.size());
        for (int first = 0; first < count; first += 8) {
            const int n = std::min(8, count - first);
            test::PacketBuilder b("MCI", static_cast<std::size_t>(12 + 24 * n));
            b.U8(8, static_cast<std::uint8_t>(count)).U8(9, static_cast<std::uint8_t>(first));
            bool lost = false;
            for (int k = 0; k < n; ++k) {
                const auto& p = cars[static_cast<std::size_t>(first + k)];
                if (!p) {
                    lost = true;
                    break;
                }
                const int whole = static_cast<int>(std::floor(p->place));
                const std::size_t at = static_cast<std::size_t>(12 + 24 * k);
                b.U16(at, static_cast<std::uint16_t>(((whole % Nodes) + Nodes + FinishNode) % Nodes));
                b.U8(at + 2, static_cast<std::uint8_t>(int(std::floor(double(whole) / Nodes)) + 1 + p->lapOffset));
            }
            if (!lost) Send(at, b);
        }
    }
    // Every script's car every tenth of a second in [from, to].
    void Drive(std::int64_t from, std::int64_t to, const std::vector<Script>& cars,
               const std::function<void(std::int64_t)>& after = {}) {
        for (std::int64_t t = from; t <= to; t += 100) {
            std::vector<std::optional<Place>> places;
            for (const Script& car : cars) places.push_back(car(t));
            CarInfo(t, places);
            if (after) after(t);
        }
    }
    // The field in the core's standings order.
    std::vector<std::string> Ranked() const {
        std::vector<int> slots;
        for (int i = 0; i < race.PlayerCount; ++i) slots.push_back(i);
        std::stable_sort(slots.begin(), slots.end(),
                         [&](int a, int b) { return race.Players[a].Position < race.Players[b].Position; });
        std::vector<std::string> names;
        for (const int s : slots) names.push_back(race.Players[s].Name);
        return names;
    }
    std::vector<LapRecord> Laps(const std::string& name) const { return timing.LapsOf(name, INT64_MAX).value(); }

    test::FakeClock clock;
    test::FakeTimer packetTimer, keepAlive;
    test::FakeSocket socket;
    test::RecordingShell shell;
    RaceState race;
    ServerList servers;
    Connection connection{race, servers, ConnectionPorts{clock, packetTimer, keepAlive, socket, shell}};
    Timing timing;
};

// Two cars 1.25 s apart on the same nodes, sampled twice a second, and a
// third a lap and a second down. Sampled nodes tell when a car reached a
// node only to within the time it takes to pass one: 20 ms here (50 nodes a
// second; Bob is reported half a node short of where he is).
TEST(LiveTiming, IntervalsAndGapsAreTheTimesBetweenPassingTheSameNode) {
    Rig rig;
    rig.Join(0, "Ann");
    rig.Join(1, "Bob");
    rig.Join(2, "Cid");
    constexpr double speed = 0.05;  // nodes a millisecond
    auto ann = [&](std::int64_t t) { return 100 + speed * double(t); };
    auto bob = [&](std::int64_t t) { return ann(t - 1250); };
    auto cid = [&](std::int64_t t) { return ann(t) - Nodes - 50; };
    constexpr double NodeTime = 1 / speed;
    std::optional<int> firstBob;
    for (std::int64_t t = 14000; t <= 44000; t += 500) {
        rig.CarInfo(t, {Place{ann(t)}, Place{bob(t)}, Place{cid(t)}});
        const std::vector<CarTiming> s = rig.timing.Standing({"Ann", "Bob", "Cid"});
        if (t == 14000) firstBob = s[1].intervalMs;
        EXPECT_FALSE(s[0].intervalMs || s[0].gapMs) << "the leader has neither";
        // Bob passes nodes Ann was seen at from 15.3 s; Cid, further back,
        // from 27 s.
        if (t < 16000) continue;
        ASSERT_TRUE(s[1].intervalMs && s[1].gapMs) << t;
        EXPECT_NEAR(*s[1].intervalMs, 1250, NodeTime) << t;
        EXPECT_EQ(*s[1].gapMs, *s[1].intervalMs);
        EXPECT_EQ(s[1].intervalLaps, 0);
        if (t < 28000) continue;
        // Cid: 587.5 nodes behind Bob, a lap and 50 nodes behind Ann.
        ASSERT_TRUE(s[2].intervalMs && s[2].gapMs) << t;
        EXPECT_NEAR(*s[2].intervalMs, 587.5 * NodeTime, NodeTime) << t;
        EXPECT_EQ(s[2].intervalLaps, 0);
        EXPECT_NEAR(*s[2].gapMs, 650 * NodeTime, NodeTime) << t;
        EXPECT_EQ(s[2].gapLaps, 1) << "a lap down on the leader";
    }
    EXPECT_FALSE(firstBob) << "no interval before Bob reached a node Ann had passed";
}

// A race from a standing start: three laps of two cars whose sector times
// the waypoints decide (sampled ten times a second, every sampled place a
// whole node, so the times are exact), a finish, and a car driving on
// after it.
TEST(LiveTiming, SectorsLapsBestsAndHistoryOfARace) {
    Rig rig;
    rig.Join(0, "^1Ann");
    rig.Join(1, "Bob");
    const Script ann = Waypoints({{1000, 5},      {4900, 200},   {8900, 400},   {12900, 600},  {15400, 800},
                                  {19400, 1000},  {23400, 1200}, {27400, 1400}, {29900, 1600}, {34900, 1800},
                                  {40900, 2100}});
    const Script bob = Waypoints({{1000, 0},      {6000, 200},   {11000, 400},  {13500, 600},  {15500, 800},
                                  {18000, 1000},  {23000, 1200}, {28000, 1400}, {30500, 1600}, {35500, 1800}});
    rig.Drive(0, 900, {ann, bob});  // on the grid before the start
    rig.Start(1000, 3);
    std::vector<std::optional<int>> annSectorsAt15500;
    rig.Drive(1000, 34900, {ann, bob}, [&](std::int64_t t) {
        if (t == 15500) annSectorsAt15500 = rig.timing.Standing({"Ann", "Bob"})[0].sectors;
    });
    rig.Finish(34950, "^1Ann");
    rig.Drive(35000, 36000, {ann, bob});

    EXPECT_EQ(annSectorsAt15500, (std::vector<std::optional<int>>{2500})) << "this lap's sectors so far";
    struct Want {
        int ms;
        Sectors sectors;
        int pos;
        bool personal, overall;
        int gapAtLine;
    };
    auto check = [&](const std::string& name, const std::vector<Want>& want) {
        const std::vector<LapRecord> laps = rig.Laps(name);
        ASSERT_EQ(laps.size(), want.size()) << name;
        for (std::size_t i = 0; i < want.size(); ++i) {
            SCOPED_TRACE(name + " lap " + std::to_string(i + 1));
            EXPECT_EQ(laps[i].lap, int(i) + 1);
            EXPECT_EQ(laps[i].ms, want[i].ms);
            EXPECT_EQ(laps[i].sectors, want[i].sectors);
            EXPECT_EQ(*laps[i].sectors[0] + *laps[i].sectors[1] + *laps[i].sectors[2], *laps[i].ms);
            EXPECT_EQ(laps[i].pos, want[i].pos);
            EXPECT_EQ(laps[i].personalBest, want[i].personal);
            EXPECT_EQ(laps[i].sessionBest, want[i].overall);
            EXPECT_EQ(rig.timing.GapAtLine(laps[i]), want[i].gapAtLine);
        }
    };
    // Lap 1 from the start (the cars stood past the line); Bob's 9.5 s
    // second lap is the session's best before Ann's 10.5 s one is done.
    check("Ann", {{11900, {3900, 4000, 4000}, 1, true, true, 0},
                  {10500, {2500, 4000, 4000}, 2, true, false, 400},
                  {11500, {4000, 2500, 5000}, 1, false, false, 0}});
    check("Bob", {{12500, {5000, 5000, 2500}, 2, true, false, 600},
                  {9500, {2000, 2500, 5000}, 1, true, true, 0},
                  {12500, {5000, 2500, 5000}, 2, false, false, 600}});
    EXPECT_EQ(rig.timing.BestSectors(), (Sectors{2000, 2500, 2500}));
    EXPECT_EQ(rig.timing.BestLapOfSession(), (BestLap{"Bob", 9500}));
    const std::vector<CarTiming> s = rig.timing.Standing({"Ann", "Bob"});
    EXPECT_EQ(s[0].bestSectors, (Sectors{2500, 2500, 4000}));
    EXPECT_EQ(s[1].bestSectors, (Sectors{2000, 2500, 2500}));
    // Finished at the line, Ann drives on untimed; Bob's gap is measured
    // at his own nodes against her times there.
    EXPECT_EQ(rig.timing.LapsCompleted("Ann"), 3);
    EXPECT_EQ(s[1].gapMs, 600);
    // What a delayed page may see: the laps done by then.
    EXPECT_EQ(rig.timing.LapsOf("Ann", 20000)->size(), 1u);
    EXPECT_FALSE(rig.timing.LapsOf("Nobody", 20000));
    // A new session forgets it all.
    rig.Start(40000, 3);
    EXPECT_FALSE(rig.timing.LapsOf("Bob", INT64_MAX));
    EXPECT_FALSE(rig.timing.BestLapOfSession());
}

// A lap ends when a car passes from the last node before the finish node
// onto it. Two cars at 10 nodes a tenth of a second, one sampled on that
// last node each lap and one sampled on the finish node itself: every lap
// of both is recorded once, in order, with its 6 s.
TEST(LiveTiming, EveryLapEndsOnceWhereverTheSamplesFallAroundTheLine) {
    Rig rig;
    rig.Join(0, "Before");
    rig.Join(1, "On");
    rig.Drive(0, 40000, {[](std::int64_t t) { return std::optional<Place>(Place{9 + 0.1 * double(t)}); },
                         [](std::int64_t t) { return std::optional<Place>(Place{0.1 * double(t)}); }});
    for (const char* name : {"Before", "On"}) {
        const std::vector<LapRecord> laps = rig.Laps(name);
        ASSERT_EQ(laps.size(), 6u) << name;
        for (std::size_t i = 0; i < laps.size(); ++i) {
            EXPECT_EQ(laps[i].lap, int(i) + 1) << name;
            if (i > 0) {
                EXPECT_EQ(laps[i].ms, 6000) << name << " lap " << i + 1;
            }
        }
    }
}

// Samples not to be trusted, beside a steady car at 5 nodes a tenth of a
// second (12 s a lap): a car that reverses, one that loses a datagram and
// later jumps forward (a reset ahead), one whose datagrams stop for ten
// seconds, one whose lap counter turns a sample early and a sample late at
// the line, one put back to the pits half a lap behind, and one whose
// datagrams waited in the socket and are read in a burst.
TEST(LiveTiming, ReversingJumpsSilenceAndCountersOffByOneAreSafe) {
    Rig rig;
    auto steady = [](std::int64_t t) { return 100 + 0.05 * double(t); };
    const Script reverse = [&](std::int64_t t) -> std::optional<Place> {
        // At place 700 (lap 2), at 12 s: 20 nodes back in a second, a second
        // still, then on: 2.4 s lost in all.
        if (t < 12000) return Place{steady(t)};
        if (t < 13000) return Place{700 - 0.02 * double(t - 12000)};
        if (t < 14000) return Place{680.0};
        if (t < 14400) return Place{680 + 0.05 * double(t - 14000)};
        return Place{steady(t - 2400)};
    };
    const Script counter = [&](std::int64_t t) -> std::optional<Place> {
        // The counter turns one sample before the line and again one sample
        // after it: a lap ahead just before, a lap behind just after.
        const double p = steady(t) - 10;
        const int d = int(std::floor(p)) % Nodes;
        return Place{p, d >= Nodes - 5 ? 1 : d < 5 ? -1 : 0};
    };
    const Script pits = [&](std::int64_t t) -> std::optional<Place> {
        // From place 1000 (lap 2) back to place 610, the same lap.
        return Place{steady(t) < 1000 ? steady(t) : steady(t) - 390};
    };
    const Script jump = [&](std::int64_t t) -> std::optional<Place> {
        if (t == 14000) return std::nullopt;  // a lost datagram in lap 2
        // In lap 3's second sector: 130 nodes forward at once.
        return Place{steady(t) + (steady(t) > 1450 ? 130 : 0)};
    };
    const Script silent = [&](std::int64_t t) -> std::optional<Place> {
        if (t > 20000 && t < 30000) return std::nullopt;
        return Place{steady(t) - 20};
    };
    // Slots without a driver fill the datagrams up to the last two cars,
    // which travel in datagrams of their own.
    const Script nobody = [](std::int64_t) { return std::optional<Place>(Place{0}); };
    std::vector<Script> cars = {[&](std::int64_t t) { return std::optional<Place>(Place{steady(t)}); }, reverse,
                                counter, pits};
    cars.resize(8, nobody);
    cars.push_back(jump);
    cars.resize(16, nobody);
    cars.push_back(silent);
    // Queued: its datagrams from 20 to 20.3 s wait in the socket and are
    // read one after another at 20.3 s.
    auto queued = [&](std::int64_t t) { return Place{steady(t) - 30}; };
    cars.resize(24, nobody);
    cars.push_back([&](std::int64_t t) {
        return t >= 20000 && t <= 20300 ? std::nullopt : std::optional<Place>(queued(t));
    });
    const std::vector<std::pair<int, std::string>> drivers = {{0, "Steady"}, {1, "Reverse"}, {2, "Counter"},
                                                              {3, "Pits"},   {8, "Jump"},    {16, "Silent"},
                                                              {24, "Queued"}};
    for (const auto& [slot, name] : drivers) rig.Join(slot, name);
    bool silentUnknownWhileSilent = false;
    rig.Drive(0, 60000, cars, [&](std::int64_t t) {
        if (t == 20300)
            for (std::int64_t late = 20000; late <= 20300; late += 100) {
                std::vector<std::optional<Place>> places(cars.size(), Place{0});
                places.back() = queued(late);
                for (std::size_t i = 0; i + 1 < cars.size(); ++i) places[i] = cars[i](t);
                rig.CarInfo(20301 + (late - 20000) / 100, places);
            }
        for (const CarTiming& c : rig.timing.Standing(rig.Ranked())) {
            EXPECT_GE(c.intervalMs.value_or(0), 0) << t;
            EXPECT_GE(c.gapMs.value_or(0), 0) << t;
        }
        if (t == 25000) {
            const auto ranked = rig.Ranked();
            const auto at = std::find(ranked.begin(), ranked.end(), "Silent") - ranked.begin();
            const CarTiming c = rig.timing.Standing(ranked)[std::size_t(at)];
            silentUnknownWhileSilent = at > 0 && !c.intervalMs && !c.gapMs;
        }
    });

    // Steady: every lap from its first crossing, 12 s each.
    const auto steadyLaps = rig.Laps("Steady");
    ASSERT_GE(steadyLaps.size(), 4u);
    EXPECT_FALSE(steadyLaps[0].ms) << "lap 1 began before the car was seen";
    for (std::size_t i = 1; i < steadyLaps.size(); ++i) EXPECT_EQ(steadyLaps[i].ms, 12000) << i;

    // Reverse: its lap 2 holds the 3 s it lost (its nodes keep the times
    // they were first reached at), in sector 1 where it happened.
    const auto reverseLaps = rig.Laps("Reverse");
    ASSERT_GE(reverseLaps.size(), 3u);
    EXPECT_EQ(reverseLaps[1].ms, 14400);
    EXPECT_EQ(reverseLaps[1].sectors, (Sectors{6400, 4000, 4000}));
    EXPECT_EQ(reverseLaps[2].ms, 12000);

    // Jump: the lost datagram is interpolated over; the jump forward
    // leaves lap 3 and its second sector untimed, the sectors before and
    // after it timed, and lap 4 timed again.
    const auto jumpLaps = rig.Laps("Jump");
    ASSERT_GE(jumpLaps.size(), 4u);
    EXPECT_EQ(jumpLaps[1].ms, 12000);
    EXPECT_FALSE(jumpLaps[2].ms);
    EXPECT_EQ(jumpLaps[2].sectors[0], 4000);
    EXPECT_FALSE(jumpLaps[2].sectors[1]);
    EXPECT_TRUE(jumpLaps[2].sectors[2]);
    EXPECT_EQ(jumpLaps[3].ms, 12000);

    // Silent: no interval while its datagrams are missing; the laps they
    // were missing in (it crossed the line unseen) are untimed, the next
    // one is timed.
    EXPECT_TRUE(silentUnknownWhileSilent);
    const auto silentLaps = rig.Laps("Silent");
    ASSERT_EQ(silentLaps.size(), 5u);
    EXPECT_FALSE(silentLaps[1].ms);
    EXPECT_FALSE(silentLaps[2].ms);
    EXPECT_EQ(silentLaps[3].ms, 12000);

    // Queued: the nodes between samples read 1 ms apart get no time, so
    // the sector and lap they are in get none (rather than one too short).
    const auto queuedLaps = rig.Laps("Queued");
    ASSERT_GE(queuedLaps.size(), 3u);
    EXPECT_EQ(queuedLaps[1].sectors, (Sectors{4000, 4000, std::nullopt}));
    EXPECT_FALSE(queuedLaps[1].ms);
    EXPECT_EQ(queuedLaps[2].ms, 12000);

    // Counter: the counter's turns a sample off the line change nothing.
    const auto counterLaps = rig.Laps("Counter");
    ASSERT_EQ(counterLaps.size(), steadyLaps.size());
    for (std::size_t i = 1; i < counterLaps.size(); ++i) {
        EXPECT_EQ(counterLaps[i].lap, steadyLaps[i].lap);
        EXPECT_EQ(counterLaps[i].ms, 12000) << i;
    }

    // Pits: reported half a lap back, it is timed again from where it is
    // once that lasts; the lap it was put back in is untimed.
    const auto pitLaps = rig.Laps("Pits");
    ASSERT_GE(pitLaps.size(), 3u);
    EXPECT_EQ(pitLaps[0].lap, 1);
    EXPECT_FALSE(pitLaps[1].ms);
    EXPECT_EQ(pitLaps[2].ms, 12000);
    EXPECT_EQ(pitLaps[2].lap, 3);

    // A rename keeps the driver's history and best.
    const auto best = rig.timing.BestLapOfSession();
    ASSERT_TRUE(best);
    const std::size_t laps = rig.Laps(best->name).size();
    rig.timing.Rename(best->name, "Renamed");
    EXPECT_EQ(rig.timing.BestLapOfSession()->name, "Renamed");
    EXPECT_EQ(rig.Laps("Renamed").size(), laps);
    EXPECT_FALSE(rig.timing.LapsOf(best->name, INT64_MAX));
}

}  // namespace
}  // namespace gs::live
