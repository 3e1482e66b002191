// Hand-coded generators of valid packets and seed inputs; see SeedPackets.h.
#include "SeedPackets.h"

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
