// Hand-coded generators of valid packets and seed inputs; see SeedPackets.h.
#include "SeedPackets.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/FakePlatform.h"

namespace gs::fuzz {

namespace {

using test::PacketBuilder;

Bytes CarInfo(std::uint8_t players, std::uint8_t first, int cars, std::int32_t x0) {
    PacketBuilder p("MCI", 12 + 24 * static_cast<std::size_t>(cars));
    p.U8(8, players).U8(9, first);
    for (int k = 0; k < cars; ++k) {
        const std::size_t at = 12 + 24 * static_cast<std::size_t>(k);
        p.U16(at, static_cast<std::uint16_t>(100 + k)).U8(at + 2, 2);
        p.I32(at + 4, x0 + 65536 * k).I32(at + 8, -65536 * k).I32(at + 12, 3000);
        p.U16(at + 16, 9000).U16(at + 20, static_cast<std::uint16_t>(4000 * k));
    }
    return p;
}

Bytes State(std::uint8_t players, std::uint8_t mode, const std::string& track) {
    return PacketBuilder("STA", 28).U8(12, players).U8(15, mode).Text(20, track);
}

Bytes NewPlayer(std::uint8_t slot, const std::string& name, const std::string& car) {
    return PacketBuilder("NPL", 100).Text(28, name).Text(60, car).U8(96, slot);
}

Bytes Lap(std::uint8_t slot, std::uint8_t m, std::uint8_t s, std::uint8_t h, const std::string& car) {
    return PacketBuilder("LAP", 92).Text(52, car).U8(84, m).U8(85, s).U8(86, h).U8(88, slot);
}

Bytes Result(const std::string& name, std::uint8_t tm, std::uint8_t ts, std::uint8_t th) {
    return PacketBuilder("RES", 104).Text(28, name).U8(96, tm).U8(97, ts).U8(98, th).U8(100, 1).U8(101, 2).U8(102, 3);
}

Bytes Chunk(std::uint16_t total, int named, const std::string& prefix) {
    PacketBuilder p("CHL", 280);
    p.U16(4, total);
    for (int i = 0; i < named; ++i) {
        p.Text(8 + 32 * static_cast<std::size_t>(i), "^1" + prefix + std::to_string(i));
        p.U8(264 + static_cast<std::size_t>(i), static_cast<std::uint8_t>(i * 3));
        p.U8(272 + static_cast<std::size_t>(i), static_cast<std::uint8_t>(i & 1));
    }
    return p;
}

Bytes Reorder(std::initializer_list<std::uint8_t> order, std::uint8_t count) {
    PacketBuilder p("REO", 64);
    std::size_t i = 0;
    for (const std::uint8_t slot : order) p.U8(4 + 2 * i++, slot);
    return p.U8(61, count);
}

void Put16(Bytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void Put32(Bytes& b, std::uint32_t v) {
    Put16(b, static_cast<std::uint16_t>(v));
    Put16(b, static_cast<std::uint16_t>(v >> 16));
}
void PutI32(Bytes& b, std::int32_t v) { Put32(b, static_cast<std::uint32_t>(v)); }

Bytes ReadFile(const std::filesystem::path& path, std::size_t limit) {
    std::ifstream in(path, std::ios::binary);
    Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.size() > limit) data.resize(limit);
    return data;
}

// One mesh object: points on a small grid, a fan of triangles over them.
struct SeedObject {
    int points, triangles;
    std::int32_t x, y;  // 1/65536 metre
};

Bytes MeshFile(const std::vector<SeedObject>& objects) {
    Bytes b(64, 0);
    std::memcpy(b.data(), "LFSSMX", 6);
    b[9] = 3;
    b[11] = 1;
    b[48] = 40, b[49] = 120, b[50] = 30;
    b[60] = static_cast<std::uint8_t>(objects.size());
    for (const SeedObject& o : objects) {
        PutI32(b, o.x), PutI32(b, o.y), PutI32(b, 0), PutI32(b, 65536 * 20);
        Put32(b, static_cast<std::uint32_t>(o.points));
        Put32(b, static_cast<std::uint32_t>(o.triangles));
        for (int i = 0; i < o.points; ++i) {
            PutI32(b, o.x + 65536 * (i % 4)), PutI32(b, o.y + 65536 * (i / 4)), PutI32(b, -65536 * i);
            Put32(b, 0xFF000000u | static_cast<std::uint32_t>(i * 0x102030));
        }
        for (int t = 0; t < o.triangles; ++t) {
            Put16(b, 0), Put16(b, static_cast<std::uint16_t>(t + 1)), Put16(b, static_cast<std::uint16_t>(t + 2)),
                Put16(b, 0);
        }
    }
    return b;
}

Bytes TrackInput(std::uint8_t flags, const Bytes& path, const Bytes& mesh) {
    Bytes b{flags, static_cast<std::uint8_t>(std::min<std::size_t>(path.size(), 32))};
    b.insert(b.end(), path.begin(), path.begin() + static_cast<std::ptrdiff_t>(b[1]));
    b.insert(b.end(), mesh.begin(), mesh.end());
    return b;
}

Bytes PathHeader(std::uint32_t nodes, std::uint32_t finish) {
    Bytes b = {'L', 'F', 'S', 'P', 'T', 'H', 0, 0};
    Put32(b, nodes);
    Put32(b, finish);
    return b;
}

// A real mesh cut after the last whole object within `maxBytes`, its object
// count set to the objects kept. Empty when the file is not a mesh.
Bytes CutMesh(const Bytes& file, std::size_t maxBytes) {
    if (file.size() < 64) return {};
    auto u32 = [&](std::size_t at) {
        std::uint32_t v = 0;
        std::memcpy(&v, file.data() + at, 4);
        return v;
    };
    std::size_t at = 64, end = 64;
    std::uint32_t kept = 0;
    const std::uint32_t count = u32(60);
    while (kept < count && at + 24 <= file.size()) {
        const std::uint64_t next = at + 24 + std::uint64_t(u32(at + 16)) * 16 + std::uint64_t(u32(at + 20)) * 8;
        if (next > file.size() || next > maxBytes) break;
        at = end = static_cast<std::size_t>(next);
        ++kept;
    }
    Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(end));
    std::memcpy(cut.data() + 60, &kept, 4);
    return cut;
}

// A bitmap with a 40-byte (or 12-byte core) header, with or without the
// 14-byte file header; rows of a repeating pattern, padded to 4 bytes.
Bytes Bitmap(bool fileHeader, bool core, int width, int height, int bits, std::uint32_t compression = 0,
             const Bytes& rle = {}) {
    const int entries = bits <= 8 ? 1 << bits : 0;
    const std::size_t entrySize = core ? 3 : 4;
    const std::size_t headerSize = core ? 12 : 40;
    const std::size_t masks = compression == 3 ? 12 : 0;
    const std::size_t stride = (static_cast<std::size_t>(width) * bits + 31) / 32 * 4;
    Bytes pixels = rle;
    if (rle.empty())
        for (std::size_t i = 0; i < stride * static_cast<std::size_t>(height); ++i)
            pixels.push_back(static_cast<std::uint8_t>(i * 37));
    const std::size_t offset = (fileHeader ? 14 : 0) + headerSize + masks + entries * entrySize;
    Bytes b;
    if (fileHeader) {
        b = {'B', 'M'};
        Put32(b, static_cast<std::uint32_t>(offset + pixels.size()));
        Put32(b, 0);
        Put32(b, static_cast<std::uint32_t>(offset));
    }
    Put32(b, static_cast<std::uint32_t>(headerSize));
    if (core) {
        Put16(b, static_cast<std::uint16_t>(width)), Put16(b, static_cast<std::uint16_t>(height));
        Put16(b, 1), Put16(b, static_cast<std::uint16_t>(bits));
    } else {
        Put32(b, static_cast<std::uint32_t>(width)), Put32(b, static_cast<std::uint32_t>(height));
        Put16(b, 1), Put16(b, static_cast<std::uint16_t>(bits));
        Put32(b, compression), Put32(b, static_cast<std::uint32_t>(pixels.size()));
        Put32(b, 2835), Put32(b, 2835), Put32(b, 0), Put32(b, 0);
    }
    if (compression == 3) Put32(b, 0xF800), Put32(b, 0x07E0), Put32(b, 0x001F);
    for (int i = 0; i < entries; ++i) {
        b.push_back(static_cast<std::uint8_t>(i * 5)), b.push_back(static_cast<std::uint8_t>(255 - i)),
            b.push_back(static_cast<std::uint8_t>(i * 11));
        if (!core) b.push_back(0);
    }
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

}  // namespace

std::vector<NamedPacket> ValidPackets() {
    return {
        {"MCI-3cars", CarInfo(3, 0, 3, 65536 * 40)},
        {"MCI-11players-from8", CarInfo(11, 8, 3, -65536 * 10)},
        {"MCI-32players-8cars", CarInfo(32, 24, 8, 123456)},
        {"CHL-first-of-13", Chunk(13, 8, "Server ")},
        {"CHL-5named", Chunk(13, 5, "Rest ")},
        {"ERR-password", PacketBuilder("ERR", 8).U8(4, 1)},
        {"ERR-full", PacketBuilder("ERR", 8).U8(4, 2)},
        {"ERR-unknown", PacketBuilder("ERR", 8).U8(4, 4)},
        {"REO-swap", Reorder({1, 0, 2}, 3)},
        {"VER-1", PacketBuilder("VER", 20).U8(18, 1)},
        {"VER-2", PacketBuilder("VER", 20).U8(18, 2)},
        {"STA-AS1", State(3, 1, "AS1")},
        {"STA-BL1R-qualify", State(5, 2, "BL1R")},
        {"NPL-slot0", NewPlayer(0, "^1Al^7ex", "XR GT TURBO")},
        {"NPL-slot2", NewPlayer(2, "Carla", "FZ50 GTR")},
        {"PLL-alex", PacketBuilder("PLL", 52).Text(28, "^3Alex")},
        {"ISM-name", PacketBuilder("ISM", 40).Text(8, "^1Gridscope ^7Test Server")},
        {"LAP-1-05-07", Lap(0, 1, 5, 7, "XR GT TURBO")},
        {"RES-alex", Result("Alex", 12, 30, 5)},
        {"CPR-rename", PacketBuilder("CPR", 76).Text(28, "Alex").Text(52, "^2Alexander")},
        {"MSO-chat", PacketBuilder("MSO", 132).Text(4, "Alex : ^7hello everyone")},
        {"RST-laps", PacketBuilder("RST", 8).U8(4, 5)},
        {"RST-quali", PacketBuilder("RST", 8).U8(5, 20)},
        {"REN", PacketBuilder("REN", 4)},
    };
}

std::vector<NamedPacket> DispatchSeeds() {
    std::vector<NamedPacket> seeds;
    // Each packet alone, in a live direct connection with three players.
    StartState live;
    live.linkState = 4;
    live.mode = 1;
    live.playerCount = 3;
    live.followIndex = 2;
    live.pathNodes = 400;
    live.finishNode = 120;
    live.players = {{1, 5}, {2, 8}, {3, 0}};
    for (const NamedPacket& p : ValidPackets())
        seeds.push_back({"single-" + p.name, DispatchInput(live).Datagram(p.bytes).Data()});

    // A direct handshake through the socket, then a race.
    StartState idle;
    idle.mode = 1;
    DispatchInput race(idle);
    race.Do(Op::Connect).Do(Op::Tick).Do(Op::AdvanceClock, 25).Do(Op::Tick);
    race.Queue(PacketBuilder("VER", 20).U8(18, 1)).Queue(State(3, 1, "AS1")).Do(Op::Tick);
    for (const NamedPacket& p : ValidPackets())
        if (p.name.rfind("ERR", 0) != 0 && p.name.rfind("CHL", 0) != 0) race.Datagram(p.bytes);
    race.Do(Op::KeepAlive).Do(Op::AdvanceClock, 200).Do(Op::Tick).Do(Op::Disconnect);
    seeds.push_back({"direct-race", race.Data()});

    // The relay: list request, two chunks, spectate, forwarded race data.
    DispatchInput relay(StartState{});
    relay.Do(Op::GetServerList).Do(Op::Tick);
    relay.Queue(Chunk(13, 8, "Server ")).Queue(Chunk(13, 5, "Rest ")).Do(Op::Tick);
    relay.Do(Op::Spectate, 3).Datagram(PacketBuilder("ERR", 8).U8(4, 1)).Do(Op::Refresh);
    relay.Datagram(Chunk(13, 8, "Again ")).Do(Op::Spectate, 1);
    relay.Datagram(CarInfo(3, 0, 3, 0)).Datagram(PacketBuilder("ERR", 8).U8(4, 3));
    seeds.push_back({"relay-list-spectate", relay.Data()});

    // A long list past the store's 512 entries.
    StartState listing;
    listing.linkState = 3;
    listing.mode = 2;
    seeds.push_back({"relay-long-list", DispatchInput(listing).Burst(70, Chunk(0xFFFF, 8, "S")).Data()});

    // Queues filling up, time passing, players leaving and reordering.
    DispatchInput queues(live);
    queues.Burst(2, CarInfo(3, 0, 3, 1000)).Do(Op::AdvanceClock, 150).Do(Op::Tick);
    queues.Datagram(Reorder({2, 1, 0}, 5)).Datagram(PacketBuilder("PLL", 52).Text(28, "Alex"));
    queues.Burst(1, Lap(1, 255, 59, 99, "FXO TURBO"));
    seeds.push_back({"queues-and-leaves", queues.Data()});

    // Silence: the time-outs.
    DispatchInput silent(idle);
    silent.Do(Op::Connect);
    for (int i = 0; i < 8; ++i) silent.Do(Op::Tick);
    seeds.push_back({"timeout", silent.Data()});
    return seeds;
}

std::vector<NamedPacket> TrackSeeds(const std::string& runFolder, std::size_t maxBytes) {
    const Bytes path = PathHeader(300, 120);
    std::vector<NamedPacket> seeds = {
        {"empty-mesh", TrackInput(3, path, MeshFile({}))},
        {"one-object", TrackInput(3, path, MeshFile({{3, 1, 0, 0}}))},
        {"three-objects",
         TrackInput(3, path, MeshFile({{8, 6, 0, 0}, {0, 0, 65536 * 50, 0}, {4, 0, -1000000, 3000000}}))},
        {"short-path", TrackInput(3, Bytes(path.begin(), path.begin() + 10), MeshFile({{3, 1, 0, 0}}))},
        {"no-mesh-file", TrackInput(1, path, {})},
    };
    if (runFolder.empty()) return seeds;
    const std::filesystem::path files = std::filesystem::path(runFolder) / "files";
    std::error_code error;
    Bytes realPath = path;
    std::vector<std::filesystem::path> meshes;
    for (const auto& entry : std::filesystem::directory_iterator(files, error)) {
        if (entry.path().extension() == ".pth" && realPath == path) realPath = ReadFile(entry.path(), 32);
        if (entry.path().extension() == ".smx") meshes.push_back(entry.path());
    }
    std::sort(meshes.begin(), meshes.end());
    for (const auto& mesh : meshes) {
        const Bytes cut = CutMesh(ReadFile(mesh, maxBytes), maxBytes - 40);
        if (!cut.empty()) seeds.push_back({"run-" + mesh.stem().string(), TrackInput(3, realPath, cut)});
    }
    return seeds;
}

std::vector<NamedPacket> BitmapSeeds(const std::string& runFolder, std::size_t maxBytes) {
    // RLE8: a run of 3, an absolute run of 3, end of line, end of bitmap.
    const Bytes rle8 = {3, 7, 0, 3, 1, 2, 3, 0, 0, 0, 2, 9, 0, 1};
    std::vector<NamedPacket> seeds = {
        {"rgb24-3x2", Bitmap(true, false, 3, 2, 24)},        {"pal8-4x3", Bitmap(true, false, 4, 3, 8)},
        {"pal4-5x2", Bitmap(true, false, 5, 2, 4)},          {"mono-9x2", Bitmap(true, false, 9, 2, 1)},
        {"rgb32-2x2", Bitmap(true, false, 2, 2, 32)},        {"bitfields16-3x3", Bitmap(true, false, 3, 3, 16, 3)},
        {"rle8-6x2", Bitmap(true, false, 6, 2, 8, 1, rle8)}, {"core24-3x2", Bitmap(true, true, 3, 2, 24)},
        {"bare-info-pal8", Bitmap(false, false, 4, 2, 8)},   {"bare-core-pal4", Bitmap(false, true, 3, 3, 4)},
    };
    if (runFolder.empty()) return seeds;
    std::vector<std::filesystem::path> bitmaps;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(runFolder, error))
        if (entry.path().extension() == ".bmp" && entry.file_size() <= maxBytes) bitmaps.push_back(entry.path());
    std::sort(bitmaps.begin(), bitmaps.end());
    // A few: the artwork shares one format, so more add little.
    for (std::size_t i = 0; i < bitmaps.size() && i < 6; ++i)
        seeds.push_back({"run-" + bitmaps[i].filename().string(), ReadFile(bitmaps[i], maxBytes)});
    return seeds;
}

std::vector<NamedPacket> SettingsSeeds() {
    auto text = [](const std::string& s) { return Bytes(s.begin(), s.end()); };
    return {
        {"written", text("127.0.0.1\n29999\nsecret\n1\n1\n1\n1\n0\n5\n50\n")},
        {"defaults", text("(null)\n0\n(null)\n0\n0\n0\n0\n0\n0\n0\n")},
        {"short", text("relay.gridscope.example\n29998\n")},
        {"spaces-and-junk", text("my host\n  -12x\npass word\n+3\n\n2147483647\n-2147483648\n1\n99999999999\n-0\n")},
        {"crlf", text("10.0.0.1\r\n29999\r\n(null)\r\n0\r\n1\r\n0\r\n1\r\n1\r\n3\r\n30\r\n")},
    };
}

}  // namespace gs::fuzz
