#include "connection/Connection.h"

#include <algorithm>
#include <cstring>

#include "common/Text.h"
#include "common/Units.h"
#include "connection/Wire.h"

namespace gs {

const char* const RelayHostName = "relay.gridscope.example";

namespace {

// Car-info conversions from the wire.
constexpr double SpeedToKmh = 0.011;
constexpr double HeadingToRadians = 9.590688592259547e-5;

// Bytes each packet type reads; a shorter datagram is dropped.
constexpr std::size_t CarInfoHeader = 12, CarEntrySize = 24, MaxCarsPerPacket = 8;
constexpr std::size_t StateSize = 26, NewPlayerSize = 97, PlayerLeavesSize = 52,
                      ServerNameSize = 40, LapSize = 89, ResultSize = 103, RenameSize = 76,
                      MessageSize = 132, RaceStartSize = 6, VersionSize = 19, ReorderMinSize = 62;

constexpr int ConnectingInterval = 500;  // ms
constexpr int LiveInterval = 50;          // ms
constexpr int FirstKeepAlive = 5000, KeepAlive = 20000;

}  // namespace

Connection::Connection(RaceState& race, ServerList& servers, const ConnectionPorts& ports)
    : race_(race), servers_(servers), io_(ports) {}

// ---------------------------------------------------------------- packets sent

void Connection::SendInSimPack(const char* type, std::uint32_t value) {
    std::uint8_t packet[8] = {};
    std::memcpy(packet, type, 3);
    PutU32(packet + 4, value);
    io_.socket.Send(packet, sizeof packet);
}

void Connection::PrepareInit(const std::string& adminPassword) {
    std::memset(initPacket_, 0, sizeof initPacket_);
    std::memcpy(initPacket_, "ISI", 3);
    initPacket_[6] = 0x31;
    PutText(initPacket_ + 8, 16, adminPassword);
}

// ------------------------------------------------------------ timer and events

void Connection::UdpSocket1Connect() {
    io_.timer1.SetEnabled(true);
    io_.timer2.SetEnabled(true);
}

void Connection::ConnectionSteps() {
    if (LinkState == lsIdle) {
        if (ConnectionMode == cmDirect)
            io_.socket.Send(initPacket_, sizeof initPacket_);
        else
            io_.socket.Send(relayRequest_, sizeof relayRequest_);
        LinkState = lsHelloSent;
        IdleTicks = 0;
        io_.timer1.SetInterval(ConnectingInterval);
    } else if (LinkState == lsHelloSent && ConnectionMode == cmDirect) {
        SendInSimPack("NLI", UpdateInterval);
        SendInSimPack("SST", 0);
        SendInSimPack("ISM", 0);
        SendInSimPack("VER", 0);
        LinkState = lsRequested;
    }
    ++IdleTicks;
    const std::int64_t silence = static_cast<std::int64_t>(io_.timer1.Interval()) * IdleTicks;
    const std::int64_t q = silence / UpdateInterval;
    if (q > 120)
        Disconnect();
    else if (LinkState < lsRelayList && q > 6)
        Disconnect();
}

void Connection::Timer1Timer() {
    ConnectionSteps();
    race_.AdvanceSampleClock(io_.clock);
    Drain();
}

void Connection::Drain() {
    const std::int64_t start = io_.clock.Counter();
    const std::int64_t budget = io_.clock.Frequency() / 1000 * DrainBudgetMs;
    for (int handled = 0; handled < MaxDatagramsPerTick; ++handled) {
        const int got = io_.socket.Receive(buffer_, ReadSize);
        if (got <= 0) return;
        ReceiveDatagram(buffer_, static_cast<std::size_t>(got));
        if (io_.clock.Counter() - start > budget) return;
    }
}

void Connection::ReceiveDatagram(const std::uint8_t* data, std::size_t size) {
    IdleTicks = 0;
    if (LinkState >= lsLive) io_.timer1.SetInterval(LiveInterval);
    Dispatch(DatagramView(data, size));
}

void Connection::Timer2Timer() {
    io_.timer2.SetInterval(KeepAlive);
    SendInSimPack("ACK", 0);
    if (LinkState == lsLive) {
        SendInSimPack("ISM", 0);
        SendInSimPack("SST", 0);
        LinkState = lsRefreshed;
    }
}

void Connection::Disconnect() {
    if (LinkState == lsIdle) return;
    io_.timer1.SetEnabled(false);
    io_.timer2.SetEnabled(false);
    io_.timer2.SetInterval(FirstKeepAlive);
    if (LinkState >= lsLive)
        race_.AddMessage("Disconnected from %s", StripColourCodes(race_.ServerName).c_str());
    else if (LinkState == lsRelayList)
        race_.AddMessage("Disconnected");
    else
        race_.AddMessage("Connection Timed Out");
    LinkState = lsIdle;
    SendInSimPack("ISC", 0);
    race_.ResetTimes();
    io_.shell.SetCaption("Gridscope");
    io_.socket.Close();
    UdpSocket1Disconnect();
    std::memset(race_.ServerName, 0, sizeof race_.ServerName);
}

// ------------------------------------------------------------ opening commands

bool Connection::OpenSocket(const std::string& host, int port) {
    std::string error;
    if (!io_.socket.Open(host, std::to_string(port), error)) {
        race_.AddMessage("%s", error.c_str());
        return false;
    }
    UdpSocket1Connect();
    return true;
}

void Connection::ConnectCommand(const std::string& host, int port, const std::string& adminPassword) {
    if (LinkState >= lsLive) {
        Disconnect();
        return;
    }
    if (host == RelayHostName) {
        race_.AddMessage("No direct connection to Relay Server possible.");
        race_.AddMessage("Use \"Get Server List\".");
        return;
    }
    // A handshake or a relay exchange under way is abandoned, so that the
    // new connection starts from its first packet.
    Disconnect();
    ConnectionMode = cmDirect;
    race_.AddMessage("Connecting");
    PrepareInit(adminPassword);
    OpenSocket(host, port);
}

void Connection::GetServerListBegin() { Disconnect(); }

void Connection::GetServerListOpen(const std::string& host, int port) {
    ConnectionMode = cmRelay;
    race_.AddMessage("Connecting");
    PrepareRelayRequest(3);
    OpenSocket(host, port);
}

// -------------------------------------------------------------------- dispatch

void Connection::Dispatch(const DatagramView& p) {
    if (p.IsType("MCI")) OnCarInfo(p);
    else if (p.IsType("CHL")) OnServerListChunk(p);
    else if (p.IsType("ERR")) OnRelayError(p);
    else if (p.IsType("REO")) OnReorder(p);
    else if (p.IsType("VER")) OnVersion(p);
    else if (p.IsType("STA")) OnState(p);
    else if (p.IsType("NPL")) OnNewPlayer(p);
    else if (p.IsType("PLL")) OnPlayerLeaves(p);
    else if (p.IsType("ISM")) OnServerName(p);
    else if (p.IsType("LAP")) OnLap(p);
    else if (p.IsType("RES")) OnResult(p);
    else if (p.IsType("CPR")) OnRename(p);
    else if (p.IsType("MSO")) OnMessage(p);
    else if (p.IsType("RST")) OnRaceStart(p);
    else if (p.IsType("REN")) OnRaceEnd(p);
}

std::string Connection::ConnectedCaption() const {
    return "Gridscope  -  connected to " + StripColourCodes(race_.ServerName);
}

void Connection::OnCarInfo(const DatagramView& p) {
    if (!p.Has(10)) return;
    const int count = std::min<int>(p.U8(8), MaxPlayers);
    const int first = p.U8(9);
    const int cars = std::min<int>(MaxCarsPerPacket, count - first);
    if (cars > 0 && !p.Has(CarInfoHeader + CarEntrySize * cars)) return;

    if (LinkState < lsLive) {
        SendInSimPack("SST", 0);
        SendInSimPack("ISM", 0);
        LinkState = lsLive;
        race_.Clock.Now = io_.clock.Counter();
    }
    race_.ResizePlayers(count);
    for (int i = 0; i < race_.PlayerCount; ++i)
        if (race_.Players[i].Name[0] == '\0') SendInSimPack("NPL", static_cast<std::uint32_t>(i));
    for (int k = 0; k < cars; ++k) {
        const std::size_t at = CarInfoHeader + CarEntrySize * k;
        CarSample sample;
        sample.X = WorldFromFixed(p.I32(at + 4));
        sample.Y = WorldFromFixed(p.I32(at + 8));
        sample.Speed = static_cast<float>(p.U16(at + 16) * SpeedToKmh);
        sample.Heading = static_cast<float>(p.U16(at + 20) * HeadingToRadians);
        const float z = WorldFromFixed(p.I32(at + 12));
        race_.PushSample(first + k, sample, p.U16(at), p.U8(at + 2), z);
    }
}

void Connection::OnReorder(const DatagramView& p) {
    const std::size_t orderEnd = race_.PlayerCount > 0 ? 5 + 2 * (race_.PlayerCount - 1) : 0;
    if (!p.Has(std::max(ReorderMinSize, orderEnd))) return;
    std::uint8_t order[MaxPlayers] = {};
    for (int i = 0; i < race_.PlayerCount; ++i) order[i] = p.U8(4 + 2 * i);
    race_.ReorderPlayers(order, p.U8(61));
    io_.shell.RepaintNow();
}

void Connection::OnVersion(const DatagramView& p) {
    if (!p.Has(VersionSize)) return;
    if (p.U8(18) != 1) race_.AddMessage("Warning! Server uses possibly incompatible InSim Version.");
}

void Connection::OnState(const DatagramView& p) {
    if (!p.Has(StateSize)) return;
    if (LinkState < lsLive) LinkState = lsLive;
    char code[6];
    p.CopyField(20, 6, code);
    const std::string track = FieldText(code, 6);
    if (track != FieldText(race_.TrackCode, 6)) {
        std::memset(race_.TrackCode, 0, sizeof race_.TrackCode);
        std::memcpy(race_.TrackCode, track.data(), track.size());
        io_.shell.LoadTrack(race_.TrackCode);
    }
    const int count = std::min<int>(p.U8(12), MaxPlayers);
    if (count != race_.PlayerCount) race_.ResizePlayers(count);
    race_.RaceMode = p.U8(15);
}

void Connection::OnNewPlayer(const DatagramView& p) {
    if (!p.Has(NewPlayerSize)) return;
    char name[WireNameWidth], car[WireCarWidth];
    p.CopyField(28, sizeof name, name);
    p.CopyField(60, sizeof car, car);
    race_.SetPlayer(p.U8(96), name, car);
}

void Connection::OnPlayerLeaves(const DatagramView& p) {
    if (!p.Has(PlayerLeavesSize)) return;
    char name[WireNameWidth];
    p.CopyField(28, sizeof name, name);
    race_.RemovePlayerByName(name);
}

void Connection::OnServerName(const DatagramView& p) {
    if (!p.Has(ServerNameSize)) return;
    char name[sizeof race_.ServerName];
    p.CopyField(8, sizeof name, name);
    if (std::memcmp(name, race_.ServerName, sizeof name) == 0) return;
    std::memcpy(race_.ServerName, name, sizeof name);
    const std::string shown = StripColourCodes(race_.ServerName);
    race_.AddMessage("Connected to Server : %s", shown.c_str());
    io_.shell.SetCaption(ConnectedCaption());
}

void Connection::OnLap(const DatagramView& p) {
    if (!p.Has(LapSize)) return;
    const int slot = p.U8(88);
    if (slot >= MaxPlayers) return;
    const int m = p.U8(84), s = p.U8(85), h = p.U8(86);
    const PlayerRecord& player = race_.Players[slot];
    race_.AddMessage("%s finishes Lap %d in %s", player.Name, player.Lap, LapTimeText(m, s, h).c_str());
    char car[WireCarWidth];
    p.CopyField(52, sizeof car, car);
    race_.RecordLap(slot, m, s, h, car);
}

void Connection::OnResult(const DatagramView& p) {
    if (!p.Has(ResultSize)) return;
    char name[WireNameWidth];
    p.CopyField(28, sizeof name, name);
    race_.RecordResult(name, p.U8(96), p.U8(97), p.U8(98), p.U8(100), p.U8(101), p.U8(102));
}

void Connection::OnRename(const DatagramView& p) {
    if (!p.Has(RenameSize)) return;
    char oldName[WireNameWidth], newName[WireNameWidth];
    p.CopyField(28, sizeof oldName, oldName);
    p.CopyField(52, sizeof newName, newName);
    race_.RenamePlayer(oldName, newName);
}

void Connection::OnMessage(const DatagramView& p) {
    if (!p.Has(MessageSize)) return;
    char text[128];
    p.CopyField(4, sizeof text, text);
    race_.AddMessage("   %s", FieldText(text, sizeof text).c_str());
}

void Connection::OnRaceStart(const DatagramView& p) {
    if (!p.Has(RaceStartSize)) return;
    const unsigned laps = p.U8(4), minutes = p.U8(5);
    race_.ResetRace(laps, minutes);
    if (laps != 0)
        io_.shell.SetCaption(ConnectedCaption() + "  -  " + std::to_string(laps) + " Laps Race on " +
                             race_.TrackCode);
    else if (minutes != 0)
        io_.shell.SetCaption(ConnectedCaption() + "  -  " + std::to_string(minutes) +
                             " Minutes Quali on " + race_.TrackCode);
}

void Connection::OnRaceEnd(const DatagramView&) { race_.AddMessage("Race End"); }

}  // namespace gs
