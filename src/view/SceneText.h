// What the scene shows, computed without GL: the icon of a car model, the
// colour of a player slot, the speed label, the icon and label sizes, and the
// toolbar's button rectangles (shared by the click test and the hover light).
#pragma once

#include <string>

namespace gs {

struct Camera;

struct Rgb {
    float r, g, b;
};

// Texture slot of the colour image for a car name; its mask is the next
// slot. A car name the table does not know gets the first model's icon.
int CarIconSlot(const char* car);

// The identifying colour of player slot i (not the standing position).
Rgb PlayerColour(int slot);

// "123.4 km/h" or "62.18 mph": the first five characters of "%f", cut not
// rounded.
std::string SpeedText(float speedKmh, bool useKmh);

// Half-width and half-length of a car icon in world units.
struct IconSize2 {
    float a, b;
};
IconSize2 IconHalfSize(float cameraDistance, int iconSize);

// The scale of name and speed labels: one size on screen at any zoom.
float LabelScale(float cameraDistance, int panelHeight);

// Whether anything within `radius` world units of (x, y, z), in the ground
// plane, can show in a panel pw x ph seen through `camera` with a vertical
// field of view of `fovDegrees`. False only when all of it lies outside the
// view, so a car for which it is false can be left out of a frame without
// changing a pixel. Anything level with or above the eye counts as in view.
bool CircleInView(const Camera& camera, int pw, int ph, double fovDegrees, float x, float y, float z, float radius);

// The toolbar's buttons, left to right; the number is also the slot of the
// button's texture.
enum ToolbarButton : int {
    tbNone = -1,
    tbServerList = 0,
    tbConnect = 1,
    tbSettings = 2,
    tbAbout = 3,
    tbExit = 4,
};
constexpr int ToolbarButtonCount = 5;

// The toolbar button under pixel (x, y) of a panel pw × ph, or tbNone. A
// point exactly on a boundary belongs to no button.
ToolbarButton ToolbarButtonAt(int pw, int ph, int x, int y);

// The window's 4:3 shape: the height for an outer width, and the GL panel's
// size inside a window of that width and height.
int WindowHeightForWidth(int width);
struct PanelSize {
    int width, height;
};
PanelSize PanelForWindow(int windowWidth, int windowHeight);

}  // namespace gs
