#include "view/SceneText.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "view/FrameLoop.h"

namespace gs {

namespace {

struct IconEntry {
    const char* car;
    int slot;
};

// Searched in this order; the first exact match wins.
constexpr IconEntry CarIconTable[] = {
    {"XF GTI", 7},  {"XR GT", 9},   {"XR GT TURBO", 11}, {"FXO TURBO", 13}, {"RB4 GT", 15}, {"LX4", 17},
    {"LX6", 19},    {"MRT5", 21},   {"RA", 25},          {"FZ50", 27},      {"UF1", 23},    {"FORMULA XR", 29},
    {"XF GTR", 31}, {"UF GTR", 33}, {"FORMULA V8", 35},  {"FXO GTR", 37},   {"XR GTR", 39}, {"FZ50 GTR", 41},
};

constexpr double Pi = 3.14159265358979323846;
// The camera's turn is kept in degrees, as GL's rotation takes it.
constexpr double RadiansPerDegree = Pi / 180;

}  // namespace

int CarIconSlot(const char* car) {
    for (const IconEntry& e : CarIconTable)
        if (std::strcmp(car, e.car) == 0) return e.slot;
    return CarIconTable[0].slot;
}

Rgb PlayerColour(int slot) {
    const double c = std::cos(slot * Pi / 42);
    // From slot 22 on the cosine is negative and has no real power 1.4; those
    // slots take the complement of its magnitude's power, a red of their own.
    const double red = c >= 0 ? std::pow(c, 1.4) : 1.0 - std::pow(-c, 1.4);
    const double green = std::fabs(std::cos(slot * 5 * Pi / 42));
    const double blue = std::fabs(std::cos(slot * 10 * Pi / 42));
    return Rgb{static_cast<float>(red), static_cast<float>(green), static_cast<float>(blue)};
}

std::string SpeedText(float speedKmh, bool useKmh) {
    const double value = useKmh ? static_cast<double>(speedKmh) : speedKmh / 1.608;
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, "%f", value);
    buffer[5] = '\0';
    return std::string(buffer) + (useKmh ? " km/h" : " mph");
}

IconSize2 IconHalfSize(float cameraDistance, int iconSize) {
    const float f = 0.008f * cameraDistance + 1.0f;
    return IconSize2{0.01f * f * iconSize, 0.02f * f * iconSize};
}

float LabelScale(float cameraDistance, int panelHeight) {
    return 0.028f * cameraDistance * 440.0f / static_cast<float>(panelHeight > 0 ? panelHeight : 1);
}

bool CircleInView(const Camera& camera, int pw, int ph, double fovDegrees, float x, float y, float z, float radius) {
    // Eye coordinates as the scene's model-view makes them: turned about the
    // world's vertical axis, then moved by the camera.
    const double turn = camera.CameraRotation * RadiansPerDegree;
    const double ex = x * std::cos(turn) - y * std::sin(turn) - camera.CameraX;
    const double ey = x * std::sin(turn) + y * std::cos(turn) - camera.CameraY;
    const double depth = static_cast<double>(camera.CameraDistance) - z;
    if (!(depth > 0)) return true;
    const double halfHeight = depth * std::tan(fovDegrees * Pi / 360);
    const double halfWidth = halfHeight * pw / (ph > 0 ? ph : 1);
    // Two pixels to spare against rounding in the projection.
    const double margin = radius + 4 * halfHeight / (ph > 0 ? ph : 1);
    return std::fabs(ex) - margin <= halfWidth && std::fabs(ey) - margin <= halfHeight;
}

ToolbarButton ToolbarButtonAt(int pw, int ph, int x, int y) {
    if (!(y > ph * 4.0 / 445 && y < ph * 24.0 / 445)) return tbNone;
    const double left = pw / 28;
    for (int k = 0; k < ToolbarButtonCount; ++k) {
        const double from = left + static_cast<double>(k * pw) * 5 / 27;
        const double to = left + static_cast<double>((k + 1) * pw) * 5 / 27;
        if (x > from && x < to) return static_cast<ToolbarButton>(k);
    }
    return tbNone;
}

int WindowHeightForWidth(int width) { return static_cast<int>(width * 0.75); }

PanelSize PanelForWindow(int windowWidth, int windowHeight) { return PanelSize{windowWidth - 8, windowHeight - 28}; }

}  // namespace gs
