// The race server's replay mode: serves a recording to any number of spectators,
// each from its own position. On a spectator's init packet the recording plays
// from its start (or a chosen second) with its original timing, scaled by a speed
// factor; the spectator's requests are answered from the state the recording had
// reached for that spectator (server name, state, version, a slot's new player).
// At the end it falls silent like a finished session, or starts again.
//
// Sections: the recorded state; spectators and their clocks; requests.
#pragma once

#include "RaceServer.h"
#include "Recording.h"

#include <array>
#include <functional>
#include <map>
#include <string>

namespace gs::raceserver {

struct ReplayOptions {
    std::string bindHost = "127.0.0.1";
    std::uint16_t port = 29999;
    std::string adminPassword;
    double speed = 1.0;              // recorded seconds per real second
    double from = 0.0;               // recorded second at which each spectator starts
    bool loop = false;               // start again at the end
    double spectatorTimeout = 90.0;  // real seconds of silence before a spectator is forgotten
    // A gap in the recording (the recorder lost the server) is shortened to this
    // much silence, so that spectators are not timed out by it.
    double gapSilence = 1.0;
};

// What a spectator would know from the packets replayed so far: the last server
// name, state and version packets and, per slot, the new-player packet of the
// driver in that slot, kept in step with leaves, renames and reorders.
class RecordedState {
public:
    void Apply(const Bytes& datagram);

    const Bytes& ServerName() const { return ism_; }
    const Bytes& Version() const { return ver_; }
    // The last state packet with the current player count; empty when none was seen.
    Bytes State() const;
    // The new-player packet of `slot`, empty when the slot is unknown.
    Bytes NewPlayer(std::uint32_t slot) const;
    int PlayerCount() const { return players_; }

private:
    int FindSlot(const std::string& plainName) const;

    Bytes ism_, ver_, sta_;
    std::array<Bytes, 32> npl_;
    int players_ = 0;
};

class ReplayServer {
public:
    using Clock = RaceServer::Clock;

    // Binds the port at once (throws std::runtime_error when it cannot).
    ReplayServer(ReplayOptions options, const peers::Recording& recording, Clock clock = &RaceServer::SteadySeconds);

    std::uint16_t Port() const { return socket_.LocalPort(); }
    // Waits up to `maxWaitMs` for a datagram (less when a record falls due),
    // answers every pending datagram, sends each spectator's due records and
    // forgets silent spectators.
    void Step(int maxWaitMs);
    std::size_t SpectatorCount() const { return spectators_.size(); }
    // Called with a line for each notable thing.
    std::function<void(const std::string&)> log;

private:
    struct Spectator {
        double lastHeard = 0;
        double startReal = 0;  // real time at which playback began
        double skipped = 0;    // recorded seconds left out at gaps
        std::size_t next = 0;  // index of the next record to send
        bool ended = false;
        RecordedState state;
    };

    void Start(Spectator& spectator, double now) const;
    double DueAt(const Spectator& spectator) const;
    void Play(const peers::Address& address, Spectator& spectator, double now);
    void Handle(const peers::Datagram& datagram, double now);
    void Log(const std::string& line) const;

    ReplayOptions options_;
    const peers::Recording& recording_;
    Clock clock_;
    std::size_t firstIndex_ = 0;  // first record at or after `from`
    RecordedState stateAtFirst_;  // the state that the records before it built
    peers::UdpPort socket_;
    std::map<peers::Address, Spectator> spectators_;
};

}  // namespace gs::raceserver
