// The simulated race on a generated oval: pace from curvature and car class,
// cars on the road and pointing where they go, sessions and their events in
// order, determinism, track changes.
#include "PeerTestSupport.h"

#include "PathFile.h"
#include "RaceSim.h"

#include <gtest/gtest.h>

#include <map>

using namespace peertest;
namespace rs = gs::raceserver;

namespace {

std::shared_ptr<const rs::SimTrack> OvalTrack(const std::string& code, const Oval& oval = Oval()) {
    TempDir dir;
    oval.Write(dir.path / "t.pth");
    return std::make_shared<rs::SimTrack>(code, gs::peers::ReadPathFile(dir.path / "t.pth"));
}

int ModelIndex(std::string_view name) {
    for (std::size_t i = 0; i < rs::kCarModels.size(); ++i)
        if (rs::kCarModels[i].name == name) return static_cast<int>(i);
    return -1;
}

double ToMetres(std::int32_t raw) { return raw / 65536.0; }

}  // namespace

TEST(SimTrack, CornersAreSlowerThanStraightsAndClassesDifferInPace) {
    const Oval oval;
    const auto track = OvalTrack("AS1", oval);
    EXPECT_NEAR(track->Length(), oval.Length(), oval.Length() * 0.01);
    const double finish = track->FinishDistance();
    const double midStraight = finish + oval.straight / 2 - 10 * oval.spacing;    // bottom straight, x near 0
    const double midCorner = oval.straight + std::numbers::pi * oval.radius / 2;  // apex of the right bend
    const int gti = ModelIndex("XF GTI"), v8 = ModelIndex("FORMULA V8"), uf1 = ModelIndex("UF1");
    ASSERT_GE(gti, 0);
    for (int model : {gti, v8, uf1}) {
        const double corner = track->ProfileSpeed(model, midCorner);
        const double grip = rs::kCarModels[static_cast<std::size_t>(model)].gripG;
        // On a 50 m radius the grip limit is sqrt(g * grip * r).
        EXPECT_NEAR(corner, std::sqrt(9.81 * grip * oval.radius), 2.5) << rs::kCarModels[model].name;
        EXPECT_GT(track->ProfileSpeed(model, midStraight), corner * 1.2) << rs::kCarModels[model].name;
    }
    EXPECT_GT(track->ProfileSpeed(v8, midCorner), track->ProfileSpeed(uf1, midCorner) * 1.3);
    EXPECT_GT(track->ProfileSpeed(v8, midStraight), track->ProfileSpeed(uf1, midStraight));
    // Braking starts before the bend: the speed falls over the straight's last metres.
    EXPECT_GT(track->ProfileSpeed(gti, oval.straight - 80), track->ProfileSpeed(gti, oval.straight - 5));
}

TEST(SimTrack, SparsePathsAndMissingRoadLimitsStillMakeADrivableTrack) {
    Oval sparse;
    sparse.spacing = 40;  // a node every 40 m: bends sit at the nodes
    sparse.half = 0;      // no road limits, outer limits of 3 m
    const auto track = OvalTrack("SO3", sparse);
    const int model = ModelIndex("XR GTR");
    const double apex = sparse.straight + std::numbers::pi * sparse.radius / 2;
    EXPECT_NEAR(track->ProfileSpeed(model, apex), std::sqrt(9.81 * 1.5 * sparse.radius), 4.0);
    EXPECT_NEAR(track->HalfWidth(apex), 3 - 1.2, 1e-6);
}

TEST(RaceSim, CarsStayOnTheRoadPointWhereTheyGoAndSlowForCorners) {
    const Oval oval;
    rs::SimOptions options;
    options.cars = 20;
    options.kinds = rs::SessionKinds::Race;
    options.laps = 30;
    options.seed = 7;
    rs::RaceSim sim(options, {OvalTrack("AS1", oval)});
    double cornerSum = 0, straightSum = 0;
    int cornerCount = 0, straightCount = 0, headingChecks = 0, headingGood = 0, overtakes = 0;
    auto previous = sim.CarInfos();
    // Progress along the race from lap and node; a pair whose order flips while
    // close together is an overtake.
    const long nodes = static_cast<long>(oval.Points().size());
    auto progress = [&](const rs::CarInfo& c) { return c.lap * nodes + (c.node - oval.finish + nodes) % nodes; };
    std::map<std::pair<std::size_t, std::size_t>, int> order;
    for (int step = 1; step <= 6000; ++step) {  // five minutes
        sim.AdvanceTo(step * rs::RaceSim::kStep);
        const auto now = sim.CarInfos();
        ASSERT_EQ(now.size(), previous.size());
        for (std::size_t i = 0; i < now.size(); ++i) {
            const double x = ToMetres(now[i].x), y = ToMetres(now[i].y);
            ASSERT_LE(oval.OffCentre(x, y), oval.half + 0.5) << "car " << i << " off the road at " << x << "," << y;
            EXPECT_NEAR(ToMetres(now[i].z), oval.z, 1e-3);
            ASSERT_LT(now[i].node, oval.Points().size());
            const double kmh = now[i].speed * 0.011;
            ASSERT_LE(kmh, 300.0);
            if (sim.Time() > 20 && oval.InCorner(x)) {
                cornerSum += kmh;
                ++cornerCount;
            } else if (sim.Time() > 20 && oval.OnStraightMiddle(x)) {
                straightSum += kmh;
                ++straightCount;
            }
            const double dx = x - ToMetres(previous[i].x), dy = y - ToMetres(previous[i].y);
            const double moved = std::hypot(dx, dy);
            if (moved > 0.5 && moved < 5.0) {  // 36 to 360 km/h: not a jump to the grid
                const double h = now[i].heading * 9.590688592259547e-5;
                const double along = (-std::sin(h) * dx + std::cos(h) * dy) / moved;
                ++headingChecks;
                headingGood += along > 0.9;
            }
        }
        for (std::size_t i = 0; i < now.size(); ++i)
            for (std::size_t j = 0; j < now.size(); ++j) {
                const long d = progress(now[i]) - progress(now[j]);
                if (d == 0 || std::abs(d) > 4) continue;
                int& was = order[{i, j}];
                overtakes += was < 0 && d > 0;
                was = d > 0 ? 1 : -1;
            }
        previous = now;
    }
    EXPECT_GT(overtakes, 10);
    ASSERT_GT(cornerCount, 100);
    ASSERT_GT(straightCount, 100);
    EXPECT_LT(cornerSum / cornerCount, 0.85 * straightSum / straightCount);
    // Headings follow the motion; the odd spinning car points elsewhere for a moment.
    EXPECT_GT(headingGood, headingChecks * 98 / 100) << headingGood << " of " << headingChecks;
    EXPECT_LT(headingGood, headingChecks) << "nobody spun in five minutes of twenty cars";
}

TEST(RaceSim, SessionsRunQualifyingThenARaceWithLapsResultsAndEnds) {
    rs::SimOptions options;
    options.cars = 8;
    options.laps = 3;
    options.qualifyMinutes = 2;
    options.kinds = rs::SessionKinds::Both;
    options.seed = 3;
    rs::RaceSim sim(options, {OvalTrack("KY2")});
    std::vector<Bytes> events;
    std::vector<int> countAtEvent;
    for (double t = 0; t < 900; t += 1) {
        sim.AdvanceTo(t);
        for (auto& e : sim.TakeEvents()) {
            events.push_back(e);
            countAtEvent.push_back(sim.PlayerCount());
        }
    }
    // Sessions: RST(0, 2 min) ... REN, then RST(3 laps, 0) ... REN, alternating.
    std::vector<std::pair<int, int>> starts;
    std::map<std::string, int> results;  // per session: driver -> RES count
    int sessions = 0, laps = 0;
    bool inSession = false;
    for (std::size_t i = 0; i < events.size(); ++i) {
        const Bytes& e = events[i];
        const std::string type = Type(e);
        if (type == "RST") {
            ASSERT_FALSE(inSession) << "race start without the previous race end";
            starts.push_back({static_cast<int>(U8(e, 4)), static_cast<int>(U8(e, 5))});
            inSession = true;
            results.clear();
        } else if (type == "REN") {
            ASSERT_TRUE(inSession);
            inSession = false;
            ++sessions;
            // Every driver of the session got exactly one result.
            EXPECT_EQ(static_cast<int>(results.size()), countAtEvent[i]);
            for (const auto& [name, n] : results) EXPECT_EQ(n, 1) << name;
        } else if (type == "LAP") {
            ASSERT_TRUE(inSession);
            ++laps;
            EXPECT_LT(U8(e, 88), static_cast<std::uint32_t>(countAtEvent[i]));
            const double seconds = U8(e, 84) * 60 + U8(e, 85) + U8(e, 86) / 100.0;
            // A lap of the 1.3 km oval: between 15 s (a very fast car) and 3 min.
            EXPECT_GT(seconds, 15.0);
            EXPECT_LT(seconds, 180.0);
            EXPECT_LT(U8(e, 85), 60u);
            EXPECT_LT(U8(e, 86), 100u);
            EXPECT_FALSE(Field(e, 52, 16).empty());
        } else if (type == "RES") {
            ASSERT_TRUE(inSession);
            results[StripCodes(Field(e, 28, 24))] += 1;
            EXPECT_GT(U8(e, 100) * 6000 + U8(e, 101) * 100 + U8(e, 102), 0u) << "every finisher has a best lap";
        } else if (type == "STA") {
            EXPECT_EQ(Field(e, 20, 6), "KY2");
            EXPECT_EQ(U8(e, 12), static_cast<std::uint32_t>(countAtEvent[i]));
        }
    }
    ASSERT_GE(sessions, 3);
    ASSERT_GE(starts.size(), 3u);
    EXPECT_EQ(starts[0], std::make_pair(0, 2));
    EXPECT_EQ(starts[1], std::make_pair(3, 0));
    EXPECT_EQ(starts[2], std::make_pair(0, 2));
    EXPECT_GT(laps, 3 * 8);
}

TEST(RaceSim, FieldChangesKeepNamesUniqueAndSlotsConsistent) {
    rs::SimOptions options;
    options.cars = 10;
    options.laps = 1;
    options.kinds = rs::SessionKinds::Race;
    options.seed = 11;
    Oval small;
    small.straight = 100;
    small.radius = 30;
    rs::RaceSim sim(options, {OvalTrack("FE1", small)});
    // Mirror the field from the events alone, as a spectator would.
    std::vector<std::string> names;
    for (int i = 0; i < sim.PlayerCount(); ++i) names.push_back(sim.DriverName(i));
    std::map<std::string, int> seen;
    for (double t = 0; t < 3000; t += 2) {
        sim.AdvanceTo(t);
        for (const auto& e : sim.TakeEvents()) {
            const std::string type = Type(e);
            ++seen[type];
            if (type == "PLL") {
                const auto it = std::find(names.begin(), names.end(), Field(e, 28, 24));
                ASSERT_NE(it, names.end());
                names.erase(it);
            } else if (type == "NPL") {
                ASSERT_EQ(U8(e, 96), names.size()) << "a new player takes the next free slot";
                names.push_back(Field(e, 28, 24));
            } else if (type == "CPR") {
                const auto it = std::find(names.begin(), names.end(), Field(e, 28, 24));
                ASSERT_NE(it, names.end());
                *it = Field(e, 52, 24);
            } else if (type == "REO") {
                const std::size_t n = U8(e, 61);
                ASSERT_EQ(n, names.size());
                std::vector<std::string> reordered;
                for (std::size_t i = 0; i < n; ++i) reordered.push_back(names.at(U8(e, 4 + 2 * i)));
                names = reordered;
            }
        }
        ASSERT_EQ(static_cast<int>(names.size()), sim.PlayerCount());
        for (int i = 0; i < sim.PlayerCount(); ++i)
            ASSERT_EQ(names[static_cast<std::size_t>(i)], sim.DriverName(i)) << "slot " << i;
        std::set<std::string> plain;
        for (const auto& n : names) {
            EXPECT_LE(n.size(), 24u);
            plain.insert(StripCodes(n));
        }
        ASSERT_EQ(plain.size(), names.size()) << "two drivers share a name once colour codes are removed";
        ASSERT_LE(sim.PlayerCount(), 10);
    }
    EXPECT_GT(seen["PLL"], 0);
    EXPECT_GT(seen["NPL"], 0);
    EXPECT_GT(seen["CPR"], 0);
    EXPECT_GT(seen["REO"], 0);
    EXPECT_GT(seen["MSO"], 0);
}

TEST(RaceSim, SameSeedSameRaceOtherSeedOtherRace) {
    auto run = [](std::uint32_t seed) {
        rs::SimOptions options;
        options.cars = 12;
        options.seed = seed;
        options.laps = 2;
        options.qualifyMinutes = 1;
        rs::RaceSim sim(options, {OvalTrack("AS1"), OvalTrack("BL1R")});
        std::vector<Bytes> all;
        for (double t = 0; t < 400; t += 0.5) {
            sim.AdvanceTo(t);
            for (auto& e : sim.TakeEvents()) all.push_back(e);
            for (auto& m : rs::BuildMci(sim.CarInfos())) all.push_back(m);
        }
        return all;
    };
    const auto a = run(5), b = run(5), c = run(6);
    EXPECT_EQ(a, b);
    EXPECT_NE(a, c);
}

TEST(RaceSim, NewSessionsMoveToAnotherTrackWithAStatePacketFirst) {
    rs::SimOptions options;
    options.cars = 4;
    options.laps = 1;
    options.kinds = rs::SessionKinds::Race;
    options.trackChange = 1.0;
    rs::RaceSim sim(options, {OvalTrack("AS1"), OvalTrack("WE2R", Oval{200, 40})});
    std::vector<std::string> order;
    for (double t = 0; t < 600; t += 1) {
        sim.AdvanceTo(t);
        for (const auto& e : sim.TakeEvents())
            if (Type(e) == "STA" || Type(e) == "RST")
                order.push_back(Type(e) == "STA" ? "STA " + Field(e, 20, 6) : "RST");
    }
    ASSERT_GE(order.size(), 4u);
    EXPECT_EQ(order[0], "STA AS1") << "the first session stays on the starting track";
    EXPECT_EQ(order[1], "RST");
    EXPECT_EQ(order[2], "STA WE2R");
    EXPECT_EQ(order[3], "RST");
    EXPECT_EQ(sim.TrackCode().substr(0, 2) == "AS" || sim.TrackCode() == "WE2R", true);
}

TEST(RaceSim, GivenNamesGoToTheFirstDriversAsTheirBytes) {
    rs::SimOptions options;
    options.cars = 4;
    // Windows-1252 bytes (euro sign, curly quotes), a name too long for the
    // wire's 24 bytes, and a repeat: the last two are passed over.
    options.names = {"^1Ren\x80 \x93Q\x94", "Ann", std::string(25, 'x'), "^2Ann"};
    rs::RaceSim sim(options, {OvalTrack("AS1")});
    ASSERT_EQ(sim.PlayerCount(), 4);
    EXPECT_EQ(sim.DriverName(0), "^1Ren\x80 \x93Q\x94");
    EXPECT_EQ(sim.DriverName(1), "Ann");
    for (int i = 2; i < 4; ++i) {
        EXPECT_LE(sim.DriverName(i).size(), 24u);
        EXPECT_NE(rs::StripColours(sim.DriverName(i)), "Ann");
    }
}
