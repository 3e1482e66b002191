// The connection driven by hand: fake clock, timers and socket, packets built
// byte by byte at the offsets the servers use.
#include <gtest/gtest.h>

#include <cstring>

#include "connection/Connection.h"
#include "support/FakePlatform.h"

namespace gs {
namespace {

using test::Bytes;
using test::PacketBuilder;

class ConnectionTest : public ::testing::Test {
protected:
    test::FakeClock clock;
    test::FakeTimer timer1{50, false};
    test::FakeTimer timer2{5000, false};
    test::FakeSocket socket;
    test::RecordingShell shell;
    RaceState race;
    ServerList servers;
    Connection link{race, servers, ConnectionPorts{clock, timer1, timer2, socket, shell}};

    void SetUp() override { race.InitSampleClock(clock); }

    // Connect directly and run the first two ticks: ISI, then the requests.
    void ConnectDirect(const std::string& password = "secret") {
        link.ConnectCommand("127.0.0.1", 29999, password);
        link.OnPacketTick();
        link.OnPacketTick();
    }
    void Receive(const Bytes& datagram) { socket.incoming.push_back(datagram); }
    void Tick() {
        clock.AdvanceMs(timer1.interval);
        link.OnPacketTick();
    }
    std::vector<std::string> TakeSent() {
        auto types = socket.SentTypes();
        socket.sent.clear();
        return types;
    }
    static Bytes CarInfo(int count, int first, int cars, int node = 10, int lap = 1) {
        PacketBuilder p("MCI", 12 + 24 * cars);
        p.U8(8, count).U8(9, first);
        for (int k = 0; k < cars; ++k) {
            const std::size_t at = 12 + 24 * k;
            p.U16(at, node + k)
                .U8(at + 2, lap)
                .I32(at + 4, 327680 * (k + 1))
                .I32(at + 8, -65536)
                .I32(at + 12, 655360)
                .U16(at + 16, 10000)
                .U16(at + 20, 16384);
        }
        return p;
    }
    static Bytes NewPlayer(int slot, const std::string& name, const std::string& car) {
        return PacketBuilder("NPL", 100).Text(28, name).Text(60, car).U8(96, slot);
    }
    static Bytes Lap(int slot, int m, int s, int h, const std::string& car = "XR GT") {
        return PacketBuilder("LAP", 92).Text(52, car).U8(84, m).U8(85, s).U8(86, h).U8(88, slot);
    }
    static Bytes ServerName(const std::string& name) { return PacketBuilder("ISM", 40).Text(8, name); }
    static Bytes State(int players, int mode, const std::string& track) {
        return PacketBuilder("STA", 28).U8(12, players).U8(15, mode).Text(20, track);
    }
};

TEST_F(ConnectionTest, DirectHandshakeSendsInitThenRequests) {
    link.ConnectCommand("127.0.0.1", 29999, "0123456789abcdefXYZ");
    EXPECT_EQ(socket.host, "127.0.0.1");
    EXPECT_EQ(socket.port, "29999");
    EXPECT_TRUE(timer1.enabled);
    EXPECT_TRUE(timer2.enabled);
    EXPECT_TRUE(socket.sent.empty());  // nothing goes out on the connect event
    EXPECT_EQ(race.Log.Newest(), "Connecting");

    link.OnPacketTick();
    ASSERT_EQ(socket.sent.size(), 1u);
    const Bytes& isi = socket.sent[0];
    ASSERT_EQ(isi.size(), 24u);
    const Bytes expected = {'I', 'S', 'I', 0,   0,   0,   0x31, 0,   '0', '1', '2', '3',
                            '4', '5', '6', '7', '8', '9', 'a',  'b', 'c', 'd', 'e', 'f'};
    EXPECT_EQ(isi, expected);  // a 16-character password fills the field, no terminator
    EXPECT_EQ(link.LinkState, lsHelloSent);
    EXPECT_EQ(timer1.interval, 500);
    TakeSent();

    link.OnPacketTick();
    EXPECT_EQ(TakeSent(), (std::vector<std::string>{"NLI", "SST", "ISM", "VER"}));
    EXPECT_EQ(link.LinkState, lsRequested);
    link.OnPacketTick();
    EXPECT_TRUE(socket.sent.empty());
}

TEST_F(ConnectionTest, GeneralPacketIsTypeZeroAndLittleEndianValue) {
    socket.open = true;
    link.SendInSimPack("NLI", 500);
    ASSERT_EQ(socket.sent.size(), 1u);
    EXPECT_EQ(socket.sent[0], (Bytes{'N', 'L', 'I', 0, 0xF4, 0x01, 0, 0}));
}

TEST_F(ConnectionTest, ShortPasswordIsZeroPadded) {
    link.PrepareInit("pw");
    const std::uint8_t* isi = link.InitPacket();
    EXPECT_EQ(isi[8], 'p');
    EXPECT_EQ(isi[9], 'w');
    for (int i = 10; i < 24; ++i) EXPECT_EQ(isi[i], 0);
}

TEST_F(ConnectionTest, TimeOutFiguresByState) {
    // Waiting for the first answer: 7 ticks of 500 ms.
    ConnectDirect();
    for (int i = 0; i < 4; ++i) link.OnPacketTick();  // ticks 3..6: IdleTicks 6, q = 6
    EXPECT_EQ(link.LinkState, lsRequested);
    link.OnPacketTick();
    EXPECT_EQ(link.LinkState, lsIdle);
    EXPECT_EQ(race.Log.Newest(), "Connection Timed Out");
    EXPECT_FALSE(timer1.enabled);
    EXPECT_FALSE(socket.open);
}

TEST_F(ConnectionTest, LiveConnectionTimesOutAfter1210SilentTicks) {
    ConnectDirect();
    Receive(ServerName("^1Test ^7Server"));
    Receive(State(0, 1, "AS1"));
    Tick();
    Receive(State(0, 1, "AS1"));  // a datagram in lsLive sets the 50 ms interval
    Tick();
    ASSERT_EQ(timer1.interval, 50);
    for (int i = 0; i < 1209; ++i) link.OnPacketTick();
    EXPECT_EQ(link.LinkState, lsLive);
    link.OnPacketTick();
    EXPECT_EQ(link.LinkState, lsIdle);
    EXPECT_EQ(race.Log.Newest(), "Disconnected from Test Server");
}

TEST_F(ConnectionTest, RelayListTimesOutAfter121SilentTicks) {
    link.GetServerListBegin();
    link.GetServerListOpen("relay.example", 47474);
    link.OnPacketTick();
    EXPECT_EQ(TakeSent(), std::vector<std::string>{"CCN"});
    Receive(PacketBuilder("CHL", 280).U16(4, 0));
    link.OnPacketTick();
    ASSERT_EQ(link.LinkState, lsRelayList);
    for (int i = 0; i < 120; ++i) link.OnPacketTick();
    EXPECT_EQ(link.LinkState, lsRelayList);
    link.OnPacketTick();
    EXPECT_EQ(link.LinkState, lsIdle);
    EXPECT_EQ(race.Log.Newest(), "Disconnected");
}

TEST_F(ConnectionTest, ThroughTheRelayOnlyTheRequestGoesOutUntilItAnswers) {
    link.GetServerListOpen("relay.example", 47474);
    link.OnPacketTick();
    ASSERT_EQ(socket.sent.size(), 1u);
    EXPECT_EQ(socket.sent[0], (Bytes{'C', 'C', 'N', 0, 3, 0, 0, 1}));
    link.OnPacketTick();
    link.OnPacketTick();
    EXPECT_EQ(socket.sent.size(), 1u);
    EXPECT_EQ(link.LinkState, lsHelloSent);
}

TEST_F(ConnectionTest, AnyDatagramKeepsTheHandshakeAlive) {
    ConnectDirect();
    for (int i = 0; i < 20; ++i) {
        Receive(PacketBuilder("VER", 20).U8(18, 1));
        link.OnPacketTick();
        link.OnPacketTick();
        link.OnPacketTick();
    }
    EXPECT_EQ(link.LinkState, lsRequested);
    Receive(PacketBuilder("XYZ", 4));  // unknown types count as traffic too
    for (int i = 0; i < 6; ++i) link.OnPacketTick();
    EXPECT_EQ(link.LinkState, lsRequested);
    Receive(CarInfo(1, 0, 1));
    link.OnPacketTick();
    EXPECT_EQ(link.LinkState, lsLive);
}

TEST_F(ConnectionTest, KeepAliveRefreshesOnce) {
    ConnectDirect();
    Receive(State(0, 0, "AS1"));
    Tick();
    TakeSent();
    link.OnKeepAliveTick();
    EXPECT_EQ(timer2.interval, 20000);
    EXPECT_EQ(TakeSent(), (std::vector<std::string>{"ACK", "ISM", "SST"}));
    EXPECT_EQ(link.LinkState, lsRefreshed);
    link.OnKeepAliveTick();
    EXPECT_EQ(TakeSent(), std::vector<std::string>{"ACK"});
}

TEST_F(ConnectionTest, DisconnectOrderAndWhatItKeeps) {
    ConnectDirect();
    Receive(ServerName("^2My^3Server"));
    Receive(State(2, 1, "BL1"));
    Receive(NewPlayer(0, "Alex", "XF GTI"));
    Tick();
    link.OnKeepAliveTick();
    TakeSent();
    link.Disconnect();
    EXPECT_EQ(TakeSent(), std::vector<std::string>{"ISC"});  // sent before the socket closes
    EXPECT_EQ(race.Log.Newest(), "Disconnected from MyServer");
    EXPECT_EQ(shell.Caption(), "Gridscope");
    EXPECT_EQ(race.PlayerCount, 0);
    EXPECT_EQ(race.ServerName[0], '\0');
    EXPECT_STREQ(race.TrackCode, "BL1");
    EXPECT_STREQ(race.Players[0].Name, "Alex");
    EXPECT_EQ(timer2.interval, 5000);
    EXPECT_EQ(timer1.interval, 50);  // the next first tick sets 500
    EXPECT_EQ(link.ConnectionMode, cmDirect);
    const std::size_t lines = race.Log.Size();
    link.Disconnect();  // idle: nothing at all
    EXPECT_EQ(race.Log.Size(), lines);
    EXPECT_EQ(socket.closes, 1);
}

TEST_F(ConnectionTest, ConnectCommandByState) {
    // Ending a handshake by command still reads as a time-out.
    ConnectDirect();
    link.ConnectCommand("127.0.0.1", 29999, "pw");
    EXPECT_EQ(race.Log.At(race.Log.Size() - 2), "Connection Timed Out");
    EXPECT_EQ(race.Log.Newest(), "Connecting");
    EXPECT_EQ(link.LinkState, lsIdle);
    link.OnPacketTick();
    EXPECT_EQ(socket.SentTypes().back(), "ISI");  // a fresh start with the init packet

    // While race data flows, Connect disconnects, even for the relay's name.
    Receive(State(0, 0, "AS1"));
    link.OnPacketTick();
    link.ConnectCommand(RelayHostName, 1, "");
    EXPECT_EQ(link.LinkState, lsIdle);
    // Idle: the relay's name is refused with two lines.
    link.ConnectCommand(RelayHostName, 1, "");
    EXPECT_EQ(race.Log.At(race.Log.Size() - 2), "No direct connection to Relay Server possible.");
    EXPECT_EQ(race.Log.Newest(), "Use \"Get Server List\".");
    EXPECT_FALSE(socket.open);
}

TEST_F(ConnectionTest, UnresolvableHostAddsOneLineAndStaysIdle) {
    socket.failOpen = true;
    link.ConnectCommand("no.such.host", 1, "");
    EXPECT_EQ(race.Log.Newest(), "Cannot find server \"no.such.host\"");
    EXPECT_EQ(race.Log.At(race.Log.Size() - 2), "Connecting");
    EXPECT_FALSE(timer1.enabled);
    EXPECT_EQ(link.LinkState, lsIdle);
}

TEST_F(ConnectionTest, CarInfoGoesLiveRequestsNamesAndFillsSlots) {
    ConnectDirect();
    TakeSent();
    Receive(NewPlayer(1, "^1Bo", "LX6"));  // before the count covers it: stored anyway
    Receive(CarInfo(11, 8, 3, 40, 2));
    clock.AdvanceMs(100);
    link.OnPacketTick();
    EXPECT_EQ(link.LinkState, lsLive);
    EXPECT_EQ(race.Clock.Now, clock.now);
    ASSERT_GE(socket.sent.size(), 4u);
    EXPECT_EQ(socket.sent[2], (Bytes{'N', 'P', 'L', 0, 0, 0, 0, 0}));
    EXPECT_EQ(socket.sent[3], (Bytes{'N', 'P', 'L', 0, 2, 0, 0, 0}));  // slot 1 has its name
    auto sent = TakeSent();
    ASSERT_GE(sent.size(), 2u);
    EXPECT_EQ(sent[0], "SST");
    EXPECT_EQ(sent[1], "ISM");
    EXPECT_EQ(sent.size(), 2u + 10u);  // NPL for every unnamed live slot (all but slot 1)
    EXPECT_EQ(race.PlayerCount, 11);
    for (int s = 0; s < 8; ++s) EXPECT_EQ(race.Players[s].SampleCount, 0) << s;
    for (int s = 8; s < 11; ++s) EXPECT_EQ(race.Players[s].SampleCount, 1) << s;
    const PlayerRecord& p = race.Players[8];
    EXPECT_EQ(p.Node, 40u);
    EXPECT_EQ(p.Lap, 2);
    EXPECT_FLOAT_EQ(p.Samples[0].X, 1.0f);
    EXPECT_FLOAT_EQ(p.Samples[0].Y, -0.2f);
    EXPECT_FLOAT_EQ(p.Z, 2.0f);
    EXPECT_FLOAT_EQ(p.Samples[0].Speed, 110.0f);
    EXPECT_FLOAT_EQ(p.Samples[0].Heading, static_cast<float>(16384 * 9.590688592259547e-5));
}

TEST_F(ConnectionTest, CarInfoWithFiveAndAFourthTypeByte) {
    ConnectDirect();
    Bytes mci = CarInfo(5, 0, 5);
    mci[3] = 0x7F;
    Receive(mci);
    link.OnPacketTick();
    for (int s = 0; s < 5; ++s) EXPECT_EQ(race.Players[s].SampleCount, 1);
}

TEST_F(ConnectionTest, ShortAndHostileCarInfoIsDroppedOrBounded) {
    ConnectDirect();
    Bytes shortOne = CarInfo(3, 0, 3);
    shortOne.resize(shortOne.size() - 1);
    Receive(shortOne);
    link.OnPacketTick();
    EXPECT_EQ(link.LinkState, lsRequested);  // dropped whole
    EXPECT_EQ(race.PlayerCount, 0);
    EXPECT_EQ(link.IdleTicks, 0u);  // but counted as traffic
    Receive(CarInfo(200, 30, 2));   // count clamped to 32: slots 30, 31
    link.OnPacketTick();
    EXPECT_EQ(race.PlayerCount, 32);
    EXPECT_EQ(race.Players[30].SampleCount, 1);
    EXPECT_EQ(race.Players[31].SampleCount, 1);
    Receive(CarInfo(40, 250, 0));  // first index beyond the table: no cars
    link.OnPacketTick();
    EXPECT_EQ(race.PlayerCount, 32);
}

TEST_F(ConnectionTest, LapLineAndTimes) {
    ConnectDirect();
    Receive(CarInfo(2, 0, 2, 5, 3));
    Receive(NewPlayer(0, "^7Alex", "XR GT"));
    Receive(Lap(0, 1, 5, 7));
    Receive(Lap(0, 0, 59, 90));
    Receive(Lap(0, 12, 0, 0, "FZ50"));
    Receive(Lap(40, 1, 1, 1));  // a slot outside the table is ignored
    link.OnPacketTick();
    const std::size_t n = race.Log.Size();
    EXPECT_EQ(race.Log.At(n - 3), "Alex finishes Lap 3 in 1:05.07");
    EXPECT_EQ(race.Log.At(n - 2), "Alex finishes Lap 3 in 0:59.90");
    EXPECT_EQ(race.Log.At(n - 1), "Alex finishes Lap 3 in 12:00.00");
    EXPECT_EQ(race.Players[0].BestSec, 59);
    EXPECT_EQ(race.Players[0].TotalMin, 14);
    EXPECT_EQ(race.Players[0].TotalSec, 4);
    EXPECT_EQ(race.Players[0].TotalHund, 97);
    EXPECT_STREQ(race.Players[0].Car, "FZ50");
}

TEST_F(ConnectionTest, ServerNameCaptionAndRaceStartCaptions) {
    ConnectDirect();
    Receive(State(0, 1, "KY2R"));
    Receive(ServerName("^1Fast ^7Laps"));
    Receive(ServerName("^1Fast ^7Laps"));  // same 32 bytes: nothing
    link.OnPacketTick();
    EXPECT_EQ(race.Log.Newest(), "Connected to Server : Fast Laps");
    EXPECT_EQ(std::count(race.Log.Newest().begin(), race.Log.Newest().end(), ':'), 1);
    EXPECT_EQ(shell.captions.size(), 1u);
    EXPECT_EQ(shell.Caption(), "Gridscope  -  connected to Fast Laps");

    Receive(PacketBuilder("RST", 8).U8(4, 12).U8(5, 20));
    link.OnPacketTick();
    EXPECT_EQ(shell.Caption(), "Gridscope  -  connected to Fast Laps  -  12 Laps Race on KY2R");
    EXPECT_EQ(race.RaceMode, rmRace);
    Receive(PacketBuilder("RST", 8).U8(4, 0).U8(5, 20));
    link.OnPacketTick();
    EXPECT_EQ(shell.Caption(), "Gridscope  -  connected to Fast Laps  -  20 Minutes Quali on KY2R");
    const std::size_t captions = shell.captions.size();
    Receive(PacketBuilder("RST", 8));
    link.OnPacketTick();
    EXPECT_EQ(shell.captions.size(), captions);
    EXPECT_EQ(race.RaceMode, rmNone);
}

TEST_F(ConnectionTest, StateLoadsNewTracksOnlyAndAppliesCountAndMode) {
    ConnectDirect();
    Receive(CarInfo(3, 0, 3));
    Receive(State(3, 1, "AS1"));  // the first state always loads, even AS1
    Receive(State(6, 2, "AS1"));  // same track: no load
    link.OnPacketTick();
    EXPECT_EQ(shell.tracks, std::vector<std::string>{"AS1"});
    EXPECT_EQ(race.PlayerCount, 6);
    for (int s = 3; s < 6; ++s) EXPECT_EQ(race.Players[s].SampleCount, 0);
    EXPECT_EQ(race.RaceMode, rmQualify);
    Receive(PacketBuilder("STA", 26).U8(12, 2).Text(20, "BL1R\0\0"));
    link.OnPacketTick();
    EXPECT_EQ(shell.tracks.back(), "BL1R");
    EXPECT_EQ(race.PlayerCount, 2);
    Receive(PacketBuilder("STA", 26).U8(12, 2).Text(20, "WE3XYZ"));  // full field, no terminator
    link.OnPacketTick();
    EXPECT_EQ(shell.tracks.back(), "WE3XYZ");
}

TEST_F(ConnectionTest, VersionWarningLeavesTheConnectionGoing) {
    ConnectDirect();
    const std::size_t lines = race.Log.Size();
    Receive(PacketBuilder("VER", 20).U8(18, 1));
    link.OnPacketTick();
    EXPECT_EQ(race.Log.Size(), lines);
    Receive(PacketBuilder("VER", 20).U8(18, 2));
    link.OnPacketTick();
    EXPECT_EQ(race.Log.Newest(), "Warning! Server uses possibly incompatible InSim Version.");
    EXPECT_EQ(link.LinkState, lsRequested);
}

TEST_F(ConnectionTest, LeaveRenameResultReorderChatAndRaceEnd) {
    ConnectDirect();
    Receive(CarInfo(3, 0, 3));
    Receive(NewPlayer(0, "^1Ann", "UF1"));
    Receive(NewPlayer(1, "Ben", "RA"));
    Receive(NewPlayer(2, "Cy", "LX4"));
    Receive(PacketBuilder("CPR", 76).Text(28, "B^4en").Text(52, "^2Benny"));
    Receive(PacketBuilder("RES", 104).Text(28, "Cy").U8(96, 10).U8(97, 1).U8(98, 2).U8(100, 1).U8(101, 3).U8(102, 4));
    Receive(PacketBuilder("REO", 64).U8(4, 2).U8(6, 0).U8(8, 1).U8(61, 3));
    Receive(PacketBuilder("MSO", 132).Text(4, "Hello world"));
    Receive(PacketBuilder("REN", 4));
    link.OnPacketTick();
    EXPECT_STREQ(race.Players[0].Name, "Cy");
    EXPECT_EQ(race.Players[0].Finished, 1);
    EXPECT_EQ(race.Players[0].TotalMin, 10);
    EXPECT_STREQ(race.Players[1].Name, "Ann");
    EXPECT_STREQ(race.Players[2].Name, "Benny");
    EXPECT_EQ(shell.repaints, 1);
    EXPECT_EQ(race.Log.At(race.Log.Size() - 2), "   Hello world");
    EXPECT_EQ(race.Log.Newest(), "Race End");
    Receive(PacketBuilder("PLL", 52).Text(28, "^5Ann"));
    link.OnPacketTick();
    EXPECT_EQ(race.PlayerCount, 2);
    EXPECT_STREQ(race.Players[1].Name, "Benny");
}

TEST_F(ConnectionTest, MessageFieldIsReadWithinItsWidth) {
    ConnectDirect();
    Bytes mso = PacketBuilder("MSO", 140).Text(4, std::string(128, 'm')).Text(132, "TAIL");
    Receive(mso);
    link.OnPacketTick();
    EXPECT_EQ(race.Log.Newest(), "   " + std::string(128, 'm'));
}

TEST_F(ConnectionTest, ShortDatagramsOfEveryTypeAreDroppedButCountAsTraffic) {
    ConnectDirect();
    Receive(CarInfo(2, 0, 2));
    link.OnPacketTick();
    const std::size_t lines = race.Log.Size();
    const struct {
        const char* type;
        std::size_t size;
    } cases[] = {
        {"STA", 25},  {"NPL", 96}, {"PLL", 51}, {"ISM", 39}, {"LAP", 88},  {"RES", 102}, {"CPR", 75},
        {"MSO", 131}, {"RST", 5},  {"VER", 18}, {"REO", 61}, {"CHL", 279}, {"ERR", 4},
    };
    for (const auto& c : cases) {
        Bytes d = PacketBuilder(c.type, c.size).U8(c.size - 1, 0xFF);
        if (std::string(c.type) == "VER") d[c.size - 1] = 0;
        Receive(d);
        link.OnPacketTick();
        EXPECT_EQ(link.IdleTicks, 0u) << c.type;
    }
    EXPECT_EQ(race.Log.Size(), lines);
    EXPECT_EQ(race.PlayerCount, 2);
    EXPECT_EQ(link.LinkState, lsLive);
    EXPECT_TRUE(shell.tracks.empty());
}

TEST_F(ConnectionTest, ReorderNeedsOneOrderByteForEveryPlayer) {
    ConnectDirect();
    Receive(CarInfo(32, 0, 8));
    link.OnPacketTick();
    Receive(PacketBuilder("REO", 66).U8(61, 32));  // 4 + 2 * 31 = 66: one byte short
    link.OnPacketTick();
    EXPECT_EQ(shell.repaints, 0);
    Receive(PacketBuilder("REO", 67).U8(61, 32));
    link.OnPacketTick();
    EXPECT_EQ(shell.repaints, 1);
}

TEST_F(ConnectionTest, AFloodIsHandledOverSeveralTicks) {
    ConnectDirect();
    for (int i = 0; i < Connection::MaxDatagramsPerTick + 10; ++i) Receive(PacketBuilder("ACK", 8));
    link.OnPacketTick();
    EXPECT_EQ(socket.incoming.size(), 10u);
    link.OnPacketTick();
    EXPECT_TRUE(socket.incoming.empty());
}

TEST_F(ConnectionTest, ASlowDrainYieldsTheTickAfterItsTimeBudget) {
    // Every clock read moves 5 ms on here, one per datagram handled: past the
    // 25 ms budget after the sixth, the tick yields.
    class SlowClock : public test::FakeClock {
    public:
        std::int64_t Counter() const override { return now += frequency / 200; }  // 5 ms a read
    } slow;
    Connection slowLink{race, servers, ConnectionPorts{slow, timer1, timer2, socket, shell}};
    slowLink.ConnectCommand("127.0.0.1", 1, "");
    for (int i = 0; i < 20; ++i) socket.incoming.push_back(PacketBuilder("ACK", 8));
    slowLink.OnPacketTick();
    EXPECT_EQ(socket.incoming.size(), 20u - 6u);
}

// ---------------------------------------------------------------- relay side

TEST_F(ConnectionTest, ChunksFillTheStoreByTheirCountingRules) {
    link.GetServerListOpen("relay", 1);
    link.OnPacketTick();
    auto chunk = [](int total, int names) {
        PacketBuilder p("CHL", 280);
        p.U16(4, total);
        for (int i = 0; i < names; ++i) p.Text(8 + 32 * i, "^1S" + std::to_string(i)).U8(264 + i, i).U8(272 + i, i & 1);
        return Bytes(p);
    };
    Receive(chunk(13, 8));
    link.OnPacketTick();
    EXPECT_EQ(servers.total, 13);
    EXPECT_EQ(servers.received, 8);
    EXPECT_EQ(link.LinkState, lsRelayList);
    Receive(chunk(13, 5));
    link.OnPacketTick();
    EXPECT_EQ(servers.received, 13);
    EXPECT_STREQ(servers.names[12], "^1S4");
    EXPECT_EQ(servers.players[12], 4);
    EXPECT_EQ(servers.flags[11], 1);
    Receive(chunk(13, 8));  // nothing left to store
    link.OnPacketTick();
    EXPECT_EQ(servers.received, 13);
    EXPECT_EQ(shell.serverListChanges, 3);

    link.Refresh();
    EXPECT_EQ(socket.sent.back(), (Bytes{'C', 'C', 'N', 0, 2, 0, 0, 1}));
    EXPECT_EQ(race.Log.Newest(), "Requesting new Serverlist");
    EXPECT_EQ(servers.received, 0);
    Receive(chunk(0, 0));
    link.OnPacketTick();
    EXPECT_EQ(servers.received, 0);

    Receive(chunk(20, 5));  // names 5..7 empty: only 5 counted
    link.OnPacketTick();
    EXPECT_EQ(servers.received, 5);
}

TEST_F(ConnectionTest, AListLongerThanTheStoreKeepsTheFirst512) {
    link.GetServerListOpen("relay", 1);
    link.OnPacketTick();
    for (int c = 0; c < 70; ++c) {
        PacketBuilder p("CHL", 280);
        p.U16(4, 600);
        for (int i = 0; i < 8; ++i) p.Text(8 + 32 * i, "S" + std::to_string(c * 8 + i));
        Receive(p);
    }
    link.OnPacketTick();
    EXPECT_EQ(servers.received, 512);
    EXPECT_STREQ(servers.names[511], "S511");
}

TEST_F(ConnectionTest, RelayErrorsByFlag) {
    for (int flags : {0, 4, 1}) {
        link.GetServerListOpen("relay", 1);
        link.OnPacketTick();
        Receive(PacketBuilder("ERR", 5).U8(4, flags));
        link.OnPacketTick();
        EXPECT_EQ(race.Log.Newest(), flags == 1 ? "Wrong Spectator Password" : "Unknown Error Message from Host");
        EXPECT_EQ(link.LinkState, lsHelloSent);
        link.Disconnect();
    }
    link.GetServerListOpen("relay", 1);
    link.OnPacketTick();
    Receive(PacketBuilder("ERR", 5).U8(4, 3));
    link.OnPacketTick();
    const std::size_t n = race.Log.Size();
    EXPECT_EQ(race.Log.At(n - 3), "Wrong Spectator Password");
    EXPECT_EQ(race.Log.At(n - 2), "Relay Server Full");
    EXPECT_EQ(race.Log.At(n - 1), "Connection Timed Out");
    EXPECT_EQ(link.LinkState, lsIdle);
}

TEST_F(ConnectionTest, SpectateSendsTheNameAsReceivedAndThePassword) {
    link.GetServerListOpen("relay", 1);
    link.OnPacketTick();
    link.Spectate(1, "pw");
    EXPECT_EQ(socket.sent.size(), 1u);  // empty list: nothing
    Receive(PacketBuilder("CHL", 280).U16(4, 2).Text(8, "^1Red^7Server").Text(40, "Other"));
    link.OnPacketTick();
    link.Spectate(1, std::string(30, 'p'));
    ASSERT_EQ(socket.sent.size(), 2u);
    const Bytes& hos = socket.sent.back();
    ASSERT_EQ(hos.size(), 60u);
    EXPECT_EQ(std::string(hos.begin(), hos.begin() + 4), std::string("HOS\0", 4));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&hos[4])), "^1Red^7Server");
    EXPECT_EQ(std::string(hos.begin() + 36, hos.end()), std::string(24, 'p'));
    link.Spectate(3, "");  // no such row
    EXPECT_EQ(socket.sent.size(), 2u);
}

TEST_F(ConnectionTest, AChunkWhileLiveDropsToTheListAndCarInfoComesBack) {
    ConnectDirect();
    Receive(State(0, 0, "AS1"));
    link.OnPacketTick();
    link.OnKeepAliveTick();
    ASSERT_EQ(link.LinkState, lsRefreshed);
    Receive(PacketBuilder("CHL", 280).U16(4, 0));
    link.OnPacketTick();
    EXPECT_EQ(link.LinkState, lsRelayList);
    TakeSent();
    Receive(CarInfo(1, 0, 1));
    link.OnPacketTick();
    EXPECT_EQ(link.LinkState, lsLive);
    EXPECT_EQ(TakeSent(), (std::vector<std::string>{"SST", "ISM", "NPL"}));
}

}  // namespace
}  // namespace gs
