// One frame of the live view, drawn with fixed-function OpenGL:
//
//   DrawScene      - background, visible track objects, cars with labels,
//                    then the overlay and the standings
//   DrawOverlay    - side panels, toolbar buttons, HUD bar, message log
//   DrawStandings  - the ranked table over the right panel
//
// Everything is drawn in immediate mode with the depth test off, so later
// drawing covers earlier drawing. The decisions (ranking, texts, rectangles,
// colours) come from the core; this file only places and draws them.
#pragma once

#include "render/TextLayer.h"

namespace gs {

class RaceState;
struct Camera;
struct Settings;
struct TrackData;

// What a frame reads, and the little it writes (camera follow, positions,
// the page timer, the message log's trim).
struct SceneContext {
    RaceState& race;
    Camera& camera;
    const TrackData& track;
    Settings& settings;
    int panelWidth = 0;
    int panelHeight = 0;
    int mouseX = 0;
    int mouseY = 0;
    int frameIntervalMs = 50;
    float standingsPageTimer = 0;
    // The message log and the standings are drawn from cached pictures
    // while their texts stay the same; false draws every glyph each frame.
    bool cacheText = true;
    TextLayer logText{}, standingsText{};
};

// Starts a frame: identity, the dark green background, the GL state the
// scene draws with, and the camera's view transform.
void BeginFrame(const Camera& camera);

// Draws a whole frame into the current context; presenting it is the
// caller's (the GL panel swaps after painting).
void DrawScene(SceneContext& scene);
void DrawOverlay(SceneContext& scene);
void DrawStandings(SceneContext& scene);

}  // namespace gs
