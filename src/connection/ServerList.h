// The relay's list of servers, as it arrives in chunks.
#pragma once

#include <cstdint>

namespace gs {

struct ServerList {
    static constexpr int Capacity = 512;
    static constexpr int NameWidth = 32;

    char names[Capacity][NameWidth] = {};  // as received, colour codes kept
    std::int32_t players[Capacity] = {};
    std::int32_t flags[Capacity] = {};  // bit 0: spectator password needed
    std::int32_t total = 0;             // total of the last chunk
    std::int32_t received = 0;          // entries held, never above total

    void Reset() { total = received = 0; }
};

}  // namespace gs
