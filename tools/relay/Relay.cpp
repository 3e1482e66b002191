// Server list, spectate requests and forwarding of the relay.
#include "Relay.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <stdexcept>

namespace gs::relay {

using peers::PacketReader;
using peers::PacketWriter;

namespace {

std::vector<std::string> SplitFields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (true) {
        const auto bar = line.find('|', start);
        fields.push_back(line.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos) return fields;
        start = bar + 1;
    }
}

}  // namespace

RelayEntry ParseEntry(const std::string& line) {
    const auto fields = SplitFields(line);
    if (fields.size() > 5)
        throw std::runtime_error("server entry '" + line +
                                 "': more than 5 fields (name|players|password|host:port|admin)");
    RelayEntry entry;
    entry.name = fields[0];
    if (entry.name.empty() || entry.name.size() > 32)
        throw std::runtime_error("server entry '" + line + "': the name needs 1 to 32 bytes");
    if (fields.size() > 1 && !fields[1].empty()) {
        const std::string& p = fields[1];
        if (p.size() > 3 || p.find_first_not_of("0123456789") != std::string::npos || std::stoi(p) > 255)
            throw std::runtime_error("server entry '" + line + "': players must be 0..255");
        entry.players = std::stoi(p);
    }
    if (fields.size() > 2) entry.password = fields[2];
    if (entry.password.size() > 24)
        throw std::runtime_error("server entry '" + line + "': the spectator password has more than 24 bytes");
    if (fields.size() > 3 && !fields[3].empty()) {
        entry.address = peers::ResolveHostPort(fields[3]);
        if (!entry.address)
            throw std::runtime_error("server entry '" + line + "': '" + fields[3] + "' is not host:port");
    }
    if (fields.size() > 4) entry.admin = fields[4];
    if (entry.admin.size() > 16)
        throw std::runtime_error("server entry '" + line + "': the admin password has more than 16 bytes");
    return entry;
}

std::vector<RelayEntry> ReadRelayConfig(const std::string& file) {
    std::ifstream in(file);
    if (!in) throw std::runtime_error("relay config " + file + ": cannot be opened");
    std::vector<RelayEntry> entries;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos || line[line.find_first_not_of(" \t")] == '#') continue;
        try {
            entries.push_back(ParseEntry(line));
        } catch (const std::exception& e) {
            throw std::runtime_error("relay config " + file + " line " + std::to_string(number) + ": " + e.what());
        }
    }
    return entries;
}

std::vector<Bytes> BuildChl(const std::vector<RelayEntry>& entries) {
    std::vector<Bytes> chunks;
    const std::size_t total = std::min<std::size_t>(entries.size(), 65535);
    std::size_t first = 0;
    do {
        PacketWriter w("CHL", kChlSize);
        w.U16(4, static_cast<std::uint32_t>(total));
        for (std::size_t i = 0; i < kChlEntries && first + i < total; ++i) {
            const RelayEntry& e = entries[first + i];
            w.Text(8 + 32 * i, 32, e.name);
            w.U8(264 + i, static_cast<std::uint32_t>(e.players));
            w.U8(272 + i, e.password.empty() ? 0u : 1u);
        }
        chunks.push_back(w.Take());
        first += kChlEntries;
    } while (first < total);
    return chunks;
}

Bytes BuildErr(std::uint8_t flags) { return PacketWriter("ERR", kErrSize).U8(4, flags).Take(); }

Bytes BuildIsi(const std::string& adminPassword) {
    return PacketWriter("ISI", 24).U16(4, 0).U8(6, 0x31).Text(8, 16, adminPassword).Take();
}

double Relay::SteadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

Relay::Relay(RelayOptions options, Clock clock) : options_(std::move(options)), clock_(std::move(clock)) {
    socket_.Bind(options_.bindHost, options_.port);
}

void Relay::Log(const std::string& line) const {
    if (log) log(line);
}

void Relay::Step(int maxWaitMs) {
    std::vector<pollfd> fds{{socket_.Fd(), POLLIN, 0}};
    for (const auto& [address, client] : clients_)
        if (client.upstream) fds.push_back({client.upstream->Fd(), POLLIN, 0});
    poll(fds.data(), fds.size(), std::max(0, maxWaitMs));

    const double now = clock_();
    while (const auto datagram = socket_.Receive()) HandleClient(*datagram, now);

    // Server to spectator: only datagrams from the chosen server are passed on.
    for (auto& [address, client] : clients_) {
        if (!client.upstream) continue;
        while (const auto datagram = client.upstream->Receive())
            if (datagram->from == client.server) socket_.SendTo(address, datagram->bytes);
    }

    for (auto it = clients_.begin(); it != clients_.end();) {
        if (now - it->second.lastHeard > options_.clientTimeout) {
            Log("client " + it->first.ToString() + " silent, forgotten");
            CloseUpstream(it->second);
            it = clients_.erase(it);
        } else {
            ++it;
        }
    }
}

void Relay::HandleClient(const peers::Datagram& datagram, double now) {
    const PacketReader in(datagram.bytes);
    auto found = clients_.find(datagram.from);
    if (found == clients_.end()) {
        // Only the relay's own requests open a session; stray traffic is dropped.
        if (!in.IsType("CCN") && !in.IsType("HOS")) return;
        if (clients_.size() >= options_.maxClients) {
            Log("client " + datagram.from.ToString() + " refused: relay full");
            socket_.SendTo(datagram.from, BuildErr(kErrFull));
            return;
        }
        found = clients_.emplace(datagram.from, Client{}).first;
        Log("client " + datagram.from.ToString() + " arrived");
    }
    Client& client = found->second;
    client.lastHeard = now;

    if (in.IsType("CCN")) {
        for (const Bytes& chunk : BuildChl(options_.servers)) socket_.SendTo(datagram.from, chunk);
    } else if (in.IsType("HOS")) {
        Spectate(datagram.from, client, in);
    } else if (client.upstream) {
        client.upstream->SendTo(client.server, datagram.bytes);
        if (in.IsType("ISC")) {
            // The spectator has gone (its "ISC" went on to the server): so has
            // its upstream connection.
            Log("client " + datagram.from.ToString() + " disconnected");
            clients_.erase(found);
        }
    } else if (in.IsType("ISC")) {
        clients_.erase(found);
    }
}

void Relay::Spectate(const peers::Address& from, Client& client, const PacketReader& in) {
    if (in.Size() < kHosSize) return;  // a cut-off request names no server reliably
    const std::string name = in.Text(4, 32);
    const std::string password = in.Text(36, 24);
    const auto entry = std::find_if(options_.servers.begin(), options_.servers.end(),
                                    [&](const RelayEntry& e) { return e.name == name; });
    if (entry == options_.servers.end() || !entry->address) {
        Log("client " + from.ToString() + " asked for '" + name + "': not a server the relay can reach");
        socket_.SendTo(from, BuildErr(kErrUnknown));
        return;
    }
    if (!entry->password.empty() && password != entry->password) {
        Log("client " + from.ToString() + " gave a wrong password for '" + name + "'");
        socket_.SendTo(from, BuildErr(kErrWrongPassword));
        return;
    }
    CloseUpstream(client);
    auto upstream = std::make_unique<peers::UdpPort>();
    try {
        upstream->Bind("0.0.0.0", 0);
    } catch (const std::exception& e) {
        Log(std::string("no upstream socket: ") + e.what());
        socket_.SendTo(from, BuildErr(kErrUnknown));
        return;
    }
    client.upstream = std::move(upstream);
    client.server = *entry->address;
    // The relay opens the server connection itself: the spectator sends no init
    // through a relay, only what follows it.
    client.upstream->SendTo(client.server, BuildIsi(entry->admin));
    Log("client " + from.ToString() + " spectates '" + name + "' at " + client.server.ToString() + " via local port " +
        std::to_string(client.upstream->LocalPort()));
}

void Relay::CloseUpstream(Client& client) {
    if (client.upstream) {
        client.upstream->SendTo(client.server, peers::GeneralPacket("ISC", 0));
        client.upstream.reset();
    }
}

}  // namespace gs::relay
