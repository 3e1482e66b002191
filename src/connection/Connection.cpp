#include "connection/Connection.h"

#include <algorithm>
#include <cstring>

#include "common/Text.h"
#include "common/Units.h"
#include "common/Wire.h"

namespace gs {

const char* const RelayHostName = "relay.gridscope.example";

namespace {

// Car-info conversions from the wire.
constexpr double SpeedToKmh = 0.011;
constexpr double HeadingToRadians = 9.590688592259547e-5;

// Bytes each packet type reads; a shorter datagram is dropped.
constexpr std::size_t CarInfoHeader = 12, CarEntrySize = 24, MaxCarsPerPacket = 8;
constexpr std::size_t StateSize = 26, NewPlayerSize = 97, PlayerLeavesSize = 52, ServerNameSize = 40, LapSize = 89,
                      ResultSize = 103, RenameSize = 76, MessageSize = 132, RaceStartSize = 6, VersionSize = 19,
                      ReorderMinSize = 62;

constexpr int ConnectingInterval = 500;  // ms
constexpr int LiveInterval = 50;         // ms
constexpr int FirstKeepAlive = 5000, KeepAlive = 20000;

// Silence, in update intervals (500 ms), after which the link is given up:
// a live server sends cars at least every interval, so a minute of nothing
// means it is gone; a server that has not answered the handshake within
// three seconds is taken as not there at all.
constexpr std::int64_t LiveSilenceLimit = 120;
constexpr std::int64_t HandshakeSilenceLimit = 6;

// The init packet: byte 6 holds the option byte servers expect from a
// spectator, 0x31 (the character "1"), and the admin password follows at
// byte 8 in 16 bytes.
constexpr std::size_t InitOptionsAt = 6, InitPasswordAt = 8, InitPasswordWidth = 16;
constexpr std::uint8_t InitOptions = 0x31;

// Where each packet type keeps the fields the handlers read. Every read is
// also bounded by the type's size above.
namespace carinfo {
constexpr std::size_t Count = 8, First = 9;  // cars in the race, slot of the first entry
// Within an entry: path node, lap, x, y, z, speed, heading.
constexpr std::size_t Node = 0, Lap = 2, X = 4, Y = 8, Z = 12, Speed = 16, Heading = 20;
}  // namespace carinfo
namespace reorder {
constexpr std::size_t Order = 4, OrderStep = 2, Count = 61;  // slot of place i at Order + 2i
}
namespace version {
constexpr std::size_t InSim = 18;  // the protocol version, 1 for the one spoken here
constexpr std::uint8_t Spoken = 1;
}  // namespace version
namespace state {
constexpr std::size_t Players = 12, RaceMode = 15, Track = 20, TrackWidth = 6;
}
namespace player {  // new player, player leaves, result, rename
constexpr std::size_t Name = 28, NewName = 52, Car = 60, Slot = 96;
}
namespace servername {
constexpr std::size_t Name = 8;
}
namespace lap {
constexpr std::size_t Car = 52, Minutes = 84, Seconds = 85, Hundredths = 86, Slot = 88;
}
namespace result {
constexpr std::size_t TotalMin = 96, TotalSec = 97, TotalHund = 98, BestMin = 100, BestSec = 101, BestHund = 102;
}
namespace message {
constexpr std::size_t Text = 4, TextWidth = 128;
}
namespace racestart {
constexpr std::size_t Laps = 4, Minutes = 5;
}

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
    initPacket_[InitOptionsAt] = InitOptions;
    PutText(initPacket_ + InitPasswordAt, InitPasswordWidth, adminPassword);
}

// ------------------------------------------------------------ timer and events

void Connection::OnSocketOpened() {
    io_.packetTimer.SetEnabled(true);
    io_.keepAliveTimer.SetEnabled(true);
}

void Connection::ConnectionSteps() {
    if (LinkState == lsIdle) {
        if (ConnectionMode == cmDirect) io_.socket.Send(initPacket_, sizeof initPacket_);
        else io_.socket.Send(relayRequest_, sizeof relayRequest_);
        LinkState = lsHelloSent;
        IdleTicks = 0;
        io_.packetTimer.SetInterval(ConnectingInterval);
    } else if (LinkState == lsHelloSent && ConnectionMode == cmDirect) {
        SendInSimPack("NLI", UpdateInterval);
        SendInSimPack("SST", 0);
        SendInSimPack("ISM", 0);
        SendInSimPack("VER", 0);
        LinkState = lsRequested;
    }
    ++IdleTicks;
    const std::int64_t silence = static_cast<std::int64_t>(io_.packetTimer.Interval()) * IdleTicks;
    const std::int64_t q = silence / UpdateInterval;
    if (q > LiveSilenceLimit) Disconnect();
    else if (LinkState < lsRelayList && q > HandshakeSilenceLimit) Disconnect();
}

void Connection::OnPacketTick() {
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
    if (LinkState >= lsLive) io_.packetTimer.SetInterval(LiveInterval);
    Dispatch(DatagramView(data, size));
}

void Connection::OnKeepAliveTick() {
    io_.keepAliveTimer.SetInterval(KeepAlive);
    SendInSimPack("ACK", 0);
    if (LinkState == lsLive) {
        SendInSimPack("ISM", 0);
        SendInSimPack("SST", 0);
        LinkState = lsRefreshed;
    }
}

void Connection::Disconnect() {
    if (LinkState == lsIdle) return;
    io_.packetTimer.SetEnabled(false);
    io_.keepAliveTimer.SetEnabled(false);
    io_.keepAliveTimer.SetInterval(FirstKeepAlive);
    if (LinkState >= lsLive) race_.AddMessage("Disconnected from %s", StripColourCodes(race_.ServerName).c_str());
    else if (LinkState == lsRelayList) race_.AddMessage("Disconnected");
    else race_.AddMessage("Connection Timed Out");
    LinkState = lsIdle;
    SendInSimPack("ISC", 0);
    race_.ResetTimes();
    io_.shell.SetCaption("Gridscope");
    io_.socket.Close();
    std::memset(race_.ServerName, 0, sizeof race_.ServerName);
}

// ------------------------------------------------------------ opening commands

bool Connection::OpenSocket(const std::string& host, int port) {
    std::string error;
    if (!io_.socket.Open(host, std::to_string(port), error)) {
        race_.AddMessage("%s", error.c_str());
        return false;
    }
    OnSocketOpened();
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
    const int count = std::min<int>(p.U8(carinfo::Count), MaxPlayers);
    const int first = p.U8(carinfo::First);
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
        sample.X = WorldFromFixed(p.I32(at + carinfo::X));
        sample.Y = WorldFromFixed(p.I32(at + carinfo::Y));
        sample.Speed = static_cast<float>(p.U16(at + carinfo::Speed) * SpeedToKmh);
        sample.Heading = static_cast<float>(p.U16(at + carinfo::Heading) * HeadingToRadians);
        const float z = WorldFromFixed(p.I32(at + carinfo::Z));
        race_.PushSample(first + k, sample, p.U16(at + carinfo::Node), p.U8(at + carinfo::Lap), z);
    }
}

void Connection::OnReorder(const DatagramView& p) {
    const std::size_t orderEnd =
        race_.PlayerCount > 0 ? reorder::Order + 1 + reorder::OrderStep * (race_.PlayerCount - 1) : 0;
    if (!p.Has(std::max(ReorderMinSize, orderEnd))) return;
    std::uint8_t order[MaxPlayers] = {};
    for (int i = 0; i < race_.PlayerCount; ++i) order[i] = p.U8(reorder::Order + reorder::OrderStep * i);
    race_.ReorderPlayers(order, p.U8(reorder::Count));
    io_.shell.RepaintNow();
}

void Connection::OnVersion(const DatagramView& p) {
    if (!p.Has(VersionSize)) return;
    if (p.U8(version::InSim) != version::Spoken)
        race_.AddMessage("Warning! Server uses possibly incompatible InSim Version.");
}

void Connection::OnState(const DatagramView& p) {
    if (!p.Has(StateSize)) return;
    if (LinkState < lsLive) LinkState = lsLive;
    char code[state::TrackWidth];
    p.CopyField(state::Track, sizeof code, code);
    const std::string track = FieldText(code, sizeof code);
    if (track != FieldText(race_.TrackCode, 6)) {
        std::memset(race_.TrackCode, 0, sizeof race_.TrackCode);
        std::memcpy(race_.TrackCode, track.data(), track.size());
        io_.shell.LoadTrack(race_.TrackCode);
    }
    const int count = std::min<int>(p.U8(state::Players), MaxPlayers);
    if (count != race_.PlayerCount) race_.ResizePlayers(count);
    race_.RaceMode = p.U8(state::RaceMode);
}

void Connection::OnNewPlayer(const DatagramView& p) {
    if (!p.Has(NewPlayerSize)) return;
    char name[WireNameWidth], car[WireCarWidth];
    p.CopyField(player::Name, sizeof name, name);
    p.CopyField(player::Car, sizeof car, car);
    race_.SetPlayer(p.U8(player::Slot), name, car);
}

void Connection::OnPlayerLeaves(const DatagramView& p) {
    if (!p.Has(PlayerLeavesSize)) return;
    char name[WireNameWidth];
    p.CopyField(player::Name, sizeof name, name);
    race_.RemovePlayerByName(name);
}

void Connection::OnServerName(const DatagramView& p) {
    if (!p.Has(ServerNameSize)) return;
    char name[sizeof race_.ServerName];
    p.CopyField(servername::Name, sizeof name, name);
    if (std::memcmp(name, race_.ServerName, sizeof name) == 0) return;
    std::memcpy(race_.ServerName, name, sizeof name);
    const std::string shown = StripColourCodes(race_.ServerName);
    race_.AddMessage("Connected to Server : %s", shown.c_str());
    io_.shell.SetCaption(ConnectedCaption());
}

void Connection::OnLap(const DatagramView& p) {
    if (!p.Has(LapSize)) return;
    const int slot = p.U8(lap::Slot);
    if (slot >= MaxPlayers) return;
    const int m = p.U8(lap::Minutes), s = p.U8(lap::Seconds), h = p.U8(lap::Hundredths);
    const PlayerRecord& player = race_.Players[slot];
    race_.AddMessage("%s finishes Lap %d in %s", player.Name, player.Lap, LapTimeText(m, s, h).c_str());
    char car[WireCarWidth];
    p.CopyField(lap::Car, sizeof car, car);
    race_.RecordLap(slot, m, s, h, car);
}

void Connection::OnResult(const DatagramView& p) {
    if (!p.Has(ResultSize)) return;
    char name[WireNameWidth];
    p.CopyField(player::Name, sizeof name, name);
    race_.RecordResult(name, p.U8(result::TotalMin), p.U8(result::TotalSec), p.U8(result::TotalHund),
                       p.U8(result::BestMin), p.U8(result::BestSec), p.U8(result::BestHund));
}

void Connection::OnRename(const DatagramView& p) {
    if (!p.Has(RenameSize)) return;
    char oldName[WireNameWidth], newName[WireNameWidth];
    p.CopyField(player::Name, sizeof oldName, oldName);
    p.CopyField(player::NewName, sizeof newName, newName);
    race_.RenamePlayer(oldName, newName);
}

void Connection::OnMessage(const DatagramView& p) {
    if (!p.Has(MessageSize)) return;
    char text[message::TextWidth];
    p.CopyField(message::Text, sizeof text, text);
    race_.AddMessage("   %s", FieldText(text, sizeof text).c_str());
}

void Connection::OnRaceStart(const DatagramView& p) {
    if (!p.Has(RaceStartSize)) return;
    const unsigned laps = p.U8(racestart::Laps), minutes = p.U8(racestart::Minutes);
    race_.ResetRace(laps, minutes);
    if (laps != 0)
        io_.shell.SetCaption(ConnectedCaption() + "  -  " + std::to_string(laps) + " Laps Race on " + race_.TrackCode);
    else if (minutes != 0)
        io_.shell.SetCaption(ConnectedCaption() + "  -  " + std::to_string(minutes) + " Minutes Quali on " +
                             race_.TrackCode);
}

void Connection::OnRaceEnd(const DatagramView&) { race_.AddMessage("Race End"); }

}  // namespace gs
