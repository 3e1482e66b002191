// The relay: lists race servers to spectators in "CHL" chunks and, after a good
// spectate request "HOS", forwards traffic both ways between that spectator and
// the chosen race server through an upstream socket of its own per spectator.
// Single-threaded: Step() polls the listening socket and every upstream socket.
//
// Answers: "CCN" -> the list in chunks of 8; "HOS" with a wrong password -> ERR
// bit 0; a new spectator when the relay is full -> ERR bit 1; "HOS" for a name
// that is not listed, or for a server listed without an address -> ERR flags 0.
#pragma once

#include "Bytes.h"
#include "Udp.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace gs::relay {

using peers::Bytes;

struct RelayEntry {
    std::string name;                       // as listed, colour codes included (at most 32 bytes)
    int players = 0;                        // shown in the list (0..255)
    std::string password;                   // spectator password; empty: none needed
    std::optional<peers::Address> address;  // none: listed only
    std::string admin;                      // admin password the relay sends in its init to the server
};

// One entry from "name|players|password|host:port|admin" (the last three may be
// empty or left out). Throws std::runtime_error naming the fault.
RelayEntry ParseEntry(const std::string& line);
// Entries of a config file: one per line, blank lines and lines starting with #
// skipped. Errors name the file and line.
std::vector<RelayEntry> ReadRelayConfig(const std::string& file);

constexpr std::size_t kChlSize = 280, kErrSize = 8, kHosSize = 60, kChlEntries = 8;
constexpr std::uint8_t kErrWrongPassword = 1, kErrFull = 2, kErrUnknown = 0;

// The list as chunks of at most 8 entries, total at offset 4; one empty chunk
// for an empty list.
std::vector<Bytes> BuildChl(const std::vector<RelayEntry>& entries);
Bytes BuildErr(std::uint8_t flags);
// The init packet the relay opens an upstream connection with.
Bytes BuildIsi(const std::string& adminPassword);

struct RelayOptions {
    std::string bindHost = "127.0.0.1";
    std::uint16_t port = 47474;   // 0 picks a free port
    std::size_t maxClients = 16;  // spectators (listing or forwarding) held at once
    double clientTimeout = 90.0;  // seconds of silence before a spectator is forgotten
    std::vector<RelayEntry> servers;
};

class Relay {
public:
    using Clock = std::function<double()>;
    static double SteadySeconds();

    Relay(RelayOptions options, Clock clock = &Relay::SteadySeconds);
    std::uint16_t Port() const { return socket_.LocalPort(); }
    void Step(int maxWaitMs);
    std::size_t ClientCount() const { return clients_.size(); }
    std::function<void(const std::string&)> log;

private:
    struct Client {
        double lastHeard = 0;
        std::unique_ptr<peers::UdpPort> upstream;
        peers::Address server;
    };

    void HandleClient(const peers::Datagram& datagram, double now);
    void Spectate(const peers::Address& from, Client& client, const peers::PacketReader& in);
    void CloseUpstream(Client& client);
    void Log(const std::string& line) const;

    RelayOptions options_;
    Clock clock_;
    peers::UdpPort socket_;
    std::map<peers::Address, Client> clients_;
};

}  // namespace gs::relay
