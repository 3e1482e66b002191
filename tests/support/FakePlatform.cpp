#include "support/FakePlatform.h"

#include <algorithm>
#include <cstring>

namespace gs::test {

bool FakeSocket::Open(const std::string& h, const std::string& p, std::string& error) {
    ++opens;
    host = h;
    port = p;
    if (failOpen) {
        error = "Cannot find server \"" + h + "\"";
        return false;
    }
    open = true;
    return true;
}

void FakeSocket::Send(const void* data, std::size_t size) {
    if (!open) return;
    const auto* b = static_cast<const std::uint8_t*>(data);
    sent.emplace_back(b, b + size);
}

int FakeSocket::Receive(void* buffer, std::size_t capacity) {
    if (!open || incoming.empty()) return -1;
    Bytes d = std::move(incoming.front());
    incoming.pop_front();
    const std::size_t n = std::min(capacity, d.size());
    if (n > 0) std::memcpy(buffer, d.data(), n);  // an empty datagram has no data pointer
    return static_cast<int>(n);
}

void FakeSocket::Close() {
    if (!open) return;
    open = false;
    ++closes;
}

std::vector<std::string> FakeSocket::SentTypes() const {
    std::vector<std::string> types;
    for (const Bytes& d : sent) types.emplace_back(d.begin(), d.begin() + std::min<std::size_t>(3, d.size()));
    return types;
}

PacketBuilder::PacketBuilder(const char* type, std::size_t size) : bytes(size, 0) {
    std::memcpy(bytes.data(), type, std::min<std::size_t>(3, size));
}
PacketBuilder& PacketBuilder::U8(std::size_t at, std::uint8_t v) {
    bytes.at(at) = v;
    return *this;
}
PacketBuilder& PacketBuilder::U16(std::size_t at, std::uint16_t v) {
    U8(at, v & 0xFF);
    return U8(at + 1, v >> 8);
}
PacketBuilder& PacketBuilder::I32(std::size_t at, std::int32_t v) {
    const auto u = static_cast<std::uint32_t>(v);
    U16(at, u & 0xFFFF);
    return U16(at + 2, u >> 16);
}
PacketBuilder& PacketBuilder::Text(std::size_t at, const std::string& text) {
    for (std::size_t i = 0; i < text.size(); ++i) U8(at + i, static_cast<std::uint8_t>(text[i]));
    return *this;
}

}  // namespace gs::test
