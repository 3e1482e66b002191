// Packet writer and bounded reader of the peers.
#include "Bytes.h"

#include <algorithm>

namespace gs::peers {

PacketWriter::PacketWriter(std::string_view type, std::size_t size) : bytes_(std::max<std::size_t>(size, 4), 0) {
    for (std::size_t i = 0; i < 3 && i < type.size(); ++i) bytes_[i] = static_cast<std::uint8_t>(type[i]);
}

PacketWriter& PacketWriter::U8(std::size_t offset, std::uint32_t value) {
    if (offset < bytes_.size()) bytes_[offset] = static_cast<std::uint8_t>(value & 0xFF);
    return *this;
}

PacketWriter& PacketWriter::U16(std::size_t offset, std::uint32_t value) {
    U8(offset, value);
    return U8(offset + 1, value >> 8);
}

PacketWriter& PacketWriter::U32(std::size_t offset, std::uint32_t value) {
    U16(offset, value);
    return U16(offset + 2, value >> 16);
}

PacketWriter& PacketWriter::I32(std::size_t offset, std::int32_t value) {
    return U32(offset, static_cast<std::uint32_t>(value));
}

PacketWriter& PacketWriter::Text(std::size_t offset, std::size_t width, std::string_view text) {
    for (std::size_t i = 0; i < width; ++i) U8(offset + i, i < text.size() ? static_cast<std::uint8_t>(text[i]) : 0);
    return *this;
}

std::uint32_t PacketReader::U8(std::size_t offset) const { return offset < size_ ? data_[offset] : 0; }

std::uint32_t PacketReader::U16(std::size_t offset) const { return U8(offset) | (U8(offset + 1) << 8); }

std::uint32_t PacketReader::U32(std::size_t offset) const { return U16(offset) | (U16(offset + 2) << 16); }

std::string PacketReader::Text(std::size_t offset, std::size_t width) const {
    std::string text;
    for (std::size_t i = 0; i < width && offset + i < size_; ++i) {
        const auto c = data_[offset + i];
        if (c == 0) break;
        text.push_back(static_cast<char>(c));
    }
    return text;
}

bool PacketReader::IsType(std::string_view type) const {
    return size_ >= 3 && type.size() >= 3 && data_[0] == static_cast<std::uint8_t>(type[0]) &&
           data_[1] == static_cast<std::uint8_t>(type[1]) && data_[2] == static_cast<std::uint8_t>(type[2]);
}

Bytes GeneralPacket(std::string_view type, std::uint32_t value) { return PacketWriter(type, 8).U32(4, value).Take(); }

}  // namespace gs::peers
