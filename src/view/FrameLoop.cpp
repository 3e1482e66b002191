#include "view/FrameLoop.h"

#include <cmath>

#include "common/Platform.h"
#include "common/Settings.h"
#include "connection/RaceState.h"
#include "track/TrackData.h"

namespace gs {

namespace {

// Heading period used to unwrap angles across 0/2π.
constexpr double HeadingPeriod = 6.2831853076;
// Positions further apart than this between samples are jumps, not motion.
constexpr double JumpLimit = 16.0;
// The visibility angle is compared with limits in degrees; this factor (to
// six figures, as the limits were tuned with it) converts the arc cosine.
constexpr double DegreesPerRadian = 57.2957;

float SmoothedCoordinate(float a, float b, float c, double t) {
    if (std::fabs(a - b) > JumpLimit || std::fabs(c - b) > JumpLimit) return b;
    return static_cast<float>(Parabola(a, b, c, t));
}

float SmoothedHeading(double a, double b, double c, double t) {
    if (std::fabs(a - b) > 3.0) {
        if (a < b) {
            a += HeadingPeriod;
        } else {
            b += HeadingPeriod;
            c += HeadingPeriod;
        }
    }
    if (std::fabs(b - c) > 3.0) {
        if (b < c) {
            a += HeadingPeriod;
            b += HeadingPeriod;
        } else {
            c += HeadingPeriod;
        }
    }
    return static_cast<float>(Parabola(a, b, c, t));
}

}  // namespace

double FrameTimeParameter(const SampleClock& clock) {
    const double ticks = clock.TicksPer10ms > 0 ? static_cast<double>(clock.TicksPer10ms) : 1.0;
    return static_cast<double>(clock.Now - clock.Base) / ticks * 0.2;
}

double Parabola(double a, double b, double c, double t) {
    const double qa = (a + c) * 0.5 - b;
    const double qb = (c - a) * 0.5;
    return qa * t * t * 0.01 + qb * t * 0.1 + b;
}

void SmoothPositions(RaceState& race, double t, bool smoothMovement) {
    for (int i = 0; i < race.PlayerCount; ++i) {
        PlayerRecord& p = race.Players[i];
        if (!smoothMovement) {
            if (p.SampleCount < 3) continue;
            const CarSample& s = p.Samples[1];
            p.DrawX = s.X;
            p.DrawY = s.Y;
            p.DrawHeading = s.Heading;
            p.DrawSpeed = s.Speed;
            continue;
        }
        if (p.SampleCount <= 3) continue;
        const CarSample &a = p.Samples[0], &b = p.Samples[1], &c = p.Samples[2];
        p.DrawX = SmoothedCoordinate(a.X, b.X, c.X, t);
        p.DrawY = SmoothedCoordinate(a.Y, b.Y, c.Y, t);
        p.DrawHeading = SmoothedHeading(a.Heading, b.Heading, c.Heading, t);
        p.DrawSpeed = static_cast<float>(Parabola(a.Speed, b.Speed, c.Speed, t));
    }
}

void PollCameraKeys(Camera& camera, RaceState& race, Settings& settings, KeyState& keys) {
    const bool active = keys.WindowActive();
    const std::int32_t divider = camera.KeyDivider++;
    if (divider >= 2 && active) {
        camera.KeyDivider = 0;
        if (keys.Pressed(vk::N)) settings.ShowNames = settings.ShowNames ? 0 : 1;
        if (keys.Pressed(vk::Tab)) {
            camera.CameraRotation = 0;
            if (!keys.Pressed(vk::Shift)) {
                if (++race.FollowIndex >= race.PlayerCount) race.FollowIndex = -1;
            } else {
                if (--race.FollowIndex < -1) race.FollowIndex = race.PlayerCount - 1;
            }
        }
    }
    if (!active) return;

    const float unit = 20.0f / static_cast<float>(EffectiveFps(settings));
    const bool shift = keys.Pressed(vk::Shift);
    if (keys.Pressed(vk::Up)) camera.CameraY += unit * 2;
    if (keys.Pressed(vk::Down)) camera.CameraY -= unit * 2;
    if (keys.Pressed(vk::Left)) {
        if (shift) camera.CameraRotation -= unit * 1;
        else camera.CameraX -= unit * 2;
    }
    if (keys.Pressed(vk::Right)) {
        if (shift) camera.CameraRotation += unit * 1;
        else camera.CameraX += unit * 2;
    }
    if ((keys.Pressed(vk::Add) || keys.Pressed(vk::PageUp)) && camera.CameraDistance > 20.0f)
        camera.CameraDistance -= unit * 4;
    if ((keys.Pressed(vk::Subtract) || keys.Pressed(vk::PageDown)) && camera.CameraDistance < 500.0f)
        camera.CameraDistance += unit * 4;
}

double VectorAngle(const double u[3], const double v[3]) {
    const double lu = std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
    const double lv = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    const double d = (u[0] / lu) * (v[0] / lv) + (u[1] / lu) * (v[1] / lv) + (u[2] / lu) * (v[2] / lv);
    if (!(d >= -1.0 && d <= 1.0)) return 0.0;  // also a zero-length vector's NaN
    return std::acos(d) * DegreesPerRadian;
}

void UpdateVisibility(TrackMesh& mesh, Camera& camera) {
    const std::int32_t divider = camera.VisibilityDivider++;
    if (divider >= 2) {
        camera.VisibilityDivider = 0;
        return;
    }
    MarkVisibleObjects(mesh, camera);
}

void MarkVisibleObjects(TrackMesh& mesh, const Camera& camera) {
    static const double Down[3] = {0, 0, -1};
    const double height = camera.CameraDistance;
    const double cone = height < 50.0 ? 60.0 : 40.0;
    for (MeshObject& object : mesh.Objects) {
        const double v[3] = {camera.CameraX - static_cast<double>(object.CentreX),
                             camera.CameraY - static_cast<double>(object.CentreY),
                             static_cast<double>(object.CentreZ) - height};
        const double theta = VectorAngle(v, Down);
        const bool hidden = theta > cone || object.Radius / std::fabs(height) < 0.004;
        object.Visible = hidden ? 0 : 1;
    }
}

FramePlan AdvanceFrame(RaceState& race, Camera& camera, const TrackData& track, float& standingsPageTimer,
                       int frameIntervalMs) {
    if (race.FollowIndex >= 0 && race.FollowIndex < race.PlayerCount) {
        camera.CameraX = race.Players[race.FollowIndex].DrawX;
        camera.CameraY = race.Players[race.FollowIndex].DrawY;
    }
    race.Log.TrimOldest(LogLines);
    FramePlan plan;
    plan.page = NextStandingsPage(standingsPageTimer, frameIntervalMs, race.PlayerCount);
    ComputePositions(race, track.PathNodeCount, track.FinishNode);
    plan.leader = FindLeader(race);
    return plan;
}

}  // namespace gs
