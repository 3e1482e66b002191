// Path file reader and track code rules of the peers.
#include "PathFile.h"

#include "Bytes.h"

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace gs::peers {

namespace {

const char* const kTrackKeys[] = {"SO", "FE", "BL", "AS", "KY", "WE"};

float FloatAt(const PacketReader& reader, std::size_t offset) {
    const std::uint32_t bits = reader.U32(offset);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

}  // namespace

PathData ReadPathFile(const std::filesystem::path& file) {
    const std::string name = file.string();
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error("path file " + name + ": cannot be opened");
    const Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < kPathHeaderSize)
        throw std::runtime_error("path file " + name + ": shorter than its 16-byte header");
    const PacketReader reader(bytes);
    const std::uint32_t count = reader.U32(8);
    const std::uint32_t finish = reader.U32(12);
    if (count < 3 || count > 65535)
        throw std::runtime_error("path file " + name + ": node count " + std::to_string(count) + " outside 3..65535");
    if ((bytes.size() - kPathHeaderSize) / kPathNodeSize < count)
        throw std::runtime_error("path file " + name + ": " + std::to_string(count) + " nodes need " +
                                 std::to_string(kPathHeaderSize + kPathNodeSize * count) + " bytes, file has " +
                                 std::to_string(bytes.size()));
    if (finish >= count)
        throw std::runtime_error("path file " + name + ": finish node " + std::to_string(finish) +
                                 " is not below the node count " + std::to_string(count));
    PathData data;
    data.finishNode = finish;
    data.nodes.reserve(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t at = kPathHeaderSize + kPathNodeSize * i;
        PathNode node;
        node.x = static_cast<std::int32_t>(reader.U32(at)) / 65536.0;
        node.y = static_cast<std::int32_t>(reader.U32(at + 4)) / 65536.0;
        node.z = static_cast<std::int32_t>(reader.U32(at + 8)) / 65536.0;
        node.dirX = FloatAt(reader, at + 12);
        node.dirY = FloatAt(reader, at + 16);
        node.dirZ = FloatAt(reader, at + 20);
        node.outerLeft = FloatAt(reader, at + 24);
        node.outerRight = FloatAt(reader, at + 28);
        node.roadLeft = FloatAt(reader, at + 32);
        node.roadRight = FloatAt(reader, at + 36);
        for (const float f :
             {node.dirX, node.dirY, node.dirZ, node.outerLeft, node.outerRight, node.roadLeft, node.roadRight})
            if (!std::isfinite(f))
                throw std::runtime_error("path file " + name + ": node " + std::to_string(i) +
                                         " holds a value that is not a finite number");
        data.nodes.push_back(node);
    }
    return data;
}

bool IsCatalogueTrackCode(const std::string& code) {
    if (code.size() != 3 && !(code.size() == 4 && code[3] == 'R')) return false;
    if (code[2] < '1' || code[2] > '3') return false;
    for (const char* key : kTrackKeys)
        if (code.compare(0, 2, key) == 0) return true;
    return false;
}

std::filesystem::path PathFileFor(const std::filesystem::path& dir, const std::string& code) {
    if (!code.empty() && code.back() == 'R') return dir / (code.substr(0, code.size() - 1) + "r.pth");
    return dir / (code + ".pth");
}

std::vector<std::string> CatalogueTrackCodes() {
    std::vector<std::string> codes;
    for (const char* key : kTrackKeys)
        for (char layout = '1'; layout <= '3'; ++layout) {
            codes.push_back(std::string(key) + layout);
            codes.push_back(std::string(key) + layout + "R");
        }
    return codes;
}

}  // namespace gs::peers
