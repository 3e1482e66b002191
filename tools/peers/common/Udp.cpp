// POSIX UDP socket of the peers.
#include "Udp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace gs::peers {

namespace {

sockaddr_in ToSockaddr(const Address& address) {
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(address.ip);
    sa.sin_port = htons(address.port);
    return sa;
}

}  // namespace

std::string Address::ToString() const {
    return std::to_string((ip >> 24) & 0xFF) + "." + std::to_string((ip >> 16) & 0xFF) + "." +
           std::to_string((ip >> 8) & 0xFF) + "." + std::to_string(ip & 0xFF) + ":" + std::to_string(port);
}

std::optional<Address> Resolve(const std::string& host, std::uint16_t port) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* result = nullptr;
    if (getaddrinfo(host.empty() ? "0.0.0.0" : host.c_str(), nullptr, &hints, &result) != 0 || !result)
        return std::nullopt;
    Address address;
    address.ip = ntohl(reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr.s_addr);
    address.port = port;
    freeaddrinfo(result);
    return address;
}

std::optional<Address> ResolveHostPort(const std::string& text) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon + 1 >= text.size()) return std::nullopt;
    const std::string portText = text.substr(colon + 1);
    if (portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos) return std::nullopt;
    const unsigned long port = std::stoul(portText);
    if (port == 0 || port > 65535) return std::nullopt;
    return Resolve(text.substr(0, colon), static_cast<std::uint16_t>(port));
}

UdpPort::~UdpPort() {
    if (fd_ >= 0) close(fd_);
}

void UdpPort::Bind(const std::string& host, std::uint16_t port) {
    const auto address = Resolve(host, port);
    if (!address) throw std::runtime_error("cannot resolve bind address '" + host + "'");
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd_ < 0) throw std::runtime_error(std::string("cannot create UDP socket: ") + std::strerror(errno));
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL, 0) | O_NONBLOCK);
    const sockaddr_in sa = ToSockaddr(*address);
    if (bind(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
        const std::string reason = std::strerror(errno);
        close(fd_);
        fd_ = -1;
        throw std::runtime_error("cannot bind UDP " + address->ToString() + ": " + reason);
    }
}

std::uint16_t UdpPort::LocalPort() const {
    sockaddr_in sa{};
    socklen_t length = sizeof sa;
    if (fd_ < 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &length) != 0) return 0;
    return ntohs(sa.sin_port);
}

bool UdpPort::SendTo(const Address& to, const Bytes& bytes) const {
    const sockaddr_in sa = ToSockaddr(to);
    return fd_ >= 0 && sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) ==
                           static_cast<ssize_t>(bytes.size());
}

std::optional<Datagram> UdpPort::Receive() const {
    if (fd_ < 0) return std::nullopt;
    // 65507 is the largest UDP payload over IPv4; nothing the peers handle is bigger.
    Bytes buffer(65536);
    sockaddr_in sa{};
    socklen_t length = sizeof sa;
    const ssize_t received = recvfrom(fd_, buffer.data(), buffer.size(), 0, reinterpret_cast<sockaddr*>(&sa), &length);
    if (received < 0) return std::nullopt;
    buffer.resize(static_cast<std::size_t>(received));
    return Datagram{Address{ntohl(sa.sin_addr.s_addr), ntohs(sa.sin_port)}, std::move(buffer)};
}

bool UdpPort::WaitReadable(int timeoutMs) const {
    pollfd p{fd_, POLLIN, 0};
    return fd_ >= 0 && poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN);
}

}  // namespace gs::peers
