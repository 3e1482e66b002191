// Drives one Connection from a fuzz input and checks the race model after
// every operation; the layout of the input is in DispatchHarness.h.
#include "DispatchHarness.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "connection/Connection.h"
#include "connection/RaceState.h"
#include "connection/ServerList.h"
#include "support/FakePlatform.h"
#include "view/FrameLoop.h"
#include "view/SceneText.h"
#include "view/Standings.h"

namespace gs::fuzz {

const char* const StartingNames[8] = {"",      "Alex", "^1Bo^7b", "Carla", "^", "Dee^", "EveEveEveEveEveEveEveEve",
                                      "^^Fred"};

namespace {

// Reads the input front to back; reads past the end give zeros.
class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool AtEnd() const { return at_ >= size_; }
    std::uint8_t U8() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint16_t U16() {
        const std::uint8_t lo = U8();
        return static_cast<std::uint16_t>(lo | (U8() << 8));
    }
    // A length-prefixed block; a length past the end takes what is left.
    Bytes Block() {
        const std::size_t want = U16();
        const std::size_t n = std::min(want, size_ - std::min(at_, size_));
        Bytes out(data_ + at_, data_ + at_ + n);
        at_ += n;
        return out;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

bool Terminated(const char* field, std::size_t width) { return std::memchr(field, 0, width) != nullptr; }

}  // namespace

// ------------------------------------------------------------------- writing

DispatchInput::DispatchInput(const StartState& s) {
    data_ = {s.linkState,
             s.mode,
             s.playerCount,
             static_cast<std::uint8_t>(s.followIndex + 1),
             static_cast<std::uint8_t>(s.total),
             static_cast<std::uint8_t>(s.total >> 8),
             static_cast<std::uint8_t>(s.received),
             static_cast<std::uint8_t>(s.received >> 8),
             static_cast<std::uint8_t>(s.pathNodes),
             static_cast<std::uint8_t>(s.pathNodes >> 8),
             static_cast<std::uint8_t>(s.finishNode),
             static_cast<std::uint8_t>(s.finishNode >> 8)};
    for (int i = 0; i < s.playerCount % 33; ++i) {
        const auto p =
            i < static_cast<int>(s.players.size()) ? s.players[i] : std::make_pair<std::uint8_t, std::uint8_t>(0, 0);
        data_.push_back(static_cast<std::uint8_t>((p.first & 7) | ((p.second % 9) << 4)));
    }
}

void DispatchInput::Append(const Bytes& packet) {
    const std::size_t n = std::min<std::size_t>(packet.size(), 0xFFFF);
    data_.push_back(static_cast<std::uint8_t>(n));
    data_.push_back(static_cast<std::uint8_t>(n >> 8));
    data_.insert(data_.end(), packet.begin(), packet.begin() + static_cast<std::ptrdiff_t>(n));
}

DispatchInput& DispatchInput::Datagram(const Bytes& packet) {
    data_.push_back(0x00);
    Append(packet);
    return *this;
}

DispatchInput& DispatchInput::Queue(const Bytes& packet) {
    data_.push_back(0x80 + static_cast<std::uint8_t>(Op::Queue));
    Append(packet);
    return *this;
}

DispatchInput& DispatchInput::Burst(std::uint8_t count, const Bytes& packet) {
    data_.push_back(0x80 + static_cast<std::uint8_t>(Op::Burst));
    data_.push_back(count);
    Append(packet);
    return *this;
}

DispatchInput& DispatchInput::Do(Op op) {
    data_.push_back(0x80 + static_cast<std::uint8_t>(op));
    return *this;
}

DispatchInput& DispatchInput::Do(Op op, std::uint8_t argument) {
    Do(op);
    data_.push_back(argument);
    return *this;
}

// ---------------------------------------------------------------- invariants

std::string CheckInvariants(const RaceState& race, const ServerList& servers) {
    if (race.PlayerCount < 0 || race.PlayerCount > MaxPlayers)
        return "PlayerCount " + std::to_string(race.PlayerCount) + " outside 0..32";
    if (race.FollowIndex < -1 || race.FollowIndex >= MaxPlayers)
        return "FollowIndex " + std::to_string(race.FollowIndex) + " outside -1..31";
    for (int i = 0; i < MaxPlayers; ++i) {
        const PlayerRecord& p = race.Players[i];
        if (p.SampleCount < 0 || p.SampleCount > MaxSamples)
            return "slot " + std::to_string(i) + " SampleCount " + std::to_string(p.SampleCount) + " outside 0..8";
        if (!Terminated(p.Name, sizeof p.Name)) return "slot " + std::to_string(i) + " Name unterminated";
        if (!Terminated(p.Car, sizeof p.Car)) return "slot " + std::to_string(i) + " Car unterminated";
    }
    if (!Terminated(race.TrackCode, sizeof race.TrackCode)) return "TrackCode unterminated";
    if (servers.total < 0 || servers.total > 0xFFFF) return "server list total " + std::to_string(servers.total);
    if (servers.received < 0 || servers.received > std::min(servers.total, ServerList::Capacity))
        return "server list received " + std::to_string(servers.received) + " outside 0..min(total " +
               std::to_string(servers.total) + ", 512)";
    for (std::size_t i = 0; i < race.Log.Size(); ++i)
        if (race.Log.At(i).size() > MessageEntry::MaxLength)
            return "message log entry of " + std::to_string(race.Log.At(i).size()) + " characters";
    return {};
}

// ------------------------------------------------------------------- running

namespace {

class Run {
public:
    Run() : connection_(race_, servers_, {clock_, packetTimer_, keepAliveTimer_, socket_, shell_}) {}

    DispatchResult Go(const std::uint8_t* data, std::size_t size) {
        Reader in(data, size);
        Start(in);
        result_.violation = Check();
        while (result_.violation.empty() && !in.AtEnd()) {
            Step(in);
            ++result_.operations;
            result_.violation = Check();
        }
        result_.finalLinkState = connection_.LinkState;
        result_.finalPlayerCount = race_.PlayerCount;
        result_.finalReceived = servers_.received;
        result_.finalLogSize = race_.Log.Size();
        result_.tracksLoaded = shell_.tracks;
        return result_;
    }

private:
    void Start(Reader& in) {
        connection_.LinkState = in.U8() % 6;
        connection_.ConnectionMode = in.U8() % 3;
        const int players = in.U8() % 33;
        race_.FollowIndex = in.U8() % 33 - 1;
        servers_.total = in.U16();
        servers_.received = std::min<int>({in.U16(), servers_.total, ServerList::Capacity});
        pathNodes_ = in.U16();
        finishNode_ = in.U16();
        race_.InitSampleClock(clock_);
        race_.ResizePlayers(players);
        for (int i = 0; i < players; ++i) {
            const std::uint8_t b = in.U8();
            char raw[WireNameWidth] = {};
            std::strncpy(raw, StartingNames[b & 7], sizeof raw);
            race_.SetPlayer(i, raw, "XR GT TURBO");
            for (int k = 0; k < (b >> 4) % 9; ++k) race_.PushSample(i, CarSample{}, 0, 0, 0);
        }
        // A connection that is not idle has an open socket and running timers.
        if (connection_.LinkState != lsIdle) {
            std::string error;
            socket_.Open("127.0.0.1", "29999", error);
            connection_.OnSocketOpened();
            packetTimer_.interval = connection_.LinkState >= lsLive ? 50 : 500;
        }
    }

    void Deliver(const Bytes& d) {
        connection_.ReceiveDatagram(d.data(), d.size());
        ++result_.datagrams;
    }

    void Step(Reader& in) {
        const std::uint8_t op = in.U8();
        if (op < 0x80) {
            Deliver(in.Block());
            return;
        }
        switch (static_cast<Op>((op - 0x80) % OpCount)) {
            case Op::Queue: socket_.incoming.push_back(in.Block()); break;
            // A timer that is off does not fire.
            case Op::Tick:
                if (packetTimer_.enabled) connection_.OnPacketTick();
                break;
            case Op::KeepAlive:
                if (keepAliveTimer_.enabled) connection_.OnKeepAliveTick();
                break;
            case Op::Disconnect: connection_.Disconnect(); break;
            case Op::AdvanceClock: clock_.AdvanceMs(in.U8() * 20); break;
            case Op::Connect: connection_.ConnectCommand("127.0.0.1", 29999, "admin"); break;
            case Op::GetServerList:
                connection_.GetServerListBegin();
                connection_.GetServerListOpen("127.0.0.1", 29998);
                break;
            case Op::Refresh: connection_.Refresh(); break;
            case Op::Spectate: connection_.Spectate(in.U8(), "spectator"); break;
            case Op::Burst: {
                const int times = (in.U8() + 1) * 8;
                const Bytes d = in.Block();
                for (int i = 0; i < times; ++i) Deliver(d);
                break;
            }
        }
    }

    // The model's invariants, what was sent, and the readers of the model
    // that run every frame (ranking, gap texts, icons, colours).
    std::string Check() {
        std::string broken = CheckInvariants(race_, servers_);
        if (!broken.empty()) return broken;
        if (connection_.LinkState < lsIdle || connection_.LinkState > lsRefreshed)
            return "LinkState " + std::to_string(connection_.LinkState);
        for (const Bytes& d : socket_.sent)
            if (d.size() != 8 && d.size() != 24 && d.size() != 60)
                return "sent a datagram of " + std::to_string(d.size()) + " bytes";
        socket_.sent.clear();
        // An empty code is a load like any other unknown track (the loader
        // refuses it); a code past the field's 6 bytes would be a misread.
        for (const std::string& code : shell_.tracks)
            if (code.size() > 6) return "track load with code of " + std::to_string(code.size()) + " bytes";

        SmoothPositions(race_, FrameTimeParameter(race_.Clock), true);
        ComputePositions(race_, pathNodes_, finishNode_);
        const LeaderData leader = FindLeader(race_);
        for (int i = 0; i < race_.PlayerCount; ++i) {
            const PlayerRecord& p = race_.Players[i];
            if (p.Position < 1 || p.Position > race_.PlayerCount)
                return "slot " + std::to_string(i) + " ranked " + std::to_string(p.Position);
            (void)TotalOrGapText(p, leader);
            const int icon = CarIconSlot(p.Car);
            if (icon < 7 || icon > 41) return "car icon slot " + std::to_string(icon);
            (void)PlayerColour(i);
        }
        return {};
    }

    RaceState race_;
    ServerList servers_;
    test::FakeClock clock_;
    test::FakeTimer packetTimer_{50, false};
    test::FakeTimer keepAliveTimer_{5000, false};
    test::FakeSocket socket_;
    test::RecordingShell shell_;
    Connection connection_;
    std::int32_t pathNodes_ = 0, finishNode_ = 0;
    DispatchResult result_;
};

}  // namespace

DispatchResult RunDispatchInput(const std::uint8_t* data, std::size_t size) {
    // The connection holds a 64 KiB receive buffer: keep it off the stack.
    auto run = std::make_unique<Run>();
    return run->Go(data, size);
}

}  // namespace gs::fuzz
