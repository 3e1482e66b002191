// Helpers for the track tests (see TestFiles.h).
#include "TestFiles.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

namespace gs::test {

ScratchDir::ScratchDir() : old_(std::filesystem::current_path()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "gridscope-track-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    std::filesystem::create_directory(dir_ / "files");
    std::filesystem::current_path(dir_);
}

ScratchDir::~ScratchDir() {
    std::error_code ec;
    std::filesystem::current_path(old_, ec);
    std::filesystem::remove_all(dir_, ec);
}

void WriteFile(const std::string& name, const FileBytes& bytes) {
    std::FILE* f = std::fopen(name.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot write " + name);
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

FileBytes ReadFile(const std::string& name) {
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) throw std::runtime_error("cannot read " + name);
    std::fseek(f, 0, SEEK_END);
    FileBytes bytes(static_cast<std::size_t>(std::ftell(f)));
    std::rewind(f);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), f));
    std::fclose(f);
    return bytes;
}

void PutU16(FileBytes& b, std::uint16_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
void PutU32(FileBytes& b, std::uint32_t v) {
    PutU16(b, static_cast<std::uint16_t>(v));
    PutU16(b, static_cast<std::uint16_t>(v >> 16));
}

FileBytes PathBytes(std::uint32_t nodeCount, std::uint32_t finish, std::size_t extra) {
    FileBytes b{'L', 'F', 'S', 'P', 'T', 'H', 0, 0};
    PutU32(b, nodeCount);
    PutU32(b, finish);
    for (std::size_t i = 0; i < extra; ++i) b.push_back(static_cast<std::uint8_t>(0xA5 ^ i));
    return b;
}

FileBytes MeshBytes(const std::vector<TestObject>& objects, std::int32_t objectCount, bool overrideObjectCount) {
    FileBytes b(64, 0);
    std::memcpy(b.data(), "LFSSMX", 6);
    b[8] = 0;   // version
    b[9] = 3;   // dimensions
    b[11] = 1;  // coloured points
    b[48] = 30, b[49] = 120, b[50] = 40;
    const auto count = static_cast<std::uint32_t>(overrideObjectCount ? objectCount : std::int32_t(objects.size()));
    b[60] = static_cast<std::uint8_t>(count), b[61] = static_cast<std::uint8_t>(count >> 8);
    b[62] = static_cast<std::uint8_t>(count >> 16), b[63] = static_cast<std::uint8_t>(count >> 24);
    for (const TestObject& o : objects) {
        for (std::int32_t c : o.centre) PutU32(b, static_cast<std::uint32_t>(c));
        PutU32(b, static_cast<std::uint32_t>(o.radius));
        PutU32(b, static_cast<std::uint32_t>(o.overrideCounts ? o.pointCountOverride : std::int32_t(o.points.size())));
        PutU32(b, static_cast<std::uint32_t>(o.overrideCounts ? o.triangleCountOverride
                                                              : std::int32_t(o.triangles.size() / 4)));
        for (const TestPoint& p : o.points) {
            PutU32(b, static_cast<std::uint32_t>(p.x)), PutU32(b, static_cast<std::uint32_t>(p.y));
            PutU32(b, static_cast<std::uint32_t>(p.z));
            PutU32(b, p.colour);
        }
        for (std::uint16_t v : o.triangles) PutU16(b, v);
    }
    return b;
}

std::vector<TestObject> SampleObjects() {
    TestObject a;
    a.centre[0] = 655360, a.centre[1] = -327680, a.centre[2] = 65536;
    a.radius = 983040;
    a.points = {{327680, -65536, 0, 0x00FF8010}, {0, 327680, 163840, 0xFF000000}, {-327680, 0, -32768, 0x80FFFFFF}};
    a.triangles = {0, 1, 2, 0xBEEF, 2, 1, 0, 7};
    TestObject b;  // no triangles
    b.centre[0] = 1, b.radius = 32768;
    b.points = {{3276800, 0, 0, 0xFF102030}};
    TestObject c;
    c.points = {{0, 0, 0, 0xFF0000FF}, {1, 0, 0, 0xFF00FF00}};
    c.triangles = {1, 1, 0, 0};
    return {a, b, c};
}

}  // namespace gs::test
