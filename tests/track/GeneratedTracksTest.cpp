// The generated tracks of the run folder: every catalogue track and layout
// loads, the meshes keep the drawing's invariants, and the path files hold
// the node records a race server drives along.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iostream>

#include "TestFiles.h"
#include "support/FakePlatform.h"
#include "track/TrackData.h"

namespace gs::test {
namespace {

// Runs a test in the run folder and goes back afterwards.
class RunFolder {
public:
    RunFolder() : old_(std::filesystem::current_path()) { std::filesystem::current_path(GRIDSCOPE_RUN_DIR); }
    ~RunFolder() { std::filesystem::current_path(old_); }

private:
    std::filesystem::path old_;
};

struct Node {
    double x, y, z;  // metres
    float dir[3];
    float outerLeft, outerRight, roadLeft, roadRight;
};

std::int32_t I32(const FileBytes& b, std::size_t at) {
    return std::int32_t(std::uint32_t(b[at]) | std::uint32_t(b[at + 1]) << 8 | std::uint32_t(b[at + 2]) << 16 |
                        std::uint32_t(b[at + 3]) << 24);
}
float F32(const FileBytes& b, std::size_t at) {
    const std::int32_t bits = I32(b, at);
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

std::vector<Node> Nodes(const FileBytes& file) {
    std::vector<Node> nodes;
    for (std::size_t at = 16; at + 40 <= file.size(); at += 40) {
        Node n;
        n.x = I32(file, at) / 65536.0, n.y = I32(file, at + 4) / 65536.0, n.z = I32(file, at + 8) / 65536.0;
        for (int k = 0; k < 3; ++k) n.dir[k] = F32(file, at + 12 + 4 * std::size_t(k));
        n.outerLeft = F32(file, at + 24), n.outerRight = F32(file, at + 28);
        n.roadLeft = F32(file, at + 32), n.roadRight = F32(file, at + 36);
        nodes.push_back(n);
    }
    return nodes;
}

std::vector<std::string> LayoutNames() {
    std::vector<std::string> names;
    for (const TrackCatalogueEntry& e : TrackCatalogue)
        for (char layout = '1'; layout <= '3'; ++layout) {
            names.push_back(std::string(e.Key) + layout);
            names.push_back(std::string(e.Key) + layout + "R");
        }
    return names;
}

TEST(GeneratedTracks, EveryLayoutLoadsWithAPlausiblePath) {
    RunFolder run;
    RecordingShell shell;
    TrackData track;
    for (const std::string& name : LayoutNames()) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(LoadTrack(track, name.c_str(), shell));
        const FileBytes file = ReadFile(PathFileName(name.c_str()));
        ASSERT_EQ(std::memcmp(file.data(), "LFSPTH", 6), 0);
        ASSERT_EQ(file.size(), 16 + 40 * std::size_t(track.PathNodeCount));
        EXPECT_GE(track.PathNodeCount, 300);
        EXPECT_LE(track.PathNodeCount, 1000);
        ASSERT_LT(track.FinishNode, track.PathNodeCount);

        const std::vector<Node> nodes = Nodes(file);
        for (std::size_t i = 0; i < nodes.size(); ++i) {
            const Node& n = nodes[i];
            const Node& next = nodes[(i + 1) % nodes.size()];
            // A closed chain, a node every few metres, directions along it.
            const double dx = next.x - n.x, dy = next.y - n.y, dz = next.z - n.z;
            const double gap = std::sqrt(dx * dx + dy * dy + dz * dz);
            ASSERT_GT(gap, 2.0) << "node " << i;
            ASSERT_LT(gap, 8.0) << "node " << i;
            const double len = std::sqrt(n.dir[0] * n.dir[0] + n.dir[1] * n.dir[1] + n.dir[2] * n.dir[2]);
            ASSERT_NEAR(len, 1.0, 1e-4);
            ASSERT_GT((dx * n.dir[0] + dy * n.dir[1] + dz * n.dir[2]) / gap, 0.9) << "node " << i;
            ASSERT_LT(n.outerLeft, n.roadLeft);
            ASSERT_LT(n.roadLeft, -3.0f);
            ASSERT_GT(n.roadRight, 3.0f);
            ASSERT_GT(n.outerRight, n.roadRight);
        }
    }
    EXPECT_TRUE(shell.fatalErrors.empty());
}

TEST(GeneratedTracks, ReversedLayoutsShareTheFinishLine) {
    RunFolder run;
    for (const std::string& name : LayoutNames()) {
        if (name.back() == 'R') continue;
        SCOPED_TRACE(name);
        const FileBytes fwd = ReadFile(PathFileName(name.c_str()));
        const FileBytes rev = ReadFile(PathFileName((name + "R").c_str()));
        ASSERT_EQ(fwd.size(), rev.size());
        const std::vector<Node> a = Nodes(fwd), b = Nodes(rev);
        const Node& fa = a[std::size_t(I32(fwd, 12))];
        const Node& fb = b[std::size_t(I32(rev, 12))];
        EXPECT_NEAR(fa.x, fb.x, 1e-3);
        EXPECT_NEAR(fa.y, fb.y, 1e-3);
        EXPECT_NEAR(fa.dir[0], -fb.dir[0], 1e-6);
        EXPECT_NEAR(fa.outerLeft, -fb.outerRight, 1e-6);
    }
}

TEST(GeneratedTracks, FinishNodeLiesOnAChequeredLine) {
    RunFolder run;
    RecordingShell shell;
    TrackData track;
    for (const std::string& name : LayoutNames()) {
        SCOPED_TRACE(name);
        ASSERT_TRUE(LoadTrack(track, name.c_str(), shell));
        const Node finish = Nodes(ReadFile(PathFileName(name.c_str())))[std::size_t(track.FinishNode)];
        // Black and white squares of the line within a metre of the node.
        const double x = finish.x / 5, y = finish.y / 5, reach = 1.0 / 5;
        bool black = false, white = false;
        for (const MeshObject& o : track.Mesh.Objects)
            for (int p = 0; p < o.PointCount; ++p) {
                const MeshPoint& q = o.Points[p];
                if (std::hypot(q.x - x, q.y - y) > reach) continue;
                black = black || (q.r < 0.15f && q.g < 0.15f && q.b < 0.15f);
                white = white || (q.r > 0.9f && q.g > 0.9f && q.b > 0.9f);
            }
        EXPECT_TRUE(black && white);
    }
}

TEST(GeneratedTracks, MeshesKeepTheDrawingInvariantsAtRealisticSize) {
    RunFolder run;
    RecordingShell shell;
    TrackData track;
    std::size_t largest = 0;
    for (const TrackCatalogueEntry& e : TrackCatalogue) {
        SCOPED_TRACE(e.MeshFile);
        ASSERT_TRUE(LoadTrack(track, (std::string(e.Key) + "1").c_str(), shell));
        std::size_t triangles = 0;
        EXPECT_GE(track.Mesh.ObjectCount(), 500);
        EXPECT_LE(track.Mesh.ObjectCount(), 2000);
        for (const MeshObject& o : track.Mesh.Objects) {
            triangles += std::size_t(o.TriangleCount);
            for (int t = 0; t < o.TriangleCount; ++t) {
                const MeshTriangle& tri = o.Triangles[t];
                ASSERT_LT(tri.a, o.PointCount);
                ASSERT_LT(tri.b, o.PointCount);
                ASSERT_LT(tri.c, o.PointCount);
            }
            // The visibility pass trusts centre and radius: every point
            // lies inside the sphere (within float rounding).
            for (int p = 0; p < o.PointCount; ++p) {
                const double dx = double(o.Points[p].x) - o.CentreX, dy = double(o.Points[p].y) - o.CentreY,
                             dz = double(o.Points[p].z) - o.CentreZ;
                ASSERT_LE(std::sqrt(dx * dx + dy * dy + dz * dz), double(o.Radius) + 1e-4);
            }
        }
        EXPECT_GE(triangles, 20000u);
        largest = std::max(largest, triangles);
    }
    EXPECT_GT(largest, 200000u);
}

}  // namespace
}  // namespace gs::test
