#include "support/TestFiles.h"

#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

namespace gs::test {

namespace {

void Put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint16_t v) {
    b[at] = v & 0xFF;
    b[at + 1] = v >> 8;
}
void Put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    Put16(b, at, v & 0xFFFF);
    Put16(b, at + 2, v >> 16);
}
void Append(std::vector<std::uint8_t>& b, const void* data, std::size_t n) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    b.insert(b.end(), p, p + n);
}
void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

void WriteBmp24(const std::string& path, int width, int height, const std::function<Pixel(int, int)>& at) {
    const int stride = (width * 3 + 3) & ~3;
    std::vector<std::uint8_t> b(54 + static_cast<std::size_t>(stride) * height, 0);
    b[0] = 'B';
    b[1] = 'M';
    Put32(b, 2, static_cast<std::uint32_t>(b.size()));
    Put32(b, 10, 54);
    Put32(b, 14, 40);
    Put32(b, 18, width);
    Put32(b, 22, height);
    Put16(b, 26, 1);
    Put16(b, 28, 24);
    for (int row = 0; row < height; ++row) {  // bottom row first
        const int y = height - 1 - row;
        for (int x = 0; x < width; ++x) {
            const Pixel p = at(x, y);
            const std::size_t o = 54 + static_cast<std::size_t>(row) * stride + x * 3;
            b[o] = p.b;
            b[o + 1] = p.g;
            b[o + 2] = p.r;
        }
    }
    WriteAll(path, b);
}

void WriteMeshFile(const std::string& path, const std::vector<TestMeshObject>& objects) {
    std::vector<std::uint8_t> b(64, 0);
    std::memcpy(b.data(), "LFSSMX", 6);
    b[8] = 0;
    b[9] = 3;
    b[11] = 1;
    Put32(b, 60, static_cast<std::uint32_t>(objects.size()));
    for (const TestMeshObject& o : objects) {
        float lo[3] = {1e30f, 1e30f, 1e30f}, hi[3] = {-1e30f, -1e30f, -1e30f};
        for (const auto& p : o.points) {
            const float c[3] = {p.x, p.y, p.z};
            for (int k = 0; k < 3; ++k) {
                lo[k] = std::min(lo[k], c[k]);
                hi[k] = std::max(hi[k], c[k]);
            }
        }
        float centre[3], radius = 0;
        for (int k = 0; k < 3; ++k) centre[k] = (lo[k] + hi[k]) / 2;
        for (const auto& p : o.points)
            radius = std::max(radius, std::hypot(p.x - centre[0], p.y - centre[1], p.z - centre[2]));
        Append(b, centre, 12);
        Append(b, &radius, 4);
        const std::int32_t counts[2] = {static_cast<std::int32_t>(o.points.size()),
                                        static_cast<std::int32_t>(o.triangles.size() / 3)};
        Append(b, counts, 8);
        for (const auto& p : o.points) {
            const float xyz[3] = {p.x, p.y, p.z};
            Append(b, xyz, 12);
            const std::uint8_t colour[4] = {p.colour.b, p.colour.g, p.colour.r, 0xFF};
            Append(b, colour, 4);
        }
        for (std::size_t t = 0; t + 2 < o.triangles.size(); t += 3) {
            const std::uint16_t record[4] = {o.triangles[t], o.triangles[t + 1], o.triangles[t + 2], 0};
            Append(b, record, 8);
        }
    }
    WriteAll(path, b);
}

void WritePathFile(const std::string& path, std::uint32_t nodes, std::uint32_t finish) {
    std::vector<std::uint8_t> b(16, 0);
    std::memcpy(b.data(), "LFSPTH", 6);
    Put32(b, 8, nodes);
    Put32(b, 12, finish);
    WriteAll(path, b);
}

ScratchFolder::ScratchFolder(const std::string& name) {
    path_ = ::testing::TempDir() + "gridscope-" + name + "-" + std::to_string(::getpid());
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_ + "/files");
    previous_ = std::filesystem::current_path().string();
    std::filesystem::current_path(path_);
}

ScratchFolder::~ScratchFolder() {
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(path_);
}

}  // namespace gs::test
