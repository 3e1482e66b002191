// Reader of a track's path file header: the node count and the finish node.
//
// A path file is a 16-byte header followed by one record per path node. The
// program uses only the header: bytes 8..9 are the node count and bytes
// 12..13 the index of the node at which a lap begins, both little-endian;
// the upper halves of the two 32-bit fields and the node records are not
// read. Nothing is checked: the two numbers are taken as they are.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace gs {

constexpr std::size_t PathHeaderSize = 16;

struct PathHeader {
    std::int32_t NodeCount = 0;   // 0..65535
    std::int32_t FinishNode = 0;  // 0..65535
};

// Decodes the header from the first `size` bytes of a file; bytes missing
// from a short file count as 0.
PathHeader DecodePathHeader(const std::uint8_t* bytes, std::size_t size);
// Reads up to 16 bytes from `file` (positioned at its start) and decodes them.
PathHeader ReadPathHeader(std::FILE* file);

}  // namespace gs
