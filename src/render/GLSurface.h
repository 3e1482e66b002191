// The GL surface: fixed GL state and the perspective projection.
//
// The rendering context itself is created by the main window's GL panel
// (compatibility profile, depth 16, double buffered); GLInit takes it,
// checks that it is usable and current, and sets the state every drawing
// step relies on. ResizeGLScene follows the surface size.
#pragma once

#include "render/ErrorReporter.h"

class QOpenGLContext;
class QSurface;

namespace gs {

// Field of view and clipping planes of the one perspective projection.
constexpr double FieldOfViewDegrees = 45.0;
// GLInit's projection, made before the panel has a size, takes the nearer
// plane; every resize sets the farther one, and every frame is drawn after
// a resize, so frames see 0.1.
constexpr double InitNearPlane = 0.01;
constexpr double ResizeNearPlane = 0.1;
constexpr double FarPlane = 600.0;

// Checks `context` and makes it current on `surface` (or on the surface it
// was last current on, when `surface` is null) unless it already is current.
// A missing or invalid context reports "Creating Rendering Context failed.",
// a context that cannot be made current "MakeCurrent of rendering context
// failed."; either way nothing is set and false comes back, and the program
// goes on without a working surface. Otherwise sets the GL state and the
// projection for a surface of width x height pixels and returns true.
bool GLInit(QOpenGLContext* context, int width, int height, const ErrorReporter& report, QSurface* surface = nullptr);

// Makes the pixel format the program draws with the default for every GL
// surface: compatibility profile (fixed-function GL), depth 16, double
// buffered, no wait for the display's refresh. Call before the application
// object exists.
void SetDefaultSurfaceFormat();

// Viewport and projection for a surface of width x height pixels; a height
// of 0 is taken as 1. Leaves the model-view matrix selected and at identity.
void ResizeGLScene(int width, int height);

}  // namespace gs
