// The relay side of the connection: the list request, the list chunks, the
// relay's errors, refresh and spectate. Relay packets share the socket, the
// drain and the dispatch of connection/Connection.cpp.
#include <algorithm>
#include <cstring>

#include "common/Wire.h"
#include "connection/Connection.h"

namespace gs {

namespace {
constexpr std::size_t ChunkSize = 280, ErrorSize = 5;
constexpr int EntriesPerChunk = 8;
constexpr std::size_t SpectateSize = 60, PasswordWidth = 24;
// A chunk of the server list: the list's total at 4, then eight entries as
// three columns: 32-byte names from 8, player counts from 264, flags
// (bit 0: a spectator password is asked for) from 272.
constexpr std::size_t ChunkTotal = 4, ChunkNames = 8, ChunkNameStep = 32, ChunkPlayers = 264, ChunkFlags = 272;
// An error answer: its flags at 4 (bit 0: wrong password, bit 1: relay full).
constexpr std::size_t ErrorFlags = 4;
constexpr std::uint8_t WrongPassword = 1, RelayFull = 2;
}  // namespace

void Connection::PrepareRelayRequest(std::uint8_t requestCode) {
    std::memset(relayRequest_, 0, sizeof relayRequest_);
    std::memcpy(relayRequest_, "CCN", 3);
    relayRequest_[4] = requestCode;
    relayRequest_[7] = 1;
    servers_.Reset();
}

void Connection::Refresh() {
    race_.AddMessage("Requesting new Serverlist");
    PrepareRelayRequest(2);
    io_.socket.Send(relayRequest_, sizeof relayRequest_);
}

void Connection::Spectate(int row, const std::string& password) {
    const int entry = row - 1;
    if (servers_.received <= 0 || entry < 0 || entry >= std::min(servers_.received, ServerList::Capacity)) return;
    std::uint8_t packet[SpectateSize] = {};
    std::memcpy(packet, "HOS", 3);
    std::memcpy(packet + 4, servers_.names[entry], ServerList::NameWidth);
    PutText(packet + 36, PasswordWidth, password);
    io_.socket.Send(packet, sizeof packet);
}

void Connection::OnServerListChunk(const DatagramView& p) {
    if (!p.Has(ChunkSize)) return;
    LinkState = lsRelayList;
    servers_.total = p.U16(ChunkTotal);
    // Entries past the store's capacity are not stored.
    const int n =
        std::min({servers_.total - servers_.received, EntriesPerChunk, ServerList::Capacity - servers_.received});
    int named = 0;
    for (int i = 0; i < n; ++i) {
        const int at = servers_.received + i;
        p.CopyField(ChunkNames + ChunkNameStep * i, ServerList::NameWidth, servers_.names[at]);
        servers_.players[at] = p.U8(ChunkPlayers + i);
        servers_.flags[at] = p.U8(ChunkFlags + i);
        if (servers_.names[at][0] != '\0') ++named;
    }
    servers_.received = std::min(servers_.received + named, servers_.total);
    io_.shell.ServerListChanged();
}

void Connection::OnRelayError(const DatagramView& p) {
    if (!p.Has(ErrorSize)) return;
    const std::uint8_t flags = p.U8(ErrorFlags);
    if (flags & WrongPassword) race_.AddMessage("Wrong Spectator Password");
    if (flags & RelayFull) {
        race_.AddMessage("Relay Server Full");
        Disconnect();
    }
    if ((flags & (WrongPassword | RelayFull)) == 0) race_.AddMessage("Unknown Error Message from Host");
}

}  // namespace gs
