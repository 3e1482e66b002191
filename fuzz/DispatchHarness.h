// The dispatch fuzz harness: one fuzz input drives a whole connection.
//
//   Input format     - starting state header, then a list of operations
//   DispatchInput    - writes inputs in that format (seed corpus, tests)
//   RunDispatchInput - reads one input, drives a Connection over fake
//                      platform parts and checks the race model's invariants
//                      after every operation
//
// Input layout (bytes missing at the end read as 0):
//   0      LinkState (mod 6)             1   ConnectionMode (mod 3)
//   2      PlayerCount (mod 33)          3   FollowIndex ((b mod 33) - 1)
//   4..5   server list total (u16)       6..7 server list received (u16, cut
//                                             to what the store can hold)
//   8..9   path node count (u16)         10..11 finish node (u16)
//   then one byte per starting player: low 3 bits pick a name, high 4 bits
//   the number of queued samples (mod 9)
//   then operations, one op byte each:
//     0x00..0x7F  a datagram (u16 length, bytes) through ReceiveDatagram
//     0x80 + k    k mod 10 picks: 0 queue a datagram in the socket for the
//                 next tick's drain; 1 OnPacketTick; 2 OnKeepAliveTick
//                 (each only while its timer is on); 3 Disconnect; 4 clock += u8 × 20 ms; 5 Connect command;
//                 6 Get Server List; 7 Refresh; 8 Spectate row u8;
//                 9 burst: the next datagram (u8 count, u16 length, bytes)
//                 delivered (count + 1) × 8 times
// A length longer than what is left takes what is left.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace gs {
class RaceState;
struct ServerList;
}  // namespace gs

namespace gs::fuzz {

using Bytes = std::vector<std::uint8_t>;

enum class Op : std::uint8_t {
    Queue = 0,
    Tick = 1,
    KeepAlive = 2,
    Disconnect = 3,
    AdvanceClock = 4,
    Connect = 5,
    GetServerList = 6,
    Refresh = 7,
    Spectate = 8,
    Burst = 9,
};
constexpr int OpCount = 10;
constexpr std::size_t HeaderSize = 12;

// Names the starting players can get (index = low 3 bits of their byte).
extern const char* const StartingNames[8];

struct StartState {
    std::uint8_t linkState = 0, mode = 0;
    std::uint8_t playerCount = 0;
    std::int8_t followIndex = -1;
    std::uint16_t total = 0, received = 0;
    std::uint16_t pathNodes = 0, finishNode = 0;
    // Per player: name index and queued samples.
    std::vector<std::pair<std::uint8_t, std::uint8_t>> players;
};

// Writes fuzz inputs in the layout above.
class DispatchInput {
public:
    explicit DispatchInput(const StartState& start = {});
    DispatchInput& Datagram(const Bytes& packet);
    DispatchInput& Queue(const Bytes& packet);
    DispatchInput& Burst(std::uint8_t count, const Bytes& packet);
    DispatchInput& Do(Op op);                         // ops without arguments
    DispatchInput& Do(Op op, std::uint8_t argument);  // AdvanceClock, Spectate
    const Bytes& Data() const { return data_; }

private:
    void Append(const Bytes& packet);
    Bytes data_;
};

// What one run saw: the first broken invariant (empty when none) and a few
// counts that tests use to tell that the input reached where it meant to.
struct DispatchResult {
    std::string violation;
    int operations = 0;
    int datagrams = 0;
    std::int32_t finalLinkState = 0;
    std::int32_t finalPlayerCount = 0;
    std::int32_t finalReceived = 0;
    std::size_t finalLogSize = 0;
    std::vector<std::string> tracksLoaded;
};

DispatchResult RunDispatchInput(const std::uint8_t* data, std::size_t size);

// The invariants of the race model and the server list store that no input
// may break; returns the first one broken, or an empty text.
std::string CheckInvariants(const RaceState& race, const ServerList& servers);

}  // namespace gs::fuzz
