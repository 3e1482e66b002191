// The peers' packets against their layouts (offsets written out by hand here),
// the path file reader against good and broken files, and option/entry parsing.
#include "PeerTestSupport.h"

#include "Options.h"
#include "PathFile.h"
#include "Relay.h"
#include "ServerPackets.h"

#include <gtest/gtest.h>

#include <numbers>

using namespace peertest;
namespace rs = gs::raceserver;

TEST(RaceServerPackets, CarInfoComesInChunksOfAtMostEightWithCountAndFirstSlot) {
    std::vector<rs::CarInfo> cars(19);
    for (std::size_t i = 0; i < cars.size(); ++i) {
        cars[i].node = static_cast<std::uint16_t>(1000 + i);
        cars[i].lap = static_cast<std::uint8_t>(3 + i);
        cars[i].x = -100000 - static_cast<std::int32_t>(i);
        cars[i].y = 200000 + static_cast<std::int32_t>(i);
        cars[i].z = -7;
        cars[i].speed = static_cast<std::uint16_t>(5000 + i);
        cars[i].heading = static_cast<std::uint16_t>(60000 + i);
    }
    const auto packets = rs::BuildMci(cars);
    ASSERT_EQ(packets.size(), 3u);
    const std::size_t expectedEntries[] = {8, 8, 3};
    for (std::size_t p = 0; p < 3; ++p) {
        const Bytes& b = packets[p];
        ASSERT_EQ(b.size(), 12 + 24 * expectedEntries[p]);
        EXPECT_EQ(Type(b), "MCI");
        EXPECT_EQ(U8(b, 8), 19u) << "players in the race";
        EXPECT_EQ(U8(b, 9), 8 * p) << "slot of the first entry";
        for (std::size_t k = 0; k < expectedEntries[p]; ++k) {
            const std::size_t i = 8 * p + k, at = 12 + 24 * k;
            EXPECT_EQ(U16(b, at), 1000 + i);
            EXPECT_EQ(U8(b, at + 2), 3 + i);
            EXPECT_EQ(I32(b, at + 4), -100000 - static_cast<std::int32_t>(i));
            EXPECT_EQ(I32(b, at + 8), 200000 + static_cast<std::int32_t>(i));
            EXPECT_EQ(I32(b, at + 12), -7);
            EXPECT_EQ(U16(b, at + 16), 5000 + i);
            EXPECT_EQ(U16(b, at + 20), 60000 + i);
        }
    }
    EXPECT_TRUE(rs::BuildMci({}).empty());
}

TEST(RaceServerPackets, UnitConversionsMatchTheWireScales) {
    EXPECT_EQ(rs::PositionToWire(1.0), 65536);
    EXPECT_EQ(rs::PositionToWire(-2.5), -163840);
    EXPECT_EQ(rs::PositionToWire(1e9), 2147483647);  // clamped, not wrapped
    EXPECT_NEAR(rs::SpeedToWire(123.4) * 0.011, 123.4, 0.006);
    EXPECT_EQ(rs::SpeedToWire(-5), 0);
    EXPECT_EQ(rs::SpeedToWire(5000), 65535);
    // Heading 0 points along +y, counter-clockwise: +x travel is three quarter turns.
    for (double h : {0.0, 1.0, std::numbers::pi, 4.5, 6.2})
        EXPECT_NEAR(rs::HeadingToWire(h) * 9.590688592259547e-5, h, 1e-4) << h;
    EXPECT_NEAR(rs::HeadingToWire(-std::numbers::pi / 2) * 9.590688592259547e-5, 1.5 * std::numbers::pi, 1e-4);
    EXPECT_NEAR(rs::HeadingToWire(2 * std::numbers::pi + 0.5) * 9.590688592259547e-5, 0.5, 1e-4);
}

TEST(RaceServerPackets, TimesSplitIntoMinutesSecondsHundredths) {
    auto t = rs::SplitTime(65.07);
    EXPECT_EQ(t.minutes, 1);
    EXPECT_EQ(t.seconds, 5);
    EXPECT_EQ(t.hundredths, 7);
    t = rs::SplitTime(59.899);
    EXPECT_EQ(t.minutes, 0);
    EXPECT_EQ(t.seconds, 59);
    EXPECT_EQ(t.hundredths, 90);
    t = rs::SplitTime(720.0);
    EXPECT_EQ(t.minutes, 12);
    EXPECT_EQ(t.seconds, 0);
    EXPECT_EQ(t.hundredths, 0);
    t = rs::SplitTime(59.996);  // rounds up into the next minute, not to 0:59.100
    EXPECT_EQ(t.minutes, 1);
    EXPECT_EQ(t.seconds, 0);
    EXPECT_EQ(t.hundredths, 0);
}

TEST(RaceServerPackets, EventAndReplyPacketsPutEveryFieldAtItsOffset) {
    const std::string name24 = "^1ABCDEFGHIJ^2KLMNOPQRST";  // exactly 24 bytes, no terminator
    ASSERT_EQ(name24.size(), 24u);

    auto b = rs::BuildSta(17, 2, "BL2R");
    ASSERT_GE(b.size(), 26u);
    EXPECT_EQ(Type(b), "STA");
    EXPECT_EQ(U8(b, 12), 17u);
    EXPECT_EQ(U8(b, 15), 2u);
    EXPECT_EQ(Field(b, 20, 6), "BL2R");
    EXPECT_EQ(U8(b, 24), 0u);
    EXPECT_EQ(U8(b, 25), 0u);

    const std::string server32 = "^1Grid^7scope ^3Demo Server 1234";
    ASSERT_EQ(server32.size(), 32u);
    b = rs::BuildIsm(server32);
    ASSERT_GE(b.size(), 40u);
    EXPECT_EQ(Field(b, 8, 32), server32);

    b = rs::BuildVer(2);
    ASSERT_GE(b.size(), 19u);
    EXPECT_EQ(Type(b), "VER");
    EXPECT_EQ(U8(b, 18), 2u);

    b = rs::BuildNpl(31, name24, "FORMULA V8");
    ASSERT_GE(b.size(), 97u);
    EXPECT_EQ(Field(b, 28, 24), name24);
    EXPECT_EQ(Field(b, 60, 16), "FORMULA V8");
    EXPECT_EQ(U8(b, 96), 31u);

    b = rs::BuildPll(name24);
    ASSERT_GE(b.size(), 52u);
    EXPECT_EQ(Type(b), "PLL");
    EXPECT_EQ(Field(b, 28, 24), name24);

    b = rs::BuildLap(9, name24, "XR GT TURBO", rs::SplitTime(83.45), 4);
    ASSERT_GE(b.size(), 89u);
    EXPECT_EQ(Field(b, 52, 16), "XR GT TURBO");
    EXPECT_EQ(U8(b, 84), 1u);
    EXPECT_EQ(U8(b, 85), 23u);
    EXPECT_EQ(U8(b, 86), 45u);
    EXPECT_EQ(U8(b, 88), 9u);

    b = rs::BuildRes(name24, "UF1", rs::SplitTime(601.5), rs::SplitTime(71.09), 3);
    ASSERT_GE(b.size(), 103u);
    EXPECT_EQ(Field(b, 28, 24), name24);
    EXPECT_EQ(U8(b, 96), 10u);
    EXPECT_EQ(U8(b, 97), 1u);
    EXPECT_EQ(U8(b, 98), 50u);
    EXPECT_EQ(U8(b, 100), 1u);
    EXPECT_EQ(U8(b, 101), 11u);
    EXPECT_EQ(U8(b, 102), 9u);

    b = rs::BuildCpr(name24, "^4New Name");
    ASSERT_GE(b.size(), 76u);
    EXPECT_EQ(Field(b, 28, 24), name24);
    EXPECT_EQ(Field(b, 52, 24), "^4New Name");

    b = rs::BuildMso(std::string(300, 'x'));
    ASSERT_GE(b.size(), 132u);
    EXPECT_EQ(Field(b, 4, 128).size(), 127u) << "long chat lines are cut inside the field";

    b = rs::BuildRst(7, 0, 12);
    ASSERT_GE(b.size(), 6u);
    EXPECT_EQ(U8(b, 4), 7u);
    EXPECT_EQ(U8(b, 5), 0u);
    b = rs::BuildRst(0, 15, 12);
    EXPECT_EQ(U8(b, 4), 0u);
    EXPECT_EQ(U8(b, 5), 15u);

    EXPECT_EQ(Type(rs::BuildRen()), "REN");
}

TEST(RaceServerPackets, ReorderOfAFullFieldKeepsCountAndSlotsApart) {
    std::vector<int> order(32);
    for (int i = 0; i < 32; ++i) order[static_cast<std::size_t>(i)] = 31 - i;
    const auto b = rs::BuildReo(order);
    ASSERT_GE(b.size(), 67u);
    for (std::size_t i = 0; i < 32; ++i) EXPECT_EQ(U8(b, 4 + 2 * i), 31 - i) << "position " << i;
    EXPECT_EQ(U8(b, 61), 32u);

    const auto small = rs::BuildReo({2, 0, 1});
    EXPECT_EQ(U8(small, 4), 2u);
    EXPECT_EQ(U8(small, 6), 0u);
    EXPECT_EQ(U8(small, 8), 1u);
    EXPECT_EQ(U8(small, 61), 3u);
}

TEST(RelayPackets, ListChunksCarryEightEntriesAndTheTotal) {
    std::vector<gs::relay::RelayEntry> entries;
    for (int i = 0; i < 13; ++i) {
        gs::relay::RelayEntry e;
        e.name = "^" + std::to_string(i % 10) + "Server " + std::to_string(i);
        e.players = i * 2;
        e.password = i % 3 == 0 ? "pw" : "";
        entries.push_back(e);
    }
    entries[12].name = std::string(32, 'N');  // fills the field, no terminator
    const auto chunks = gs::relay::BuildChl(entries);
    ASSERT_EQ(chunks.size(), 2u);
    for (std::size_t c = 0; c < 2; ++c) {
        const Bytes& b = chunks[c];
        ASSERT_EQ(b.size(), 280u);
        EXPECT_EQ(Type(b), "CHL");
        EXPECT_EQ(U16(b, 4), 13u);
        for (std::size_t i = 0; i < 8; ++i) {
            const std::size_t e = 8 * c + i;
            if (e < 13) {
                EXPECT_EQ(Field(b, 8 + 32 * i, 32), entries[e].name);
                EXPECT_EQ(U8(b, 264 + i), static_cast<std::uint32_t>(entries[e].players));
                EXPECT_EQ(U8(b, 272 + i) & 1u, e % 3 == 0 ? 1u : 0u);
            } else {
                EXPECT_EQ(U8(b, 8 + 32 * i), 0u) << "unused entry " << i << " has an empty name";
            }
        }
    }
    const auto empty = gs::relay::BuildChl({});
    ASSERT_EQ(empty.size(), 1u);
    EXPECT_EQ(U16(empty[0], 4), 0u);
}

TEST(RelayPackets, ErrorAndInitPackets) {
    for (std::uint8_t flags : {0, 1, 2}) {
        const auto b = gs::relay::BuildErr(flags);
        ASSERT_GE(b.size(), 5u);
        EXPECT_EQ(Type(b), "ERR");
        EXPECT_EQ(U8(b, 4), flags);
    }
    const auto isi = gs::relay::BuildIsi("0123456789abcdef");
    ASSERT_EQ(isi.size(), 24u);
    EXPECT_EQ(Type(isi), "ISI");
    EXPECT_EQ(Field(isi, 8, 16), "0123456789abcdef");
}

TEST(RelayConfig, EntriesParseAndBadOnesAreRefusedWithTheReason) {
    auto e = gs::relay::ParseEntry("^1Grid^7scope ^3Demo|12|secret|127.0.0.1:29999|adm");
    EXPECT_EQ(e.name, "^1Grid^7scope ^3Demo");
    EXPECT_EQ(e.players, 12);
    EXPECT_EQ(e.password, "secret");
    ASSERT_TRUE(e.address);
    EXPECT_EQ(e.address->port, 29999);
    EXPECT_EQ(e.address->ip, 0x7F000001u);
    EXPECT_EQ(e.admin, "adm");
    e = gs::relay::ParseEntry("Listed only|5");
    EXPECT_FALSE(e.address);
    EXPECT_TRUE(e.password.empty());

    EXPECT_THROW(gs::relay::ParseEntry(std::string(33, 'x')), std::runtime_error);
    EXPECT_THROW(gs::relay::ParseEntry("a|300"), std::runtime_error);
    EXPECT_THROW(gs::relay::ParseEntry("a|1||127.0.0.1"), std::runtime_error);
    EXPECT_THROW(gs::relay::ParseEntry("a|1||127.0.0.1:99999"), std::runtime_error);
    EXPECT_THROW(gs::relay::ParseEntry("a|1|" + std::string(25, 'p')), std::runtime_error);
    EXPECT_THROW(gs::relay::ParseEntry("a|1|||x|y"), std::runtime_error);

    TempDir dir;
    const auto file = dir.path / "relay.conf";
    std::ofstream(file) << "# demo list\n\nOne|1\n  # indented comment\nTwo|2|pw\nThree|x\n";
    try {
        gs::relay::ReadRelayConfig(file.string());
        FAIL() << "bad line accepted";
    } catch (const std::runtime_error& err) {
        EXPECT_NE(std::string(err.what()).find("line 6"), std::string::npos) << err.what();
    }
    std::ofstream(file) << "One|1\r\nTwo|2|pw\n";
    const auto entries = gs::relay::ReadRelayConfig(file.string());
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].players, 1);
    EXPECT_EQ(entries[1].password, "pw");
}

TEST(RelayConfig, TheDemoListParses) {
    const auto entries = gs::relay::ReadRelayConfig(GS_DEMO_RELAY_CONF);
    ASSERT_EQ(entries.size(), 10u);
    EXPECT_EQ(entries[0].name, "^1Grid^7scope ^3Demo");
    ASSERT_TRUE(entries[0].address);
    EXPECT_EQ(entries[0].address->port, 29999);
    EXPECT_EQ(entries[1].password, "letmein");
    EXPECT_FALSE(entries[2].address);
}

TEST(PeerOptions, ValuesFlagsAndErrors) {
    const char* argv[] = {"prog", "--port", "123", "--name=^1A b", "--verbose", "--server", "x", "--server", "y"};
    const gs::peers::Options o(9, argv, {"port", "name", "server", "laps"}, {"verbose"});
    EXPECT_EQ(o.Integer("port", 0, 0, 65535), 123);
    EXPECT_EQ(o.Text("name", ""), "^1A b");
    EXPECT_TRUE(o.Has("verbose"));
    EXPECT_EQ(o.All("server"), (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(o.Integer("laps", 5, 1, 9), 5);
    EXPECT_THROW(o.Integer("port", 0, 0, 100), std::runtime_error);
    EXPECT_THROW(o.Integer("name", 0, 0, 100), std::runtime_error);

    const char* unknown[] = {"prog", "--colour", "red"};
    EXPECT_THROW(gs::peers::Options(3, unknown, {"port"}), std::runtime_error);
    const char* missing[] = {"prog", "--port"};
    EXPECT_THROW(gs::peers::Options(2, missing, {"port"}), std::runtime_error);
    const char* junk[] = {"prog", "--port", "12x"};
    EXPECT_THROW(gs::peers::Options(3, junk, {"port"}).Integer("port", 0, 0, 65535), std::runtime_error);
}

TEST(PathFiles, AnOvalReadsBackNodeForNode) {
    TempDir dir;
    Oval oval;
    oval.finish = 17;
    oval.Write(dir.path / "AS1.pth");
    const auto data = gs::peers::ReadPathFile(dir.path / "AS1.pth");
    const auto pts = oval.Points();
    ASSERT_EQ(data.nodes.size(), pts.size());
    EXPECT_EQ(data.finishNode, 17u);
    for (std::size_t i = 0; i < pts.size(); i += 37) {
        EXPECT_NEAR(data.nodes[i].x, pts[i][0], 1e-4);
        EXPECT_NEAR(data.nodes[i].y, pts[i][1], 1e-4);
        EXPECT_NEAR(data.nodes[i].z, 2.0, 1e-4);
        EXPECT_FLOAT_EQ(data.nodes[i].roadLeft, -6.f);
        EXPECT_FLOAT_EQ(data.nodes[i].roadRight, 6.f);
    }
}

TEST(PathFiles, BrokenFilesAreRefusedWithTheFileAndFault) {
    TempDir dir;
    const auto file = dir.path / "BL1.pth";
    Oval().Write(file);
    Bytes good;
    {
        std::ifstream in(file, std::ios::binary);
        good.assign(std::istreambuf_iterator<char>(in), {});
    }
    auto expectRefused = [&](const Bytes& bytes, const std::string& fault) {
        std::ofstream(file, std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        try {
            gs::peers::ReadPathFile(file);
            ADD_FAILURE() << "accepted a file with " << fault;
        } catch (const std::runtime_error& e) {
            const std::string what = e.what();
            EXPECT_NE(what.find("BL1.pth"), std::string::npos) << what;
            EXPECT_NE(what.find(fault), std::string::npos) << what;
        }
    };
    expectRefused(Bytes(good.begin(), good.begin() + 10), "header");
    expectRefused(Bytes(good.begin(), good.end() - 1), "bytes");  // last node cut short
    Bytes bad = good;
    bad[8] = 0xFF;
    bad[9] = 0xFF;
    bad[10] = 0xFF;
    bad[11] = 0x7F;  // absurd node count
    expectRefused(bad, "node count");
    bad = good;
    bad[8] = 2;
    bad[9] = 0;
    bad[10] = 0;
    bad[11] = 0;
    expectRefused(bad, "node count");
    bad = good;
    const std::uint32_t count = U32(good, 8);
    bad[12] = count & 0xFF;
    bad[13] = (count >> 8) & 0xFF;
    bad[14] = 0;
    bad[15] = 0;
    expectRefused(bad, "finish node");
    bad = good;
    bad[16 + 40 * 3 + 32] = 0x00;
    bad[16 + 40 * 3 + 33] = 0x00;
    bad[16 + 40 * 3 + 34] = 0xC0;
    bad[16 + 40 * 3 + 35] = 0x7F;  // NaN road limit
    expectRefused(bad, "finite");
    EXPECT_THROW(gs::peers::ReadPathFile(dir.path / "missing.pth"), std::runtime_error);
}

TEST(PathFiles, TrackCodesAndFileNames) {
    EXPECT_TRUE(gs::peers::IsCatalogueTrackCode("AS1"));
    EXPECT_TRUE(gs::peers::IsCatalogueTrackCode("WE3R"));
    EXPECT_FALSE(gs::peers::IsCatalogueTrackCode("AS4"));
    EXPECT_FALSE(gs::peers::IsCatalogueTrackCode("XX1"));
    EXPECT_FALSE(gs::peers::IsCatalogueTrackCode("AS1r"));
    EXPECT_FALSE(gs::peers::IsCatalogueTrackCode("AS"));
    EXPECT_EQ(gs::peers::PathFileFor("files", "BL1R"), std::filesystem::path("files/BL1r.pth"));
    EXPECT_EQ(gs::peers::PathFileFor("files", "BL1"), std::filesystem::path("files/BL1.pth"));
    EXPECT_EQ(gs::peers::CatalogueTrackCodes().size(), 36u);
}
