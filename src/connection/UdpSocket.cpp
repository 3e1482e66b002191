#include "connection/UdpSocket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace gs {

namespace {

bool ResolvePort(const std::string& port, std::uint16_t& out) {
    if (!port.empty() && std::isdigit(static_cast<unsigned char>(port[0]))) {
        char* end = nullptr;
        const long value = std::strtol(port.c_str(), &end, 10);
        if (*end != '\0' || value < 0 || value > 65535) return false;
        out = static_cast<std::uint16_t>(value);
        return true;
    }
    const servent* service = getservbyname(port.c_str(), "udp");
    if (!service) return false;
    out = ntohs(static_cast<std::uint16_t>(service->s_port));
    return true;
}

bool ResolveHost(const std::string& host, in_addr& out) {
    // A dotted address takes the classic forms too: "127.1" is 127.0.0.1,
    // "10.65535" is 10.0.255.255, and parts may be octal or hexadecimal.
    if (!host.empty() && std::isdigit(static_cast<unsigned char>(host[0]))) return inet_aton(host.c_str(), &out) != 0;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || !found) return false;
    out = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return true;
}

}  // namespace

bool UdpSocket::Open(const std::string& host, const std::string& port, std::string& error) {
    Close();
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    if (!ResolveHost(host, remote.sin_addr)) {
        error = "Cannot find server \"" + host + "\"";
        return false;
    }
    std::uint16_t portNumber = 0;
    if (!ResolvePort(port, portNumber) || portNumber == 0) {
        error = "Cannot use port \"" + port + "\"";
        return false;
    }
    remote.sin_port = htons(portNumber);
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0 || ::connect(fd_, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0) {
        error = "Cannot open connection to " + host + ":" + port + ": " + std::strerror(errno);
        Close();
        return false;
    }
    return true;
}

void UdpSocket::Send(const void* data, std::size_t size) {
    if (fd_ < 0) return;
    [[maybe_unused]] const ssize_t sent = ::send(fd_, data, size, MSG_NOSIGNAL);
}

int UdpSocket::Receive(void* buffer, std::size_t capacity) {
    if (fd_ < 0) return -1;
    const ssize_t got = ::recv(fd_, buffer, capacity, 0);
    return got < 0 ? -1 : static_cast<int>(got);
}

void UdpSocket::Close() {
    if (fd_ < 0) return;
    ::shutdown(fd_, SHUT_RDWR);
    ::close(fd_);
    fd_ = -1;
}

}  // namespace gs
