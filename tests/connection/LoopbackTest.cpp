// A whole direct connection over real loopback UDP: a test peer socket plays
// the race server, the core runs on its real socket with fake timers.
#include <gtest/gtest.h>

#include <cstring>

#include "connection/Connection.h"
#include "connection/UdpSocket.h"
#include "support/FakePlatform.h"
#include "support/LoopbackPeer.h"

namespace gs {
namespace {

using test::Bytes;
using test::PacketBuilder;

using PeerSocket = test::LoopbackPeer;

std::string Type(const Bytes& d) { return std::string(d.begin(), d.begin() + 3); }

class LoopbackTest : public ::testing::Test {
protected:
    test::FakeClock clock;
    test::FakeTimer timer1{50, false};
    test::FakeTimer timer2{5000, false};
    UdpSocket socket;
    test::RecordingShell shell;
    RaceState race;
    ServerList servers;
    Connection link{race, servers, ConnectionPorts{clock, timer1, timer2, socket, shell}};
    PeerSocket server;

    void SetUp() override { race.InitSampleClock(clock); }

    // One packet-timer tick after the peer's datagrams have surely arrived.
    void Tick() {
        ::usleep(20000);
        clock.AdvanceMs(timer1.interval);
        link.OnPacketTick();
    }
};

TEST_F(LoopbackTest, AWholeDirectConnection) {
    link.ConnectCommand("127.0.0.1", server.Port(), "admin");
    ASSERT_TRUE(socket.IsOpen());
    ASSERT_TRUE(timer1.enabled);

    Tick();
    auto got = server.ReceiveAll();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0],
              (Bytes{'I', 'S', 'I', 0, 0, 0, 0x31, 0, 'a', 'd', 'm', 'i', 'n', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    Tick();
    got = server.ReceiveAll();
    ASSERT_EQ(got.size(), 4u);
    EXPECT_EQ(got[0], (Bytes{'N', 'L', 'I', 0, 0xF4, 1, 0, 0}));
    EXPECT_EQ(got[1], (Bytes{'S', 'S', 'T', 0, 0, 0, 0, 0}));
    EXPECT_EQ(got[2], (Bytes{'I', 'S', 'M', 0, 0, 0, 0, 0}));
    EXPECT_EQ(got[3], (Bytes{'V', 'E', 'R', 0, 0, 0, 0, 0}));

    // The server answers: version mismatch, state, name, cars, players.
    server.Send(PacketBuilder("VER", 20).U8(18, 3));
    server.Send(PacketBuilder("STA", 28).U8(12, 3).U8(15, 1).Text(20, "BL1"));
    server.Send(PacketBuilder("ISM", 40).Text(8, "^1Loop^7back"));
    PacketBuilder mci("MCI", 12 + 3 * 24);
    mci.U8(8, 3).U8(9, 0);
    for (int k = 0; k < 3; ++k) mci.U16(12 + 24 * k, 100 + k).U8(14 + 24 * k, 1).I32(16 + 24 * k, 327680 * k);
    server.Send(mci);
    Tick();
    EXPECT_EQ(link.LinkState, lsLive);
    EXPECT_EQ(shell.tracks, std::vector<std::string>{"BL1"});
    EXPECT_EQ(shell.Caption(), "Gridscope  -  connected to Loopback");
    got = server.ReceiveAll();
    // Car info while live sends no SST/ISM (the state packet went live first),
    // but asks for the three unnamed players.
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], (Bytes{'N', 'P', 'L', 0, 0, 0, 0, 0}));
    EXPECT_EQ(got[2], (Bytes{'N', 'P', 'L', 0, 2, 0, 0, 0}));

    server.Send(PacketBuilder("NPL", 100).Text(28, "^1Ann").Text(60, "XF GTI").U8(96, 0));
    server.Send(PacketBuilder("NPL", 100).Text(28, "Ben").Text(60, "FZ50").U8(96, 1));
    server.Send(PacketBuilder("NPL", 100).Text(28, "Cy").Text(60, "RA").U8(96, 2));
    server.Send(PacketBuilder("RST", 8).U8(4, 5));
    server.Send(PacketBuilder("LAP", 92).Text(52, "XF GTI").U8(84, 1).U8(85, 2).U8(86, 3).U8(88, 0));
    server.Send(PacketBuilder("CPR", 76).Text(28, "Ben").Text(52, "^3Benjamin"));
    server.Send(PacketBuilder("REO", 64).U8(4, 1).U8(6, 0).U8(8, 2).U8(61, 3));
    server.Send(PacketBuilder("MSO", 132).Text(4, "Ann: hello"));
    server.Send(
        PacketBuilder("RES", 104).Text(28, "Ann").U8(96, 5).U8(97, 6).U8(98, 7).U8(100, 1).U8(101, 2).U8(102, 3));
    server.Send(PacketBuilder("PLL", 52).Text(28, "Cy"));
    server.Send(PacketBuilder("REN", 4));
    Tick();
    EXPECT_EQ(timer1.interval, 50);
    EXPECT_EQ(race.PlayerCount, 2);
    EXPECT_STREQ(race.Players[0].Name, "Benjamin");
    EXPECT_STREQ(race.Players[1].Name, "Ann");
    EXPECT_EQ(race.Players[1].Finished, 1);
    EXPECT_EQ(race.Players[1].TotalMin, 5);
    EXPECT_EQ(shell.Caption(), "Gridscope  -  connected to Loopback  -  5 Laps Race on BL1");
    EXPECT_EQ(shell.repaints, 1);
    const std::vector<std::string> expectedLog = {
        "Warning! Server uses possibly incompatible InSim Version.",
        "Connected to Server : Loopback",
        "Ann finishes Lap 1 in 1:02.03",
        "   Ann: hello",
        "Race End",
    };
    ASSERT_GE(race.Log.Size(), expectedLog.size());
    for (std::size_t i = 0; i < expectedLog.size(); ++i)
        EXPECT_EQ(race.Log.At(race.Log.Size() - expectedLog.size() + i), expectedLog[i]);

    // Keep-alive, then silence until the time-out.
    link.OnKeepAliveTick();
    got = server.ReceiveAll();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(Type(got[0]), "ACK");
    EXPECT_EQ(Type(got[1]), "ISM");
    EXPECT_EQ(Type(got[2]), "SST");
    for (int i = 0; i < 1209; ++i) link.OnPacketTick();
    EXPECT_EQ(link.LinkState, lsRefreshed);
    link.OnPacketTick();
    EXPECT_EQ(link.LinkState, lsIdle);
    EXPECT_EQ(race.Log.Newest(), "Disconnected from Loopback");
    got = server.ReceiveAll();
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0], (Bytes{'I', 'S', 'C', 0, 0, 0, 0, 0}));
    EXPECT_FALSE(socket.IsOpen());
    EXPECT_EQ(shell.Caption(), "Gridscope");
}

TEST_F(LoopbackTest, NoAnswerTimesOutAfterSevenTicks) {
    link.ConnectCommand("127.0.0.1", server.Port(), "");
    for (int i = 0; i < 6; ++i) link.OnPacketTick();
    EXPECT_EQ(link.LinkState, lsRequested);
    link.OnPacketTick();
    EXPECT_EQ(link.LinkState, lsIdle);
    EXPECT_EQ(race.Log.Newest(), "Connection Timed Out");
}

TEST_F(LoopbackTest, ARefusedPortIsOnlyAnEmptyRead) {
    // Nobody listens on the peer's port once it is closed: the kernel reports
    // the refusal on receive, which the drain takes as "nothing pending".
    int port;
    {
        PeerSocket gone;
        port = gone.Port();
    }
    link.ConnectCommand("127.0.0.1", port, "");
    Tick();
    Tick();
    Tick();
    EXPECT_EQ(link.LinkState, lsRequested);
    EXPECT_EQ(link.IdleTicks, 3u);
}

// Dotted addresses in their classic short and octal/hexadecimal forms name
// the host that the classic resolver names.
TEST(UdpSocketTest, ShortDottedAddressesReachTheirHost) {
    PeerSocket peer;
    for (const char* host : {"127.1", "127.0.1", "0x7f.1", "0177.0.0.1", "2130706433"}) {
        UdpSocket s;
        std::string error;
        ASSERT_TRUE(s.Open(host, std::to_string(peer.Port()), error)) << host << ": " << error;
        s.Send(host, std::strlen(host));
        const auto got = peer.ReceiveAll(1000);
        ASSERT_EQ(got.size(), 1u) << host;
        EXPECT_EQ(std::string(got[0].begin(), got[0].end()), host);
    }
}

TEST(UdpSocketTest, RefusesBadAddressesWithAReason) {
    UdpSocket s;
    std::string error;
    EXPECT_FALSE(s.Open("1.2.3.4.5", "100", error));
    EXPECT_EQ(error, "Cannot find server \"1.2.3.4.5\"");
    EXPECT_FALSE(s.Open("256.1.1.1", "100", error));
    EXPECT_FALSE(s.Open("1.2.3x", "100", error));
    EXPECT_FALSE(s.Open("", "100", error));
    EXPECT_FALSE(s.Open("host.invalid", "100", error));
    EXPECT_FALSE(s.Open("127.0.0.1", "0", error));
    EXPECT_EQ(error, "Cannot use port \"0\"");
    EXPECT_FALSE(s.IsOpen());
    EXPECT_EQ(s.Receive(nullptr, 0), -1);
    EXPECT_TRUE(s.Open("localhost", "9", error));  // a name and a number
    EXPECT_TRUE(s.IsOpen());
    s.Close();
    s.Close();
    EXPECT_FALSE(s.IsOpen());
}

}  // namespace
}  // namespace gs
