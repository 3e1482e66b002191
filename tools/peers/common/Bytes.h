// Byte-level packet building and bounded packet reading for the project's peers
// (race server and relay). Little-endian integers, fixed-width zero-padded texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace gs::peers {

using Bytes = std::vector<std::uint8_t>;

// Builds one packet of a fixed size: a three-letter type and a zero byte, then
// fields written at explicit offsets. Writes outside the packet are dropped, so a
// wrong offset shows up as a missing field in the tests, never as a wild write.
class PacketWriter {
public:
    PacketWriter(std::string_view type, std::size_t size);

    PacketWriter& U8(std::size_t offset, std::uint32_t value);
    PacketWriter& U16(std::size_t offset, std::uint32_t value);
    PacketWriter& U32(std::size_t offset, std::uint32_t value);
    PacketWriter& I32(std::size_t offset, std::int32_t value);
    // Copies at most `width` bytes of `text` and zero-fills the rest of the field;
    // a text that fills the field gets no terminator.
    PacketWriter& Text(std::size_t offset, std::size_t width, std::string_view text);

    const Bytes& Data() const { return bytes_; }
    Bytes Take() { return std::move(bytes_); }

private:
    Bytes bytes_;
};

// Reads fields of a received datagram; every read is bounded by the datagram's
// size and yields 0 (or the part of the text that was received) past its end.
class PacketReader {
public:
    PacketReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    explicit PacketReader(const Bytes& bytes) : PacketReader(bytes.data(), bytes.size()) {}

    std::size_t Size() const { return size_; }
    bool Has(std::size_t offset, std::size_t width) const { return offset <= size_ && width <= size_ - offset; }
    std::uint32_t U8(std::size_t offset) const;
    std::uint32_t U16(std::size_t offset) const;
    std::uint32_t U32(std::size_t offset) const;
    // The text of a zero-padded field: up to its first zero byte, at most `width`
    // bytes, and never past the end of the datagram.
    std::string Text(std::size_t offset, std::size_t width) const;
    // True when the datagram starts with the three letters of `type`.
    bool IsType(std::string_view type) const;

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// The 8-byte general packet: type and a 32-bit value at offset 4.
Bytes GeneralPacket(std::string_view type, std::uint32_t value);

}  // namespace gs::peers
