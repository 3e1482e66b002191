// The life of one spectator connection and the dispatch of what it receives.
//
//   Connection steps and time-out  - OnPacketTick, first part
//   Drain and dispatch             - OnPacketTick, second part; one handler per
//                                    packet type (InSim here, relay packets in
//                                    relay/RelayProtocol.cpp)
//   Keep-alive                     - OnKeepAliveTick
//   Disconnect                     - the one way every connection ends
//   Opening commands               - the socket steps of Connect, Get Server
//                                    List, Refresh and Spectate
//
// The connection is driven by explicit calls (the timers' ticks, the socket's
// connect event, the commands) and reaches the world through the interfaces
// of common/Platform.h, so tests drive it with a fake clock and timers and a
// real loopback socket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/Platform.h"
#include "connection/RaceState.h"
#include "connection/ServerList.h"

namespace gs {

class DatagramView;

enum LinkStateValue : std::int32_t {
    lsIdle = 0,
    lsHelloSent = 1,
    lsRequested = 2,
    lsRelayList = 3,
    lsLive = 4,
    lsRefreshed = 5,
};

enum ConnectionModeValue : std::int32_t { cmNone = 0, cmDirect = 1, cmRelay = 2 };

// The host name of the relay: a direct Connect to it is refused, since a
// relay's servers are reached through its list.
extern const char* const RelayHostName;

struct ConnectionPorts {
    const Clock& clock;
    Timer& packetTimer;
    Timer& keepAliveTimer;
    DatagramSocket& socket;
    Shell& shell;
};

class Connection {
public:
    static constexpr int UpdateInterval = 500;  // ms, sent with "NLI"
    static constexpr std::size_t ReceiveBufferSize = 65536;
    static constexpr std::size_t ReadSize = 16384;
    // A flood of datagrams must not keep the GUI thread in one tick: a tick
    // stops draining after this many datagrams or this much time; what is
    // left waits in the socket for the next tick.
    static constexpr int MaxDatagramsPerTick = 2000;
    static constexpr int DrainBudgetMs = 25;

    Connection(RaceState& race, ServerList& servers, const ConnectionPorts& ports);

    std::int32_t LinkState = lsIdle;
    std::int32_t ConnectionMode = cmNone;
    std::uint32_t IdleTicks = 0;

    // Timer and socket events.
    void OnPacketTick();
    void OnKeepAliveTick();
    void OnSocketOpened();
    void Disconnect();

    // Handles one received datagram as the drain does (traffic bookkeeping,
    // then dispatch by type).
    void ReceiveDatagram(const std::uint8_t* data, std::size_t size);

    // Opening commands' socket steps.
    void ConnectCommand(const std::string& host, int port, const std::string& adminPassword);
    void GetServerListBegin();  // ends any connection; the shell then waits
    void GetServerListOpen(const std::string& host, int port);
    void Refresh();
    // Spectates the server of grid row `row` (row 1 is entry 0). Does
    // nothing while the list is empty or the row holds no entry.
    void Spectate(int row, const std::string& password);

    // Packets sent.
    void SendInSimPack(const char* type, std::uint32_t value);
    void PrepareInit(const std::string& adminPassword);
    void PrepareRelayRequest(std::uint8_t requestCode);
    const std::uint8_t* InitPacket() const { return initPacket_; }
    const std::uint8_t* RelayRequest() const { return relayRequest_; }

    RaceState& Race() { return race_; }
    ServerList& Servers() { return servers_; }

private:
    void ConnectionSteps();
    void Drain();
    void Dispatch(const DatagramView& packet);
    bool OpenSocket(const std::string& host, int port);
    std::string ConnectedCaption() const;

    void OnCarInfo(const DatagramView& p);
    void OnReorder(const DatagramView& p);
    void OnVersion(const DatagramView& p);
    void OnState(const DatagramView& p);
    void OnNewPlayer(const DatagramView& p);
    void OnPlayerLeaves(const DatagramView& p);
    void OnServerName(const DatagramView& p);
    void OnLap(const DatagramView& p);
    void OnResult(const DatagramView& p);
    void OnRename(const DatagramView& p);
    void OnMessage(const DatagramView& p);
    void OnRaceStart(const DatagramView& p);
    void OnRaceEnd(const DatagramView& p);
    // Relay packets (relay/RelayProtocol.cpp).
    void OnServerListChunk(const DatagramView& p);
    void OnRelayError(const DatagramView& p);

    RaceState& race_;
    ServerList& servers_;
    ConnectionPorts io_;
    std::uint8_t initPacket_[24] = {};
    std::uint8_t relayRequest_[8] = {};
    std::uint8_t buffer_[ReceiveBufferSize];
};

}  // namespace gs
