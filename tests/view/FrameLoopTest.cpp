#include <gtest/gtest.h>

#include <cmath>
#include <map>

#include "common/Platform.h"
#include "common/Settings.h"
#include "connection/RaceState.h"
#include "track/TrackData.h"
#include "view/FrameLoop.h"

namespace gs {
namespace {

class ScriptedKeys : public KeyState {
public:
    std::map<int, bool> down;
    bool active = true;
    bool Pressed(int key) override { return down.count(key) && down[key]; }
    bool WindowActive() const override { return active; }
};

void Queue(PlayerRecord& p, std::initializer_list<CarSample> samples) {
    p.SampleCount = 0;
    for (const CarSample& s : samples) p.Samples[p.SampleCount++] = s;
}

TEST(Smoothing, OffTakesElementOneOnceThreeAreQueued) {
    RaceState race;
    race.ResizePlayers(2);
    Queue(race.Players[0], {{0, 0, 0, 10}, {1, 2, 0.5f, 20}, {2, 4, 1, 30}});
    Queue(race.Players[1], {{5, 5, 0, 0}, {6, 6, 0, 0}});
    race.Players[1].DrawX = 99;
    SmoothPositions(race, 5, false);
    EXPECT_EQ(race.Players[0].DrawX, 1);
    EXPECT_EQ(race.Players[0].DrawY, 2);
    EXPECT_EQ(race.Players[0].DrawHeading, 0.5f);
    EXPECT_EQ(race.Players[0].DrawSpeed, 20);
    EXPECT_EQ(race.Players[1].DrawX, 99);  // two samples: pose kept
}

TEST(Smoothing, OnNeedsFourSamplesAndFollowsTheParabola) {
    RaceState race;
    race.ResizePlayers(1);
    PlayerRecord& p = race.Players[0];
    Queue(p, {{0, 0, 0, 0}, {1, 0, 0, 0}, {2, 0, 0, 0}});
    p.DrawX = -7;
    SmoothPositions(race, 5, true);
    EXPECT_EQ(p.DrawX, -7);  // three samples: unchanged
    Queue(p, {{0, 0, 0, 100}, {1, 0, 0, 110}, {2, 0, 0, 130}, {3, 0, 0, 0}});
    SmoothPositions(race, 5, true);
    EXPECT_FLOAT_EQ(p.DrawX, 1.5f);
    EXPECT_DOUBLE_EQ(Parabola(100, 110, 130, 5), 5 * 5 * 0.01 * 5 + 15 * 5 * 0.1 + 110);
    EXPECT_FLOAT_EQ(p.DrawSpeed, static_cast<float>(Parabola(100, 110, 130, 5)));
}

TEST(Smoothing, JumpsAreNotSmoothedPerAxis) {
    RaceState race;
    race.ResizePlayers(1);
    PlayerRecord& p = race.Players[0];
    Queue(p, {{0, 0, 0, 0}, {0, 1, 0, 0}, {20, 2, 0, 0}, {0, 0, 0, 0}});
    SmoothPositions(race, 5, true);
    EXPECT_EQ(p.DrawX, 0);
    EXPECT_FLOAT_EQ(p.DrawY, 1.5f);
}

TEST(Smoothing, HeadingsUnwrapAcrossTheFullTurn) {
    RaceState race;
    race.ResizePlayers(1);
    PlayerRecord& p = race.Players[0];
    Queue(p, {{0, 0, 6.2f, 0}, {0, 0, 0.1f, 0}, {0, 0, 0.3f, 0}, {0, 0, 0, 0}});
    SmoothPositions(race, 10, true);  // s = 1: exactly C after unwrapping
    EXPECT_NEAR(p.DrawHeading, 0.3 + 6.2831853076, 1e-5);
    SmoothPositions(race, 0, true);
    EXPECT_NEAR(p.DrawHeading, 0.1 + 6.2831853076, 1e-5);
    Queue(p, {{0, 0, 0.1f, 0}, {0, 0, 6.2f, 0}, {0, 0, 6.1f, 0}, {0, 0, 0, 0}});
    SmoothPositions(race, 0, true);  // A below B: A moves up a turn
    EXPECT_NEAR(p.DrawHeading, 6.2, 1e-5);
}

TEST(FrameTime, FiftyMillisecondUnitsSinceTheStep) {
    SampleClock clock;
    clock.TicksPer10ms = 10000;
    clock.Base = 1000000;
    clock.Now = 1000000 + 250000;  // 250 ms
    EXPECT_DOUBLE_EQ(FrameTimeParameter(clock), 5.0);
}

class CameraKeys : public ::testing::Test {
protected:
    Camera camera;
    RaceState race;
    Settings settings;
    ScriptedKeys keys;
    void SetUp() override { settings.DesiredFps = 20; }
    void Ticks(int n) {
        for (int i = 0; i < n; ++i) PollCameraKeys(camera, race, settings, keys);
    }
};

TEST_F(CameraKeys, PageUpLowersTheEyeToTheBound) {
    keys.down[vk::PageUp] = true;
    Ticks(19);
    EXPECT_FLOAT_EQ(camera.CameraDistance, 24);
    Ticks(1);
    EXPECT_FLOAT_EQ(camera.CameraDistance, 20);
    Ticks(5);
    EXPECT_FLOAT_EQ(camera.CameraDistance, 20);
    camera.CameraDistance = 21;
    Ticks(1);
    EXPECT_FLOAT_EQ(camera.CameraDistance, 17);
    keys.down[vk::PageUp] = false;
    keys.down[vk::Subtract] = true;
    camera.CameraDistance = 499;
    Ticks(2);
    EXPECT_FLOAT_EQ(camera.CameraDistance, 503);
}

TEST_F(CameraKeys, StepsScaleWithTheFrameRateAndZeroMeansTwenty) {
    settings.DesiredFps = 40;
    keys.down[vk::Up] = true;
    keys.down[vk::Right] = true;
    Ticks(1);
    EXPECT_FLOAT_EQ(camera.CameraY, 1);
    EXPECT_FLOAT_EQ(camera.CameraX, 1);
    settings.DesiredFps = 0;
    keys.down[vk::Shift] = true;
    Ticks(1);
    EXPECT_FLOAT_EQ(camera.CameraY, 3);
    EXPECT_FLOAT_EQ(camera.CameraX, 1);  // Shift turns instead of panning
    EXPECT_FLOAT_EQ(camera.CameraRotation, 1);
    EXPECT_EQ(settings.DesiredFps, 0);
}

TEST_F(CameraKeys, TogglesOnEveryThirdTickAndTabWalksTheField) {
    keys.down[vk::Tab] = true;
    race.PlayerCount = 2;
    Ticks(2);
    EXPECT_EQ(race.FollowIndex, -1);
    Ticks(1);
    EXPECT_EQ(race.FollowIndex, 0);
    camera.CameraRotation = 33;
    Ticks(3);
    EXPECT_EQ(race.FollowIndex, 1);
    EXPECT_EQ(camera.CameraRotation, 0);
    Ticks(3);
    EXPECT_EQ(race.FollowIndex, -1);
    keys.down[vk::Shift] = true;
    race.PlayerCount = 3;
    Ticks(3);
    EXPECT_EQ(race.FollowIndex, 2);
    race.FollowIndex = 0;
    Ticks(3);
    EXPECT_EQ(race.FollowIndex, -1);
    race.PlayerCount = 0;
    keys.down[vk::Shift] = false;
    Ticks(3);
    EXPECT_EQ(race.FollowIndex, -1);
}

TEST_F(CameraKeys, NothingWhileInactiveButTheDividerCounts) {
    keys.active = false;
    keys.down[vk::N] = true;
    keys.down[vk::Up] = true;
    Ticks(5);
    EXPECT_EQ(settings.ShowNames, 0);
    EXPECT_EQ(camera.CameraY, 0);
    keys.active = true;
    Ticks(1);  // the first active tick polls the toggles at once
    EXPECT_EQ(settings.ShowNames, 1);
}

// A frame's changes before it is drawn: the camera follows, the log loses
// one line past thirteen, the page timer advances, and the players are
// ranked, the leader taken from that ranking.
TEST(FrameAdvance, FollowTrimPageAndRankInOneStep) {
    RaceState race;
    race.RaceMode = rmRace;
    race.ResizePlayers(2);
    race.Players[0].Lap = 3;
    race.Players[1].Lap = 5;
    race.Players[1].DrawX = 40, race.Players[1].DrawY = -7;
    race.FollowIndex = 1;
    for (int i = 0; i < 15; ++i) race.AddMessage("line %d", i);
    TrackData track;
    track.PathNodeCount = 300;
    Camera camera;
    float pageTimer = 3990;

    const FramePlan plan = AdvanceFrame(race, camera, track, pageTimer, 50);
    EXPECT_FLOAT_EQ(camera.CameraX, 40);
    EXPECT_FLOAT_EQ(camera.CameraY, -7);
    EXPECT_EQ(race.Log.Size(), 14u);
    EXPECT_EQ(race.Log.Oldest(), "line 1");
    EXPECT_FLOAT_EQ(pageTimer, 4040);
    EXPECT_EQ(plan.page.first, 0);  // two players: the second page starts at 0 too
    EXPECT_EQ(race.Players[1].Position, 1);
    EXPECT_EQ(race.Players[0].Position, 2);
    EXPECT_EQ(plan.leader.lap, 5);

    race.FollowIndex = 2;  // past the last player: the camera stays
    AdvanceFrame(race, camera, track, pageTimer, 50);
    EXPECT_FLOAT_EQ(camera.CameraX, 40);
    EXPECT_EQ(race.Log.Size(), 13u);
    AdvanceFrame(race, camera, track, pageTimer, 50);
    EXPECT_EQ(race.Log.Size(), 13u);
}

TEST(Angles, VectorAngleAndItsDegenerateCases) {
    const double down[3] = {0, 0, -1};
    const double side[3] = {1, 0, -1};
    const double zero[3] = {0, 0, 0};
    EXPECT_NEAR(VectorAngle(side, down), 45 * 57.2957 / (180 / M_PI), 1e-9);
    EXPECT_EQ(VectorAngle(down, down), 0.0);
    EXPECT_EQ(VectorAngle(zero, down), 0.0);
}

class Visibility : public ::testing::Test {
protected:
    TrackMesh mesh;
    Camera camera;
    void Object(float x, float y, float z, float r) {
        MeshObject o;
        o.CentreX = x;
        o.CentreY = y;
        o.CentreZ = z;
        o.Radius = r;
        mesh.Objects.push_back(o);
    }
};

TEST_F(Visibility, ConesAndSizeCut) {
    Object(0, 0, 0, 0.4f);   // below the eye, just large enough
    Object(0, 0, 0, 0.39f);  // too small at height 100
    Object(100, 0, 0, 50);   // 45 degrees off: beyond the 40 degree cone
    Object(30, 0, 0, 1);     // 16.7 degrees: inside
    UpdateVisibility(mesh, camera);
    EXPECT_EQ(mesh.Objects[0].Visible, 1);
    EXPECT_EQ(mesh.Objects[1].Visible, 0);
    EXPECT_EQ(mesh.Objects[2].Visible, 0);
    EXPECT_EQ(mesh.Objects[3].Visible, 1);
    camera.CameraDistance = 40;  // a low eye sees 60 degrees
    mesh.Objects[2].CentreX = 40;
    mesh.Objects[2].Radius = 0.17f;  // 0.16 is not exact in a float
    UpdateVisibility(mesh, camera);
    EXPECT_EQ(mesh.Objects[2].Visible, 1);
}

TEST_F(Visibility, RunsOnTwoTicksOutOfThree) {
    Object(0, 0, 0, 1);
    UpdateVisibility(mesh, camera);
    EXPECT_EQ(mesh.Objects[0].Visible, 1);
    camera.CameraX = 10000;
    UpdateVisibility(mesh, camera);
    EXPECT_EQ(mesh.Objects[0].Visible, 0);
    camera.CameraX = 0;
    UpdateVisibility(mesh, camera);  // third tick: skipped
    EXPECT_EQ(mesh.Objects[0].Visible, 0);
    UpdateVisibility(mesh, camera);
    EXPECT_EQ(mesh.Objects[0].Visible, 1);
}

}  // namespace
}  // namespace gs
