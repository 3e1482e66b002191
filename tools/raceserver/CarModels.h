// The car models a simulated driver can choose, with the figures that set their
// pace: top speed, cornering grip, acceleration and braking.
#pragma once

#include <array>
#include <string_view>

namespace gs::raceserver {

struct CarModel {
    std::string_view name;  // as the spectator's icon table names it
    double topKmh;
    double gripG;  // lateral acceleration in g at the limit
    double accel;  // m/s² available at low speed
    double brake;  // m/s²
};

inline constexpr std::array<CarModel, 18> kCarModels{{
    {"XF GTI", 182, 1.05, 3.2, 9.0},
    {"XR GT", 196, 1.05, 3.4, 9.0},
    {"XR GT TURBO", 228, 1.10, 4.2, 9.5},
    {"FXO TURBO", 226, 1.12, 4.3, 9.5},
    {"RB4 GT", 224, 1.12, 4.2, 9.5},
    {"LX4", 188, 1.30, 5.0, 11.0},
    {"LX6", 222, 1.35, 6.0, 11.5},
    {"MRT5", 158, 1.50, 5.0, 12.0},
    {"UF1", 134, 0.95, 2.3, 8.0},
    {"RA", 202, 1.25, 4.6, 10.0},
    {"FZ50", 258, 1.20, 5.2, 10.5},
    {"FORMULA XR", 232, 1.90, 7.0, 15.0},
    {"XF GTR", 214, 1.40, 5.2, 12.0},
    {"UF GTR", 210, 1.40, 5.2, 12.0},
    {"FORMULA V8", 292, 2.40, 9.0, 18.0},
    {"FXO GTR", 246, 1.50, 6.0, 13.0},
    {"XR GTR", 246, 1.50, 6.0, 13.0},
    {"FZ50 GTR", 258, 1.55, 6.5, 13.5},
}};

}  // namespace gs::raceserver
