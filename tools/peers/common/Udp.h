// A bound, non-blocking IPv4 UDP socket for the peers, and the address type that
// identifies a peer (spectator, relay client or race server).
#pragma once

#include "Bytes.h"

#include <cstdint>
#include <optional>
#include <string>

namespace gs::peers {

struct Address {
    std::uint32_t ip = 0;    // host byte order
    std::uint16_t port = 0;  // host byte order

    auto operator<=>(const Address&) const = default;
    std::string ToString() const;
};

// "host:port" (host a dotted address or a name) to an IPv4 address; nullopt when
// the text has no port or the host cannot be resolved.
std::optional<Address> ResolveHostPort(const std::string& text);
std::optional<Address> Resolve(const std::string& host, std::uint16_t port);

struct Datagram {
    Address from;
    Bytes bytes;
};

class UdpPort {
public:
    UdpPort() = default;
    ~UdpPort();
    UdpPort(const UdpPort&) = delete;
    UdpPort& operator=(const UdpPort&) = delete;

    // Binds to host:port (port 0 picks a free one). Throws std::runtime_error with
    // the reason when the socket cannot be created or bound.
    void Bind(const std::string& host, std::uint16_t port);
    std::uint16_t LocalPort() const;
    int Fd() const { return fd_; }

    bool SendTo(const Address& to, const Bytes& bytes) const;
    // One pending datagram, or nullopt when none is pending (or on an error).
    std::optional<Datagram> Receive() const;
    // Waits until a datagram is pending or `timeoutMs` has passed.
    bool WaitReadable(int timeoutMs) const;

private:
    int fd_ = -1;
};

}  // namespace gs::peers
