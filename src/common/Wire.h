// Bounded reading and writing of wire packets.
//
// Every received datagram is read through a DatagramView that knows how many
// bytes arrived: a read past the end yields 0, never memory. Handlers first
// ask `Has(size)` for the bytes their type reads and drop the datagram when
// it is shorter, so the zero fallback is a second line of defence only.
// Multi-byte numbers are little-endian on the wire.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace gs {

class DatagramView {
public:
    DatagramView(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::size_t Size() const { return size_; }
    bool Has(std::size_t bytes) const { return size_ >= bytes; }
    const std::uint8_t* Data() const { return data_; }

    std::uint8_t U8(std::size_t offset) const { return offset < size_ ? data_[offset] : 0; }
    std::uint16_t U16(std::size_t offset) const {
        return static_cast<std::uint16_t>(U8(offset) | (U8(offset + 1) << 8));
    }
    std::uint32_t U32(std::size_t offset) const {
        return static_cast<std::uint32_t>(U16(offset)) | (static_cast<std::uint32_t>(U16(offset + 2)) << 16);
    }
    std::int32_t I32(std::size_t offset) const { return static_cast<std::int32_t>(U32(offset)); }

    // The first three bytes equal `type` (byte 3 is never examined).
    bool IsType(const char* type) const { return size_ >= 3 && std::memcmp(data_, type, 3) == 0; }

    // Copies a fixed-width field into `out` (width bytes); bytes past the
    // datagram's end come out as zeros.
    void CopyField(std::size_t offset, std::size_t width, char* out) const {
        for (std::size_t i = 0; i < width; ++i) out[i] = static_cast<char>(U8(offset + i));
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// Little-endian stores into a packet buffer being built.
inline void PutU16(std::uint8_t* at, std::uint16_t v) {
    at[0] = static_cast<std::uint8_t>(v);
    at[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void PutU32(std::uint8_t* at, std::uint32_t v) {
    PutU16(at, static_cast<std::uint16_t>(v));
    PutU16(at + 2, static_cast<std::uint16_t>(v >> 16));
}
// A text into a zero-padded field of `width` bytes; a text that fills the
// field gets no terminator, a longer one is cut.
inline void PutText(std::uint8_t* at, std::size_t width, const std::string& text) {
    std::memset(at, 0, width);
    std::memcpy(at, text.data(), text.size() < width ? text.size() : width);
}

}  // namespace gs
