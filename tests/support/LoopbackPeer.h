// The far end of a real loopback UDP exchange: a socket bound to an
// ephemeral loopback port that answers whoever spoke to it last. Plays the
// race server in tests and benchmarks.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>
#include <vector>

namespace gs::test {

class LoopbackPeer {
public:
    LoopbackPeer() {
        fd_ = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
            if (fd_ >= 0) ::close(fd_);
            throw std::runtime_error("cannot bind a loopback socket");
        }
        port_ = ntohs(a.sin_port);
    }
    ~LoopbackPeer() { ::close(fd_); }
    LoopbackPeer(const LoopbackPeer&) = delete;
    LoopbackPeer& operator=(const LoopbackPeer&) = delete;

    int Port() const { return port_; }

    // Every datagram that arrives within `firstMs`, then within `nextMs` of
    // the one before; the sender becomes the one answered.
    std::vector<std::vector<std::uint8_t>> ReceiveAll(int firstMs = 200, int nextMs = 50) {
        std::vector<std::vector<std::uint8_t>> got;
        pollfd p{fd_, POLLIN, 0};
        for (int ms = firstMs; ::poll(&p, 1, ms) > 0; ms = nextMs) {
            std::uint8_t buffer[2048];
            socklen_t len = sizeof client_;
            const ssize_t n = ::recvfrom(fd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&client_), &len);
            if (n < 0) break;
            got.emplace_back(buffer, buffer + n);
        }
        return got;
    }
    void Send(const std::vector<std::uint8_t>& d) {
        ::sendto(fd_, d.data(), d.size(), 0, reinterpret_cast<const sockaddr*>(&client_), sizeof client_);
    }

private:
    int fd_ = -1;
    int port_ = 0;
    sockaddr_in client_{};
};

}  // namespace gs::test
