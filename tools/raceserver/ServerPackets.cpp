// Builders of the race server's packets.
#include "ServerPackets.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace gs::raceserver {

using peers::PacketWriter;

std::int32_t PositionToWire(double metres) {
    const double raw = std::round(metres * 65536.0);
    return static_cast<std::int32_t>(std::clamp(raw, -2147483648.0, 2147483647.0));
}

std::uint16_t SpeedToWire(double kmh) {
    return static_cast<std::uint16_t>(std::clamp(std::round(kmh / kSpeedUnitKmh), 0.0, 65535.0));
}

std::uint16_t HeadingToWire(double radians) {
    double h = std::fmod(radians, 2.0 * std::numbers::pi);
    if (h < 0) h += 2.0 * std::numbers::pi;
    // 2π / kHeadingUnit is about 65513, so a full turn fits without wrapping.
    return static_cast<std::uint16_t>(std::clamp(std::round(h / kHeadingUnit), 0.0, 65535.0));
}

LapTime SplitTime(double seconds) {
    const long hundredths = std::lround(std::max(0.0, seconds) * 100.0);
    LapTime t;
    t.minutes = static_cast<int>(std::min<long>(hundredths / 6000, 255));
    t.seconds = static_cast<int>(hundredths / 100 % 60);
    t.hundredths = static_cast<int>(hundredths % 100);
    return t;
}

std::vector<Bytes> BuildMci(const std::vector<CarInfo>& cars) {
    std::vector<Bytes> packets;
    const std::size_t count = std::min<std::size_t>(cars.size(), 255);
    for (std::size_t first = 0; first < count; first += kMciMaxEntries) {
        const std::size_t n = std::min(kMciMaxEntries, count - first);
        PacketWriter w("MCI", kMciHeaderSize + kMciEntrySize * n);
        w.U8(5, static_cast<std::uint32_t>(n))
            .U8(8, static_cast<std::uint32_t>(count))
            .U8(9, static_cast<std::uint32_t>(first));
        for (std::size_t k = 0; k < n; ++k) {
            const CarInfo& c = cars[first + k];
            const std::size_t at = kMciHeaderSize + kMciEntrySize * k;
            w.U16(at, c.node).U8(at + 2, c.lap).U8(at + 3, c.slot);
            w.I32(at + 4, c.x).I32(at + 8, c.y).I32(at + 12, c.z);
            w.U16(at + 16, c.speed).U16(at + 18, c.heading).U16(at + 20, c.heading);
        }
        packets.push_back(w.Take());
    }
    return packets;
}

Bytes BuildVer(int inSimVersion) {
    return PacketWriter("VER", kVerSize)
        .Text(4, 8, "0.6G")
        .Text(12, 6, "GSRS")
        .U16(18, static_cast<std::uint32_t>(inSimVersion))
        .Take();
}

Bytes BuildSta(int players, int raceMode, const std::string& trackCode) {
    return PacketWriter("STA", kStaSize)
        .U8(12, static_cast<std::uint32_t>(players))
        .U8(15, static_cast<std::uint32_t>(raceMode))
        .Text(20, 6, trackCode)
        .Take();
}

Bytes BuildIsm(const std::string& serverName) {
    return PacketWriter("ISM", kIsmSize).U8(4, 1).Text(8, 32, serverName).Take();
}

Bytes BuildNpl(int slot, const std::string& driver, const std::string& car) {
    return PacketWriter("NPL", kNplSize)
        .Text(28, 24, driver)
        .Text(60, 16, car)
        .U8(96, static_cast<std::uint32_t>(slot))
        .Take();
}

Bytes BuildPll(const std::string& driver) { return PacketWriter("PLL", kPllSize).Text(28, 24, driver).Take(); }

Bytes BuildLap(int slot, const std::string& driver, const std::string& car, LapTime time, int lapsDone) {
    return PacketWriter("LAP", kLapSize)
        .Text(28, 24, driver)
        .Text(52, 16, car)
        .U16(80, static_cast<std::uint32_t>(lapsDone))
        .U8(84, static_cast<std::uint32_t>(time.minutes))
        .U8(85, static_cast<std::uint32_t>(time.seconds))
        .U8(86, static_cast<std::uint32_t>(time.hundredths))
        .U8(88, static_cast<std::uint32_t>(slot))
        .Take();
}

Bytes BuildRes(const std::string& driver, const std::string& car, LapTime total, LapTime best, int position) {
    return PacketWriter("RES", kResSize)
        .Text(28, 24, driver)
        .Text(52, 16, car)
        .U8(92, static_cast<std::uint32_t>(position))
        .U8(96, static_cast<std::uint32_t>(total.minutes))
        .U8(97, static_cast<std::uint32_t>(total.seconds))
        .U8(98, static_cast<std::uint32_t>(total.hundredths))
        .U8(100, static_cast<std::uint32_t>(best.minutes))
        .U8(101, static_cast<std::uint32_t>(best.seconds))
        .U8(102, static_cast<std::uint32_t>(best.hundredths))
        .Take();
}

Bytes BuildCpr(const std::string& oldName, const std::string& newName) {
    return PacketWriter("CPR", kCprSize).Text(28, 24, oldName).Text(52, 24, newName).Take();
}

Bytes BuildMso(const std::string& text) {
    // The text field is 128 bytes; keep a terminator so the line ends cleanly.
    return PacketWriter("MSO", kMsoSize).Text(4, 127, text).Take();
}

Bytes BuildRst(int laps, int qualifyMinutes, int players) {
    // The field size rides along in a spare byte.
    return PacketWriter("RST", kRstSize)
        .U8(4, static_cast<std::uint32_t>(std::clamp(laps, 0, 255)))
        .U8(5, static_cast<std::uint32_t>(std::clamp(qualifyMinutes, 0, 255)))
        .U8(6, static_cast<std::uint32_t>(players))
        .Take();
}

Bytes BuildRen() { return PacketWriter("REN", kRenSize).Take(); }

Bytes BuildReo(const std::vector<int>& order) {
    // Slot indices sit at even offsets 4, 6, ... 66; the count at 61 falls between
    // two of them, so a full field of 32 needs 67 bytes.
    PacketWriter w("REO", kReoSize);
    const std::size_t n = std::min<std::size_t>(order.size(), 32);
    for (std::size_t i = 0; i < n; ++i) w.U8(4 + 2 * i, static_cast<std::uint32_t>(order[i]));
    w.U8(61, static_cast<std::uint32_t>(n));
    return w.Take();
}

}  // namespace gs::raceserver
