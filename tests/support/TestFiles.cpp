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

}  // namespace

void WriteAll(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

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
