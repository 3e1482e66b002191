// Helpers for the track tests: a scratch folder to run in, and builders of
// mesh and path file bytes written field by field, independently of the
// readers and of the generator.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace gs::test {

using FileBytes = std::vector<std::uint8_t>;

// Creates a fresh temporary folder with a "files" folder in it and makes it
// the current directory; restores the old one and removes the folder when
// it goes.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& Path() const { return dir_; }

private:
    std::filesystem::path old_, dir_;
};

void WriteFile(const std::string& name, const FileBytes& bytes);
FileBytes ReadFile(const std::string& name);

void PutU16(FileBytes& b, std::uint16_t v);
void PutU32(FileBytes& b, std::uint32_t v);

// A 16-byte path header: the two 32-bit fields as given, then `extra`
// bytes of node data.
FileBytes PathBytes(std::uint32_t nodeCount, std::uint32_t finish, std::size_t extra = 0);

struct TestPoint {
    std::int32_t x, y, z;  // 1/65536 metre
    std::uint32_t colour;  // 0xAARRGGBB
};
struct TestObject {
    std::int32_t centre[3] = {0, 0, 0};
    std::int32_t radius = 0;
    std::vector<TestPoint> points;
    std::vector<std::uint16_t> triangles;  // four per triangle: a, b, c, spare
    // When set, the object header carries these counts instead of the real ones.
    bool overrideCounts = false;
    std::int32_t pointCountOverride = 0, triangleCountOverride = 0;
};

// A mesh file: the accepted header with `objectCount` (the number of
// objects unless overridden), then the objects.
FileBytes MeshBytes(const std::vector<TestObject>& objects, std::int32_t objectCount = -1,
                    bool overrideObjectCount = false);

// A small two-object mesh whose values the tests know.
std::vector<TestObject> SampleObjects();

}  // namespace gs::test
