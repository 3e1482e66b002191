// The path header reader: which bytes make the two numbers, and what a short
// file yields.
#include <gtest/gtest.h>

#include <cstdio>

#include "TestFiles.h"
#include "track/PathFile.h"

namespace gs::test {
namespace {

PathHeader ReadFromFile(const FileBytes& bytes) {
    std::FILE* f = std::tmpfile();
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    const PathHeader h = ReadPathHeader(f);
    std::fclose(f);
    return h;
}

TEST(PathFile, ReadsNodeCountAndFinishNode) {
    const PathHeader h = ReadFromFile(PathBytes(300, 120, 40 * 300));
    EXPECT_EQ(h.NodeCount, 300);
    EXPECT_EQ(h.FinishNode, 120);
}

TEST(PathFile, OnlyTheLow16BitsCount) {
    const PathHeader h = ReadFromFile(PathBytes(65536 + 300, 0xFFFF0000u + 777, 8));
    EXPECT_EQ(h.NodeCount, 300);
    EXPECT_EQ(h.FinishNode, 777);
    const PathHeader top = ReadFromFile(PathBytes(0xFFFFFFFFu, 0x8000FFFFu));
    EXPECT_EQ(top.NodeCount, 65535);
    EXPECT_EQ(top.FinishNode, 65535);
}

TEST(PathFile, BytesAfterTheHeaderAreNotRead) {
    const PathHeader exact = ReadFromFile(PathBytes(300, 120));
    const PathHeader longer = ReadFromFile(PathBytes(300, 120, 4000));
    EXPECT_EQ(exact.NodeCount, longer.NodeCount);
    EXPECT_EQ(exact.FinishNode, longer.FinishNode);
}

TEST(PathFile, MissingBytesOfAShortFileCountAsZero) {
    FileBytes b = PathBytes(0x0201, 0x0403);
    b.resize(9);  // node count low byte only
    PathHeader h = ReadFromFile(b);
    EXPECT_EQ(h.NodeCount, 0x01);
    EXPECT_EQ(h.FinishNode, 0);
    b = PathBytes(0x0201, 0x0403);
    b.resize(13);
    h = ReadFromFile(b);
    EXPECT_EQ(h.NodeCount, 0x0201);
    EXPECT_EQ(h.FinishNode, 0x03);
    h = ReadFromFile({});
    EXPECT_EQ(h.NodeCount, 0);
    EXPECT_EQ(h.FinishNode, 0);
    // Decoding never looks past the size it is given, even inside a larger buffer.
    const FileBytes full = PathBytes(0x0201, 0x0403);
    h = DecodePathHeader(full.data(), 12);
    EXPECT_EQ(h.NodeCount, 0x0201);
    EXPECT_EQ(h.FinishNode, 0);
}

}  // namespace
}  // namespace gs::test
