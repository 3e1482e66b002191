// One frame of the live view, drawn with fixed-function OpenGL:
//
//   DrawScene      - background, visible track objects, cars with labels,
//                    then the overlay and the standings
//   DrawOverlay    - side panels, toolbar buttons, HUD bar, message log
//   DrawStandings  - the ranked table over the right panel
//
// Everything is drawn with the depth test off, so later drawing covers
// earlier drawing: the track and the letters from their own arrays in
// memory through client-side vertex arrays (no display lists or buffer
// objects, nothing built from them), the rest in immediate mode. The
// decisions (ranking, texts, rectangles, colours) come from the core; this
// file only places and draws them.
#pragma once

#include "render/TextLayer.h"
#include "view/FrameLoop.h"

namespace gs {

class RaceState;
struct Camera;
struct Settings;
struct TrackData;

// What a frame reads. The state was brought up to date by AdvanceFrame
// before the frame; the drawing only reads it. The text layers are the
// drawing's own caches of its pictures.
struct GLResources;

struct SceneContext {
    const RaceState& race;
    const Camera& camera;
    const TrackData& track;
    const Settings& settings;
    int panelWidth = 0;
    int panelHeight = 0;
    int mouseX = 0;
    int mouseY = 0;
    FramePlan plan{};                 // the standings page and leader, from AdvanceFrame
    const GLResources* gl = nullptr;  // the panel's font and textures; set before the first frame
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
