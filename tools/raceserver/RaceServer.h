// The race server's network side: one UDP port, any number of spectators told
// apart by their source address, the requests they may send, car info at each
// spectator's interval and the race's events broadcast to every live spectator.
// Single-threaded: Step() waits on the socket with poll() and does one round.
#pragma once

#include "RaceSim.h"
#include "Udp.h"

#include <functional>
#include <map>
#include <string>

namespace gs::raceserver {

struct ServerOptions {
    std::string bindHost = "127.0.0.1";
    std::uint16_t port = 29999;  // 0 picks a free port
    std::string serverName = "^1Grid^7scope ^3Demo";
    std::string adminPassword;
    int inSimVersion = 1;
    double timeScale = 1.0;          // simulated seconds per real second
    double spectatorTimeout = 90.0;  // real seconds of silence before a spectator is forgotten
};

class RaceServer {
public:
    using Clock = std::function<double()>;  // real time in seconds
    static double SteadySeconds();

    // Binds the port at once (throws std::runtime_error when it cannot).
    RaceServer(ServerOptions options, RaceSim& sim, Clock clock = &RaceServer::SteadySeconds);

    std::uint16_t Port() const { return socket_.LocalPort(); }
    // Waits up to `maxWaitMs` for a datagram (less when car info falls due), then
    // advances the race to the clock, sends its events, answers every pending
    // datagram, sends the car info that is due and forgets silent spectators.
    void Step(int maxWaitMs);
    std::size_t SpectatorCount() const { return spectators_.size(); }
    // Called with a line for each notable thing (spectators coming and going, events).
    std::function<void(const std::string&)> log;

private:
    struct Spectator {
        double lastHeard = 0;
        double mciInterval = 0.5;  // seconds; 0 = no car info
        double nextMci = 0;
    };

    void Handle(const peers::Datagram& datagram, double now);
    void Broadcast(const Bytes& packet);
    void SendCarInfo(double now);
    void Log(const std::string& line) const;

    ServerOptions options_;
    RaceSim& sim_;
    Clock clock_;
    double start_;
    peers::UdpPort socket_;
    std::map<peers::Address, Spectator> spectators_;
};

}  // namespace gs::raceserver
