// The program's UDP socket over POSIX sockets: connected to one peer, so
// sends need no address and only that peer's datagrams arrive; receives never
// block.
#pragma once

#include "common/Platform.h"

namespace gs {

class UdpSocket final : public DatagramSocket {
public:
    UdpSocket() = default;
    ~UdpSocket() override { Close(); }
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // A host starting with a digit is a dotted IPv4 address, anything else a
    // name to look up; the port is a number or a service name.
    bool Open(const std::string& host, const std::string& port, std::string& error) override;
    void Send(const void* data, std::size_t size) override;
    int Receive(void* buffer, std::size_t capacity) override;
    void Close() override;
    bool IsOpen() const override { return fd_ >= 0; }
    int Descriptor() const { return fd_; }

private:
    int fd_ = -1;
};

}  // namespace gs
