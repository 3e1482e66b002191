// The mesh reader: conversion of coordinates and colours, object layout,
// refused headers, and every kind of broken file.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

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

TEST(MeshFile, KeepsObjectsPointsAndTrianglesInFileOrder) {
    TrackMesh mesh;
    ASSERT_EQ(Decode(MeshBytes(SampleObjects()), mesh), MeshStatus::Ok);
    const MeshObject& a = mesh.Objects[0];
    ASSERT_EQ(a.TriangleCount, 2);
    EXPECT_EQ(a.Triangles[0].a, 0);
    EXPECT_EQ(a.Triangles[0].b, 1);
    EXPECT_EQ(a.Triangles[0].c, 2);
    EXPECT_EQ(a.Triangles[0].spare, 0xBEEF);  // kept exactly as read
    EXPECT_EQ(a.Triangles[1].a, 2);
    EXPECT_EQ(a.Triangles[1].c, 0);
    // Each object sees only its own points and triangles.
    const MeshObject& c = mesh.Objects[2];
    ASSERT_EQ(c.PointCount, 2);
    EXPECT_FLOAT_EQ(c.Points[0].b, 1.0f);
    EXPECT_FLOAT_EQ(c.Points[1].g, 1.0f);
    ASSERT_EQ(c.TriangleCount, 1);
    EXPECT_EQ(c.Triangles[0].a, 1);
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
        EXPECT_EQ(Decode(MeshBytes(objects), m), MeshStatus::Broken) << points << " points, " << triangles << " triangles";
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

TEST(MeshFile, ReadsAFileInOneBlockTheSameAsBytesInMemory) {
    const FileBytes bytes = MeshBytes(SampleObjects());
    std::FILE* f = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::rewind(f);
    TrackMesh fromFile, fromBytes;
    EXPECT_EQ(ReadMesh(f, fromFile), MeshStatus::Ok);
    std::fclose(f);
    ASSERT_EQ(Decode(bytes, fromBytes), MeshStatus::Ok);
    ASSERT_EQ(fromFile.ObjectCount(), fromBytes.ObjectCount());
    for (int i = 0; i < fromFile.ObjectCount(); ++i) {
        const MeshObject& x = fromFile.Objects[std::size_t(i)];
        const MeshObject& y = fromBytes.Objects[std::size_t(i)];
        ASSERT_EQ(x.PointCount, y.PointCount);
        ASSERT_EQ(x.TriangleCount, y.TriangleCount);
        EXPECT_EQ(std::memcmp(x.Points, y.Points, sizeof(MeshPoint) * std::size_t(x.PointCount)), 0);
        EXPECT_EQ(std::memcmp(x.Triangles, y.Triangles, sizeof(MeshTriangle) * std::size_t(x.TriangleCount)), 0);
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
