// Helpers for the peers' tests: path files written byte by byte, little-endian
// field reads at hand-written offsets, and a loopback test client. Nothing here
// uses the peers' packet writer, so a layout mistake there cannot hide itself.
#pragma once

#include "Udp.h"

#include <unistd.h>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <numbers>
#include <string>
#include <vector>

namespace peertest {

using Bytes = std::vector<std::uint8_t>;

inline std::uint32_t U8(const Bytes& b, std::size_t at) { return at < b.size() ? b[at] : 0xFFFFFFFFu; }
inline std::uint32_t U16(const Bytes& b, std::size_t at) { return U8(b, at) | (U8(b, at + 1) << 8); }
inline std::uint32_t U32(const Bytes& b, std::size_t at) { return U16(b, at) | (U16(b, at + 2) << 16); }
inline std::int32_t I32(const Bytes& b, std::size_t at) { return static_cast<std::int32_t>(U32(b, at)); }
inline std::string Type(const Bytes& b) { return b.size() >= 3 ? std::string(b.begin(), b.begin() + 3) : ""; }
// A zero-padded field's text up to its first zero byte.
inline std::string Field(const Bytes& b, std::size_t at, std::size_t width) {
    std::string s;
    for (std::size_t i = 0; i < width && at + i < b.size() && b[at + i] != 0; ++i)
        s.push_back(static_cast<char>(b[at + i]));
    return s;
}
inline std::string StripCodes(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '^') {
            ++i;
            continue;
        }
        out.push_back(s[i]);
    }
    return out;
}

// Packets a spectator sends, laid out by hand.
inline Bytes General(const char* type, std::uint32_t value) {
    Bytes b(8, 0);
    std::memcpy(b.data(), type, 3);
    b[4] = value & 0xFF;
    b[5] = (value >> 8) & 0xFF;
    b[6] = (value >> 16) & 0xFF;
    b[7] = value >> 24;
    return b;
}
inline Bytes Isi(const std::string& password) {
    Bytes b(24, 0);
    std::memcpy(b.data(), "ISI", 3);
    b[6] = 0x31;
    std::memcpy(b.data() + 8, password.data(), std::min<std::size_t>(password.size(), 16));
    return b;
}
inline Bytes Ccn(std::uint8_t code) {
    Bytes b{'C', 'C', 'N', 0, code, 0, 0, 1};
    return b;
}
inline Bytes Hos(const std::string& name, const std::string& password) {
    Bytes b(60, 0);
    std::memcpy(b.data(), "HOS", 3);
    std::memcpy(b.data() + 4, name.data(), std::min<std::size_t>(name.size(), 32));
    std::memcpy(b.data() + 36, password.data(), std::min<std::size_t>(password.size(), 24));
    return b;
}

// An oval: two straights of `straight` metres along ±x joined by half circles of
// `radius`, driven counter-clockwise, nodes about `spacing` apart, centred on the
// origin. Road half width `half` on both sides.
struct Oval {
    double straight = 300, radius = 50, spacing = 4, half = 6, z = 2;
    std::uint32_t finish = 10;

    std::vector<std::array<double, 3>> Points() const {
        std::vector<std::array<double, 3>> pts;  // x, y, direction
        const int ns = static_cast<int>(straight / spacing);
        const int nc = static_cast<int>(std::numbers::pi * radius / spacing);
        for (int i = 0; i < ns; ++i)  // bottom straight, towards +x
            pts.push_back({-straight / 2 + straight * i / ns, -radius, 0});
        for (int i = 0; i < nc; ++i) {  // right half circle
            const double a = -std::numbers::pi / 2 + std::numbers::pi * i / nc;
            pts.push_back({straight / 2 + radius * std::cos(a), radius * std::sin(a), a + std::numbers::pi / 2});
        }
        for (int i = 0; i < ns; ++i)  // top straight, towards -x
            pts.push_back({straight / 2 - straight * i / ns, radius, std::numbers::pi});
        for (int i = 0; i < nc; ++i) {
            const double a = std::numbers::pi / 2 + std::numbers::pi * i / nc;
            pts.push_back({-straight / 2 + radius * std::cos(a), radius * std::sin(a), a + std::numbers::pi / 2});
        }
        return pts;
    }
    // Distance of (x, y) from the centre line.
    double OffCentre(double x, double y) const {
        const double cx = std::clamp(x, -straight / 2, straight / 2);
        return std::abs(std::hypot(x - cx, y) - radius);
    }
    bool InCorner(double x) const { return std::abs(x) > straight / 2 + radius * 0.3; }
    bool OnStraightMiddle(double x) const { return std::abs(x) < straight * 0.15; }
    double Length() const { return 2 * straight + 2 * std::numbers::pi * radius; }

    void Write(const std::filesystem::path& file) const {
        const auto pts = Points();
        Bytes b(16 + 40 * pts.size(), 0);
        std::memcpy(b.data(), "GSPATH\0\0", 8);
        auto put32 = [&](std::size_t at, std::uint32_t v) {
            for (int k = 0; k < 4; ++k) b[at + k] = (v >> (8 * k)) & 0xFF;
        };
        auto putF = [&](std::size_t at, float f) {
            std::uint32_t v;
            std::memcpy(&v, &f, 4);
            put32(at, v);
        };
        put32(8, static_cast<std::uint32_t>(pts.size()));
        put32(12, finish);
        for (std::size_t i = 0; i < pts.size(); ++i) {
            const std::size_t at = 16 + 40 * i;
            put32(at, static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(pts[i][0] * 65536))));
            put32(at + 4, static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(pts[i][1] * 65536))));
            put32(at + 8, static_cast<std::uint32_t>(static_cast<std::int32_t>(std::lround(z * 65536))));
            putF(at + 12, static_cast<float>(std::cos(pts[i][2])));
            putF(at + 16, static_cast<float>(std::sin(pts[i][2])));
            putF(at + 20, 0.f);
            putF(at + 24, static_cast<float>(-half - 3));
            putF(at + 28, static_cast<float>(half + 3));
            putF(at + 32, static_cast<float>(-half));
            putF(at + 36, static_cast<float>(half));
        }
        std::ofstream(file, std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }
};

// A fresh temporary folder, removed at the end of the test.
struct TempDir {
    std::filesystem::path path;
    TempDir() {
        char pattern[] = "/tmp/gs-peers-XXXXXX";
        path = mkdtemp(pattern);
    }
    ~TempDir() { std::filesystem::remove_all(path); }
};

// A spectator on loopback.
struct Client {
    gs::peers::UdpPort port;
    gs::peers::Address to;
    explicit Client(std::uint16_t serverPort) {
        port.Bind("127.0.0.1", 0);
        to = *gs::peers::Resolve("127.0.0.1", serverPort);
    }
    void Send(const Bytes& b) { port.SendTo(to, b); }
    std::vector<Bytes> Drain() {
        std::vector<Bytes> got;
        while (auto d = port.Receive()) got.push_back(d->bytes);
        return got;
    }
};

inline std::vector<Bytes> OfType(const std::vector<Bytes>& packets, const std::string& type) {
    std::vector<Bytes> out;
    for (const auto& p : packets)
        if (Type(p) == type) out.push_back(p);
    return out;
}

}  // namespace peertest
