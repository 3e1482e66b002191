// Reader of a track's path file header (see PathFile.h).
#include "track/PathFile.h"

#include "common/Wire.h"

namespace gs {

PathHeader DecodePathHeader(const std::uint8_t* bytes, std::size_t size) {
    const DatagramView header(bytes, size < PathHeaderSize ? size : PathHeaderSize);
    PathHeader h;
    h.NodeCount = header.U16(8);
    h.FinishNode = header.U16(12);
    return h;
}

PathHeader ReadPathHeader(std::FILE* file) {
    std::uint8_t bytes[PathHeaderSize] = {};
    const std::size_t got = std::fread(bytes, 1, sizeof bytes, file);
    return DecodePathHeader(bytes, got);
}

}  // namespace gs
