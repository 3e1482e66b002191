// The spectator bookkeeping that the live race server and the replay server
// share: who may join, who is still there, who is forgotten.
//
// A server keeps its spectators in a map from address to a record of its own
// with at least `double lastHeard` (real seconds). A spectator joins with an
// init packet that carries the admin password; every later packet from it is
// a sign of life; a goodbye or a long silence removes it. Packets from any
// other address are never answered.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>

#include "Bytes.h"
#include "Udp.h"

namespace gs::raceserver {

using ServerLog = std::function<void(const std::string&)>;

// The init packet's size and its admin password field: 16 bytes at offset 8,
// zero-padded.
constexpr std::size_t kInitSize = 24;

// Takes in the sender of an init packet when it is long enough and carries
// the password: its record (made when new, kept when it joins again), heard
// now. A refused init gets no answer and a log line; the result is null.
template <typename Spectator>
Spectator* AdmitSpectator(std::map<peers::Address, Spectator>& spectators, const peers::Datagram& init,
                          const std::string& password, double now, const ServerLog& log) {
    const peers::PacketReader in(init.bytes);
    if (in.Size() < kInitSize || in.Text(8, 16) != password) {
        if (log) log("init from " + init.from.ToString() + " refused");
        return nullptr;
    }
    Spectator& spectator = spectators[init.from];
    spectator.lastHeard = now;
    return &spectator;
}

// The record of a joined spectator that sent a packet, heard now; null for
// any other sender.
template <typename Spectator>
Spectator* HeardFrom(std::map<peers::Address, Spectator>& spectators, const peers::Address& from, double now) {
    const auto found = spectators.find(from);
    if (found == spectators.end()) return nullptr;
    found->second.lastHeard = now;
    return &found->second;
}

// A goodbye: the spectator is gone at once.
template <typename Spectator>
void SpectatorLeft(std::map<peers::Address, Spectator>& spectators, const peers::Address& from, const ServerLog& log) {
    if (spectators.erase(from) != 0 && log) log("spectator " + from.ToString() + " left");
}

// Forgets every spectator silent for longer than `timeout` seconds.
template <typename Spectator>
void ForgetSilentSpectators(std::map<peers::Address, Spectator>& spectators, double now, double timeout,
                            const ServerLog& log) {
    for (auto it = spectators.begin(); it != spectators.end();) {
        if (now - it->second.lastHeard > timeout) {
            if (log) log("spectator " + it->first.ToString() + " silent, forgotten");
            it = spectators.erase(it);
        } else {
            ++it;
        }
    }
}

}  // namespace gs::raceserver
