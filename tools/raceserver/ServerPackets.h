// The packets a race server sends to its spectators, laid out field by field.
// Sizes cover every field a spectator reads, rounded up to whole 32-bit words.
#pragma once

#include "Bytes.h"

#include <cstdint>
#include <string>
#include <vector>

namespace gs::raceserver {

using peers::Bytes;

constexpr std::size_t kMciHeaderSize = 12;
constexpr std::size_t kMciEntrySize = 24;
constexpr std::size_t kMciMaxEntries = 8;

// Lengths of the packets below.
constexpr std::size_t kVerSize = 20, kStaSize = 28, kIsmSize = 40, kNplSize = 100, kPllSize = 52, kLapSize = 92,
                      kResSize = 104, kCprSize = 76, kMsoSize = 132, kRstSize = 8, kRenSize = 4, kReoSize = 68;

// Wire scale factors: positions in 1/65536 m, speed × 0.011 = km/h, heading ×
// kHeadingUnit = radians (heading 0 points along +y, counter-clockwise positive).
constexpr double kSpeedUnitKmh = 0.011;
constexpr double kHeadingUnit = 9.590688592259547e-5;

struct CarInfo {
    std::uint16_t node = 0;
    std::uint8_t lap = 0;
    std::uint8_t slot = 0;
    std::int32_t x = 0, y = 0, z = 0;  // 1/65536 m
    std::uint16_t speed = 0;           // × 0.011 km/h
    std::uint16_t heading = 0;         // × kHeadingUnit rad
};

// Converts a pose in metres, km/h and radians (0 = +y, counter-clockwise) to the
// wire's integers, clamping where the wire field is too small.
std::int32_t PositionToWire(double metres);
std::uint16_t SpeedToWire(double kmh);
std::uint16_t HeadingToWire(double radians);

struct LapTime {
    int minutes = 0, seconds = 0, hundredths = 0;
};
LapTime SplitTime(double seconds);

// Car info for `cars` (slot order): ceil(n / 8) packets of at most 8 entries,
// byte 8 the player count, byte 9 the slot of the packet's first entry.
std::vector<Bytes> BuildMci(const std::vector<CarInfo>& cars);
Bytes BuildVer(int inSimVersion);
Bytes BuildSta(int players, int raceMode, const std::string& trackCode);
Bytes BuildIsm(const std::string& serverName);
Bytes BuildNpl(int slot, const std::string& driver, const std::string& car);
Bytes BuildPll(const std::string& driver);
Bytes BuildLap(int slot, const std::string& driver, const std::string& car, LapTime time, int lapsDone);
Bytes BuildRes(const std::string& driver, const std::string& car, LapTime total, LapTime best, int position);
Bytes BuildCpr(const std::string& oldName, const std::string& newName);
Bytes BuildMso(const std::string& text);
Bytes BuildRst(int laps, int qualifyMinutes, int players);
Bytes BuildRen();
// order[i] is the former slot of the player that now takes slot i.
Bytes BuildReo(const std::vector<int>& order);

}  // namespace gs::raceserver
