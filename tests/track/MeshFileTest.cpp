// The mesh reader: conversion of coordinates and colours, object layout,
// refused headers, and every kind of broken file.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "TestFiles.h"
#include "track/MeshFile.h"

namespace gs::test {
namespace {

MeshStatus Decode(const FileBytes& bytes, TrackMesh& mesh) { return DecodeMesh(bytes.data(), bytes.size(), mesh); }

// A mesh with content, to see that a failed read leaves nothing behind.
TrackMesh LoadedMesh() {
    TrackMesh mesh;
    EXPECT_EQ(Decode(MeshBytes(SampleObjects()), mesh), MeshStatus::Ok);
    EXPECT_EQ(mesh.ObjectCount(), 3);
    return mesh;
}

void ExpectEmpty(const TrackMesh& mesh) {
    EXPECT_EQ(mesh.ObjectCount(), 0);
    EXPECT_TRUE(mesh.Objects.empty());
    EXPECT_EQ(mesh.Storage, nullptr);
}

TEST(MeshFile, ConvertsCoordinatesToWorldUnitsAndColourBytesToFractions) {
    TrackMesh mesh;
    ASSERT_EQ(Decode(MeshBytes(SampleObjects()), mesh), MeshStatus::Ok);
    ASSERT_EQ(mesh.ObjectCount(), 3);
    const MeshObject& a = mesh.Objects[0];
    EXPECT_FLOAT_EQ(a.CentreX, 2.0f);
    EXPECT_FLOAT_EQ(a.CentreY, -1.0f);
    EXPECT_FLOAT_EQ(a.CentreZ, 0.2f);
    EXPECT_FLOAT_EQ(a.Radius, 3.0f);
    ASSERT_EQ(a.PointCount, 3);
    const MeshPoint& p = a.Points[0];
    EXPECT_FLOAT_EQ(p.x, 1.0f);   // 327680
    EXPECT_FLOAT_EQ(p.y, -0.2f);  // -65536
    EXPECT_FLOAT_EQ(p.z, 0.0f);
    // Bytes 0x10, 0x80, 0xFF, 0x00 are blue, green, red, alpha.
    EXPECT_FLOAT_EQ(p.r, 1.0f);
    EXPECT_FLOAT_EQ(p.g, 128.0f / 255.0f);
    EXPECT_FLOAT_EQ(p.b, 16.0f / 255.0f);
    EXPECT_FLOAT_EQ(a.Points[1].z, 0.5f);
    EXPECT_FLOAT_EQ(a.Points[2].x, -1.0f);
    EXPECT_FLOAT_EQ(a.Points[2].z, -0.1f);
    EXPECT_FLOAT_EQ(a.Points[2].r, 1.0f);  // alpha 0x80 plays no part
    EXPECT_FLOAT_EQ(a.Points[1].g, 0.0f);
}

// Bytes written out here from the file layout, sharing nothing with the
// builders above or the generator: every coordinate and the radius are
// little-endian signed 32-bit counts of 1/65536 m, 327680 to a world unit.
TEST(MeshFile, ReadsCoordinatesAndRadiusAsSigned32BitIntegers) {
    std::vector<std::uint8_t> file = {'L', 'F', 'S', 'S', 'M', 'X', 0, 0, 0, 3, 0, 1};
    file.resize(60, 0);
    file.insert(file.end(), {1, 0, 0, 0});
    file.insert(file.end(), {
                                0x00, 0x00, 0xF6, 0xFF,  // centre x -655360: -2.0
                                0x00, 0x00, 0x00, 0x00,  // centre y 0
                                0x00, 0x80, 0x00, 0x00,  // centre z 32768: 0.1
                                0x00, 0x00, 0x0F, 0x00,  // radius 983040: 3.0
                                0x02, 0x00, 0x00, 0x00,  // two points
                                0x01, 0x00, 0x00, 0x00,  // one triangle
                                0x00, 0x00, 0x05, 0x00,  // x 327680: 1.0
                                0x00, 0x00, 0xFF, 0xFF,  // y -65536: -0.2
                                0x00, 0x00, 0x00, 0x80,  // z -2^31: -6553.6
                                0x10, 0x80, 0xFF, 0x00,  // blue, green, red, alpha
                                0xFF, 0xFF, 0xFF, 0x7F,  // x 2^31 - 1
                                0x01, 0x00, 0x00, 0x00,  // y 1: the smallest step
                                0x00, 0x00, 0x00, 0x00,  // z 0
                                0x00, 0x00, 0x00, 0x00,  // black
                                0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00,
                            });
    TrackMesh mesh;
    ASSERT_EQ(DecodeMesh(file.data(), file.size(), mesh), MeshStatus::Ok);
    ASSERT_EQ(mesh.ObjectCount(), 1);
    const MeshObject& o = mesh.Objects[0];
    EXPECT_FLOAT_EQ(o.CentreX, -2.0f);
    EXPECT_FLOAT_EQ(o.CentreY, 0.0f);
    EXPECT_FLOAT_EQ(o.CentreZ, 0.1f);
    EXPECT_FLOAT_EQ(o.Radius, 3.0f);
    ASSERT_EQ(o.PointCount, 2);
    EXPECT_FLOAT_EQ(o.Points[0].x, 1.0f);
    EXPECT_FLOAT_EQ(o.Points[0].y, -0.2f);
    EXPECT_FLOAT_EQ(o.Points[0].z, -6553.6f);
    EXPECT_FLOAT_EQ(o.Points[0].r, 1.0f);
    EXPECT_FLOAT_EQ(o.Points[0].b, 16.0f / 255.0f);
    EXPECT_FLOAT_EQ(o.Points[1].x, 6553.6f);
    EXPECT_FLOAT_EQ(o.Points[1].y, 1.0f / 327680.0f);
    ASSERT_EQ(o.TriangleCount, 1);
    EXPECT_EQ(o.Triangles[0].c, 1);
}

TEST(MeshFile, KeepsObjectsPointsAndTrianglesInFileOrder) {
    TrackMesh mesh;
    ASSERT_EQ(Decode(MeshBytes(SampleObjects()), mesh), MeshStatus::Ok);
    const MeshObject& a = mesh.Objects[0];
    ASSERT_EQ(a.TriangleCount, 2);
    EXPECT_EQ(a.Triangles[0].a, 0);
    EXPECT_EQ(a.Triangles[0].b, 1);
    EXPECT_EQ(a.Triangles[0].c, 2);
    EXPECT_EQ(a.Triangles[1].a, 2);
    EXPECT_EQ(a.Triangles[1].c, 0);
    // As drawn: one packed array of 16-bit indices, each triangle turned
    // to (b, c, a) so that its last corner is the file's first.
    const auto* indices = reinterpret_cast<const std::uint16_t*>(a.Triangles);
    EXPECT_EQ(std::vector<std::uint16_t>(indices, indices + 6), (std::vector<std::uint16_t>{1, 2, 0, 1, 0, 2}));
    // Each object sees only its own points and triangles.
    const MeshObject& c = mesh.Objects[2];
    ASSERT_EQ(c.PointCount, 2);
    EXPECT_FLOAT_EQ(c.Points[0].b, 1.0f);
    EXPECT_FLOAT_EQ(c.Points[1].g, 1.0f);
    ASSERT_EQ(c.TriangleCount, 1);
    EXPECT_EQ(c.Triangles[0].a, 1);

    // An odd number of 6-byte triangles before an object: its points still
    // start aligned and read right.
    const std::vector<TestObject> sample = SampleObjects();
    ASSERT_EQ(Decode(MeshBytes({sample[2], sample[0]}), mesh), MeshStatus::Ok);
    const MeshObject& after = mesh.Objects[1];
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(after.Points) % alignof(MeshPoint), 0u);
    EXPECT_FLOAT_EQ(after.Points[0].x, 1.0f);
    EXPECT_FLOAT_EQ(after.Points[2].z, -0.1f);
    EXPECT_EQ(after.Triangles[1].b, 1);
}

TEST(MeshFile, EmptyMeshAndObjectWithoutTriangles) {
    TrackMesh mesh = LoadedMesh();
    ASSERT_EQ(Decode(MeshBytes({}), mesh), MeshStatus::Ok);
    EXPECT_EQ(mesh.ObjectCount(), 0);

    ASSERT_EQ(Decode(MeshBytes(SampleObjects()), mesh), MeshStatus::Ok);
    const MeshObject& b = mesh.Objects[1];
    EXPECT_EQ(b.TriangleCount, 0);
    EXPECT_EQ(b.PointCount, 1);
    EXPECT_FLOAT_EQ(b.Radius, 0.1f);  // still has a centre and radius for the visibility pass
    EXPECT_FLOAT_EQ(b.Points[0].x, 10.0f);

    TestObject none;  // no points, no triangles
    ASSERT_EQ(Decode(MeshBytes({none}), mesh), MeshStatus::Ok);
    EXPECT_EQ(mesh.Objects[0].PointCount, 0);
}

TEST(MeshFile, RefusesAWrongHeader) {
    const FileBytes good = MeshBytes(SampleObjects());
    const std::pair<std::size_t, std::uint8_t> faults[] = {{0, 'X'}, {5, 'x'}, {8, 1}, {9, 2}, {11, 0}};
    for (const auto& [at, value] : faults) {
        FileBytes bad = good;
        bad[at] = value;
        TrackMesh mesh = LoadedMesh();
        EXPECT_EQ(Decode(bad, mesh), MeshStatus::BadHeader) << "byte " << at;
        ExpectEmpty(mesh);
    }
    // Bytes that are not examined may hold anything.
    FileBytes other = good;
    other[6] = other[7] = other[10] = other[12] = other[47] = other[51] = 0xEE;
    TrackMesh mesh;
    EXPECT_EQ(Decode(other, mesh), MeshStatus::Ok);
}

TEST(MeshFile, EveryTruncationIsRefused) {
    const FileBytes good = MeshBytes(SampleObjects());
    for (std::size_t size = 0; size < good.size(); ++size) {
        // A copy of exactly `size` bytes, so a sanitizer sees any read past it.
        const FileBytes cut(good.begin(), good.begin() + static_cast<long>(size));
        TrackMesh mesh = LoadedMesh();
        EXPECT_NE(Decode(cut, mesh), MeshStatus::Ok) << size << " bytes";
        ExpectEmpty(mesh);
    }
}

TEST(MeshFile, TrailingBytesAfterTheLastObjectAreIgnored) {
    FileBytes bytes = MeshBytes(SampleObjects());
    bytes.insert(bytes.end(), 100, 0x77);
    TrackMesh mesh;
    EXPECT_EQ(Decode(bytes, mesh), MeshStatus::Ok);
    EXPECT_EQ(mesh.ObjectCount(), 3);
}

TEST(MeshFile, RefusesCountsTheFileCannotHold) {
    TrackMesh mesh = LoadedMesh();
    EXPECT_EQ(Decode(MeshBytes(SampleObjects(), -1, true), mesh), MeshStatus::Broken);
    ExpectEmpty(mesh);
    EXPECT_EQ(Decode(MeshBytes(SampleObjects(), 0x7FFFFFFF, true), mesh), MeshStatus::Broken);
    EXPECT_EQ(Decode(MeshBytes(SampleObjects(), 4, true), mesh), MeshStatus::Broken);
    // Fewer objects than are in the file is fine: the rest is trailing bytes.
    EXPECT_EQ(Decode(MeshBytes(SampleObjects(), 2, true), mesh), MeshStatus::Ok);
    EXPECT_EQ(mesh.ObjectCount(), 2);

    const std::pair<std::int32_t, std::int32_t> counts[] = {
        {-1, 2}, {3, -1}, {INT32_MIN, 0}, {0x7FFFFFFF, 2}, {3, 0x7FFFFFFF}, {4, 2}, {3, 3}, {0x10000000, 0x10000000}};
    for (const auto& [points, triangles] : counts) {
        std::vector<TestObject> objects = SampleObjects();
        objects[0].overrideCounts = true;
        objects[0].pointCountOverride = points;
        objects[0].triangleCountOverride = triangles;
        TrackMesh m = LoadedMesh();
        EXPECT_EQ(Decode(MeshBytes(objects), m), MeshStatus::Broken)
            << points << " points, " << triangles << " triangles";
        ExpectEmpty(m);
    }
}

TEST(MeshFile, RefusesATriangleIndexOutsideItsObject) {
    for (int corner = 0; corner < 3; ++corner) {
        std::vector<TestObject> objects = SampleObjects();
        objects[2].triangles[std::size_t(corner)] = 2;  // the object has two points
        TrackMesh mesh = LoadedMesh();
        EXPECT_EQ(Decode(MeshBytes(objects), mesh), MeshStatus::Broken) << "corner " << corner;
        ExpectEmpty(mesh);
    }
    std::vector<TestObject> objects = SampleObjects();
    objects[0].triangles[4] = 0xFFFF;
    TrackMesh mesh;
    EXPECT_EQ(Decode(MeshBytes(objects), mesh), MeshStatus::Broken);
    // The last point is a valid index.
    objects = SampleObjects();
    objects[0].triangles[4] = 2;
    EXPECT_EQ(Decode(MeshBytes(objects), mesh), MeshStatus::Ok);
}

// Reads `bytes` through a real file, as LoadTrack does.
MeshStatus ReadThroughFile(const FileBytes& bytes, TrackMesh& mesh) {
    std::FILE* f = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    const MeshStatus status = ReadMesh(f, mesh);
    std::fclose(f);
    return status;
}

// Objects enough for a file of several read chunks (about 2 MB).
std::vector<TestObject> LargeObjects() {
    std::vector<TestObject> objects(40);
    for (std::size_t i = 0; i < objects.size(); ++i) {
        TestObject& o = objects[i];
        o.centre[0] = static_cast<std::int32_t>(i) * 65536;
        for (int p = 0; p < 2500; ++p)
            o.points.push_back({p * 1000, static_cast<std::int32_t>(i) * 3000, 7 * 65536,
                                0xFF000000u | static_cast<std::uint32_t>(p * 2654435761u & 0xFFFFFFu)});
        for (int t = 0; t + 2 < 2500; t += 2)
            o.triangles.insert(o.triangles.end(), {std::uint16_t(t), std::uint16_t(t + 1), std::uint16_t(t + 2), 0});
    }
    return objects;
}

// A file whose reads come slowly, 64 KB a millisecond, so that the
// conversion keeps catching up with the reading.
struct SlowFile {
    const FileBytes* bytes;
    std::size_t at = 0;
};
MeshStatus ReadThroughSlowFile(const FileBytes& bytes, TrackMesh& mesh) {
    SlowFile state{&bytes};
    cookie_io_functions_t io{};
    io.read = [](void* cookie, char* buffer, std::size_t size) -> ssize_t {
        auto* f = static_cast<SlowFile*>(cookie);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const std::size_t n = std::min({size, std::size_t(65536), f->bytes->size() - f->at});
        std::memcpy(buffer, f->bytes->data() + f->at, n);
        f->at += n;
        return static_cast<ssize_t>(n);
    };
    io.seek = [](void* cookie, off64_t* offset, int whence) -> int {
        auto* f = static_cast<SlowFile*>(cookie);
        const off64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? off64_t(f->at) : off64_t(f->bytes->size());
        if (base + *offset < 0 || base + *offset > off64_t(f->bytes->size())) return -1;
        f->at = static_cast<std::size_t>(base + *offset);
        *offset = off64_t(f->at);
        return 0;
    };
    std::FILE* file = fopencookie(&state, "rb", io);
    setvbuf(file, nullptr, _IOFBF, 65536);
    const MeshStatus status = ReadMesh(file, mesh);
    std::fclose(file);
    return status;
}

// The two meshes hold the same objects, points and triangles.
void ExpectSameMesh(const TrackMesh& a, const TrackMesh& b) {
    ASSERT_EQ(a.ObjectCount(), b.ObjectCount());
    for (int i = 0; i < a.ObjectCount(); ++i) {
        const MeshObject& x = a.Objects[std::size_t(i)];
        const MeshObject& y = b.Objects[std::size_t(i)];
        ASSERT_EQ(x.PointCount, y.PointCount) << i;
        ASSERT_EQ(x.TriangleCount, y.TriangleCount) << i;
        EXPECT_EQ(x.CentreX, y.CentreX) << i;
        EXPECT_EQ(std::memcmp(x.Points, y.Points, sizeof(MeshPoint) * std::size_t(x.PointCount)), 0) << i;
        EXPECT_EQ(std::memcmp(x.Triangles, y.Triangles, sizeof(MeshTriangle) * std::size_t(x.TriangleCount)), 0) << i;
    }
}

TEST(MeshFile, ReadsAFileChunkByChunkTheSameAsBytesInMemory) {
    for (const FileBytes& bytes : {MeshBytes(SampleObjects()), MeshBytes(LargeObjects())}) {
        TrackMesh fromFile, fromSlowFile, fromBytes;
        EXPECT_EQ(ReadThroughFile(bytes, fromFile), MeshStatus::Ok);
        EXPECT_EQ(ReadThroughSlowFile(bytes, fromSlowFile), MeshStatus::Ok);
        ASSERT_EQ(Decode(bytes, fromBytes), MeshStatus::Ok);
        ExpectSameMesh(fromFile, fromBytes);
        ExpectSameMesh(fromSlowFile, fromBytes);
    }
}

TEST(MeshFile, AFileBrokenAnywhereIsRefusedWhileItIsStillBeingRead) {
    const FileBytes whole = MeshBytes(LargeObjects());
    TrackMesh mesh;
    // A bad index in the first object (the reading stops early) or the last.
    for (const std::size_t object : {std::size_t(0), std::size_t(39)}) {
        auto objects = LargeObjects();
        objects[object].triangles[5] = 2500;
        mesh = LoadedMesh();
        EXPECT_EQ(ReadThroughFile(MeshBytes(objects), mesh), MeshStatus::Broken) << object;
        ExpectEmpty(mesh);
        mesh = LoadedMesh();
        EXPECT_EQ(ReadThroughSlowFile(MeshBytes(objects), mesh), MeshStatus::Broken) << object;
        ExpectEmpty(mesh);
    }
    // Cut inside the header, inside a late chunk, and at an object's end
    // with more objects still claimed.
    const std::size_t objectBytes = 24 + 2500 * 16 + 1249 * 8;
    for (const std::size_t cut : {std::size_t(40), whole.size() - 100, 64 + 30 * objectBytes}) {
        mesh = LoadedMesh();
        const FileBytes cutFile(whole.begin(), whole.begin() + cut);
        EXPECT_NE(ReadThroughFile(cutFile, mesh), MeshStatus::Ok) << cut;
        ExpectEmpty(mesh);
        mesh = LoadedMesh();
        EXPECT_NE(ReadThroughSlowFile(cutFile, mesh), MeshStatus::Ok) << cut;
        ExpectEmpty(mesh);
    }
}

TEST(MeshFile, ReleaseEmptiesAndIsSafeTwice) {
    TrackMesh mesh = LoadedMesh();
    mesh.Release();
    ExpectEmpty(mesh);
    mesh.Release();
    ExpectEmpty(mesh);
}

}  // namespace
}  // namespace gs::test
