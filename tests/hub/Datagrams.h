// Datagrams written byte by byte from the wire layout, for the hub's tests:
// a small packet builder and a whole race of two drivers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace gs::test {

// A datagram of `size` zero bytes with its type; fields are put at their
// offsets as the wire layout gives them.
struct Packet {
    std::vector<std::uint8_t> b;
    Packet(const char* type, std::size_t size) : b(size, 0) { std::copy(type, type + 3, b.begin()); }
    Packet& U8(std::size_t at, int v) { return b[at] = static_cast<std::uint8_t>(v), *this; }
    Packet& U16(std::size_t at, int v) { return U8(at, v & 0xff).U8(at + 1, (v >> 8) & 0xff); }
    Packet& Text(std::size_t at, const std::string& text) {
        std::copy(text.begin(), text.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
        return *this;
    }
};

using Timed = std::vector<std::pair<double, Packet>>;  // seconds, datagram

// The name field's 24 bytes, all of them SQL.
inline const std::string Injection = "'); DROP TABLE sessions;";

// Car info for two cars on `lap`, at path node `node` and the one behind.
inline Packet TwoCars(int lap, int node) {
    Packet p("MCI", 12 + 2 * 24);
    p.U8(8, 2).U8(9, 0);
    for (int i = 0; i < 2; ++i) p.U16(12 + 24 * i, node - i).U8(14 + 24 * i, lap);
    return p;
}

inline Packet Lap(int slot, const char* car, int m, int s, int h) {
    return Packet("LAP", 92).Text(52, car).U8(84, m).U8(85, s).U8(86, h).U8(88, slot);
}

// What a server tells a spectator that joins: its name, a race on `track`
// with two drivers.
inline Timed Greeting(const std::string& track = "BL1") {
    return {{0.0, Packet("ISM", 40).Text(8, "^1Replay ^7Cup")},
            {0.0, Packet("STA", 28).U8(12, 2).U8(15, 1).Text(20, track)},
            {0.0, Packet("NPL", 97).Text(28, "^3J\xF6rg").Text(60, "XRT").U8(96, 0)},
            {0.0, Packet("NPL", 97).Text(28, Injection).Text(60, "FZ50").U8(96, 1)}};
}

// Two drivers, two laps on BL1: J\xF6rg (Windows-1252, "Jörg") 1:01.23 and
// 1:00.00 (total 2:01.23), the other 1:02.50 and 0:59.80 (total 2:02.30,
// the fastest lap); the race end, and the car info after it.
inline Timed HandmadeRace() {
    Timed at = Greeting();
    at.push_back({0.2, Packet("RST", 8).U8(4, 2)});
    for (int k = 0; k < 6; ++k) at.push_back({0.3 + 0.1 * k, TwoCars(1, 10 + k)});
    at.push_back({1.0, Lap(0, "XRT", 1, 1, 23)});
    at.push_back({1.2, Lap(1, "FZ50", 1, 2, 50)});
    for (int k = 0; k < 6; ++k) at.push_back({1.3 + 0.1 * k, TwoCars(2, 10 + k)});
    at.push_back({2.0, Lap(0, "XRT", 1, 0, 0)});
    at.push_back({2.05, Packet("RES", 104).Text(28, "^3J\xF6rg").U8(96, 2).U8(97, 1).U8(98, 23).U8(100, 1)});
    at.push_back({2.3, Lap(1, "FZ50", 0, 59, 80)});
    at.push_back({2.35, Packet("RES", 104).Text(28, Injection).U8(96, 2).U8(97, 2).U8(98, 30).U8(101, 59).U8(102, 80)});
    at.push_back({2.5, Packet("REN", 4)});
    at.push_back({2.6, TwoCars(3, 20)});
    at.push_back({2.7, TwoCars(3, 21)});
    return at;
}

}  // namespace gs::test
