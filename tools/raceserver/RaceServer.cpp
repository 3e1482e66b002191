// Spectator handling of the race server.
#include "RaceServer.h"

#include "Audience.h"

#include <algorithm>
#include <chrono>
#include <cmath>

namespace gs::raceserver {

namespace {

constexpr double kMinMciInterval = 0.02;  // an NLI below 20 ms would flood the link
constexpr double kMaxMciInterval = 60.0;

}  // namespace

double RaceServer::SteadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

RaceServer::RaceServer(ServerOptions options, RaceSim& sim, Clock clock)
    : options_(std::move(options)), sim_(sim), clock_(std::move(clock)), start_(clock_()) {
    socket_.Bind(options_.bindHost, options_.port);
}

void RaceServer::Log(const std::string& line) const {
    if (log) log(line);
}

void RaceServer::Step(int maxWaitMs) {
    double now = clock_();
    int wait = std::max(0, maxWaitMs);
    for (const auto& [address, spectator] : spectators_)
        if (spectator.mciInterval > 0)
            wait = std::min(wait, std::max(0, static_cast<int>(std::ceil((spectator.nextMci - now) * 1000.0))));
    socket_.WaitReadable(wait);

    now = clock_();
    sim_.AdvanceTo((now - start_) * options_.timeScale);
    for (const Bytes& event : sim_.TakeEvents()) Broadcast(event);

    while (const auto datagram = socket_.Receive()) Handle(*datagram, now);

    SendCarInfo(now);

    ForgetSilentSpectators(spectators_, now, options_.spectatorTimeout, log);
}

void RaceServer::Broadcast(const Bytes& packet) {
    if (log && packet.size() >= 3) Log("event " + std::string(packet.begin(), packet.begin() + 3));
    for (const auto& [address, spectator] : spectators_) socket_.SendTo(address, packet);
}

void RaceServer::SendCarInfo(double now) {
    std::vector<Bytes> packets;
    bool built = false;
    for (auto& [address, spectator] : spectators_) {
        if (spectator.mciInterval <= 0 || now < spectator.nextMci) continue;
        if (!built) {
            packets = BuildMci(sim_.CarInfos());
            built = true;
        }
        for (const Bytes& packet : packets) socket_.SendTo(address, packet);
        // Keep the cadence; after a stall start afresh rather than burst.
        spectator.nextMci += spectator.mciInterval;
        if (spectator.nextMci < now) spectator.nextMci = now + spectator.mciInterval;
    }
}

void RaceServer::Handle(const peers::Datagram& datagram, double now) {
    const peers::PacketReader in(datagram.bytes);
    if (in.IsType("ISI")) {
        Spectator* joined = AdmitSpectator(spectators_, datagram, options_.adminPassword, now, log);
        if (!joined) return;
        joined->nextMci = now;
        Log("spectator " + datagram.from.ToString() + " joined");
        socket_.SendTo(datagram.from, BuildVer(options_.inSimVersion));
        return;
    }
    Spectator* known = HeardFrom(spectators_, datagram.from, now);
    if (!known) return;  // only initialised spectators are answered
    Spectator& spectator = *known;
    const std::uint32_t value = in.U32(4);

    if (in.IsType("NLI")) {
        spectator.mciInterval = value == 0 ? 0.0 : std::clamp(value / 1000.0, kMinMciInterval, kMaxMciInterval);
        spectator.nextMci = now + spectator.mciInterval;
    } else if (in.IsType("SST")) {
        socket_.SendTo(datagram.from, BuildSta(sim_.PlayerCount(), sim_.RaceMode(), sim_.TrackCode()));
    } else if (in.IsType("ISM")) {
        socket_.SendTo(datagram.from, BuildIsm(options_.serverName));
    } else if (in.IsType("VER")) {
        socket_.SendTo(datagram.from, BuildVer(options_.inSimVersion));
    } else if (in.IsType("NPL")) {
        const int slot = static_cast<int>(value);
        if (value < static_cast<std::uint32_t>(sim_.PlayerCount()))
            socket_.SendTo(datagram.from, BuildNpl(slot, sim_.DriverName(slot), sim_.CarName(slot)));
    } else if (in.IsType("ISC")) {
        SpectatorLeft(spectators_, datagram.from, log);
    }
    // "ACK" and anything else only count as a sign of life.
}

}  // namespace gs::raceserver
