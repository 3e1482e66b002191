// The arithmetic of one frame-timer tick, without GL:
//
//   Camera            - the point the eye looks down on, its height and turn
//   SmoothPositions   - drawn car poses from the queued samples
//   PollCameraKeys    - toggles (N, Tab) every third tick, pan/zoom/turn keys
//   UpdateVisibility  - which track objects are worth drawing next frame
//   VectorAngle       - angle between two vectors, in degrees
//
// The frame timer runs from start-up to exit; its tick is, in order: read the
// counter, smooth, draw, poll the keys, update visibility.
#pragma once

#include <cstddef>
#include <cstdint>

#include "view/Standings.h"

namespace gs {

class KeyState;
class RaceState;
struct SampleClock;
struct Settings;
struct TrackData;
struct TrackMesh;

struct Camera {
    float CameraX = 0;
    float CameraY = 0;
    float CameraDistance = 100.0f;
    float CameraRotation = 0;  // degrees about the vertical axis
    std::int32_t KeyDivider = 0;
    std::int32_t VisibilityDivider = 0;
};

// Virtual key codes of the key table.
namespace vk {
constexpr int Tab = 0x09, Shift = 0x10, PageUp = 0x21, PageDown = 0x22, Left = 0x25, Up = 0x26, Right = 0x27,
              Down = 0x28, N = 0x4E, Add = 0x6B, Subtract = 0x6D;
}

// Time since the current 500 ms step began, in units of 50 ms.
double FrameTimeParameter(const SampleClock& clock);

void SmoothPositions(RaceState& race, double t, bool smoothMovement);

// The value on the parabola through a (s = -1), b (s = 0), c (s = +1) at
// s = t / 10.
double Parabola(double a, double b, double c, double t);

void PollCameraKeys(Camera& camera, RaceState& race, Settings& settings, KeyState& keys);

// The visibility pass, on two of every three frames.
void UpdateVisibility(TrackMesh& mesh, Camera& camera);
// The pass itself: marks the objects worth drawing from the camera as it is
// (within the view cone, and not too small to see from its height).
void MarkVisibleObjects(TrackMesh& mesh, const Camera& camera);

// Lines the message log keeps once a frame has trimmed it.
constexpr std::size_t LogLines = 13;

// What a frame shows of the standings: the rows of the current page and
// the leader the gaps are measured from.
struct FramePlan {
    StandingsPage page{0, 0};
    LeaderData leader;
};

// The changes one frame makes to the state before it is drawn, in this
// order: the camera moves to the followed car, the message log loses its
// oldest line when it holds more than LogLines, the standings' page timer
// advances by the frame interval, and the players are ranked. The drawing
// then only reads the state.
FramePlan AdvanceFrame(RaceState& race, Camera& camera, const TrackData& track, float& standingsPageTimer,
                       int frameIntervalMs);

double VectorAngle(const double u[3], const double v[3]);

}  // namespace gs
