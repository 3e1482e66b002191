// The catalogue, the file name rule and LoadTrack, run in a scratch folder
// with real files, the failure path observed through a recording shell.
#include <gtest/gtest.h>

#include <cstring>

#include "TestFiles.h"
#include "support/FakePlatform.h"
#include "track/TrackData.h"

namespace gs::test {
namespace {

TEST(TrackNames, PathFileNameRule) {
    EXPECT_EQ(PathFileName("AS1"), "files/AS1.pth");
    EXPECT_EQ(PathFileName("BL1"), "files/BL1.pth");
    EXPECT_EQ(PathFileName("BL1R"), "files/BL1r.pth");
    EXPECT_EQ(PathFileName("SO2r"), "files/SO2r.pth");  // lower-case r marks nothing
    EXPECT_EQ(PathFileName("R"), "files/r.pth");
    EXPECT_EQ(PathFileName(""), "files/.pth");
    EXPECT_EQ(PathFileName("KY3RR"), "files/KY3Rr.pth");     // only the last R counts
    EXPECT_EQ(PathFileName("WE1XYZR"), "files/WE1XYZ.pth");  // at most six characters are a name
}

TEST(TrackNames, CatalogueLookup) {
    EXPECT_STREQ(MeshFileName("AS1"), "files/Aston_3DH.smx");
    EXPECT_STREQ(MeshFileName("BL1R"), "files/Blackwood_3DH.smx");
    EXPECT_STREQ(MeshFileName("SO4"), "files/South City_3DH.smx");
    EXPECT_STREQ(MeshFileName("FE"), "files/Fern Bay_3DH.smx");
    EXPECT_STREQ(MeshFileName("KY2"), "files/Kyoto Ring_3DH.smx");
    EXPECT_STREQ(MeshFileName("WE1"), "files/Westhill_3DH.smx");
    EXPECT_EQ(MeshFileName("as1"), nullptr);  // case-sensitive
    EXPECT_EQ(MeshFileName("A"), nullptr);
    EXPECT_EQ(MeshFileName("R"), nullptr);
    EXPECT_EQ(MeshFileName(""), nullptr);
    EXPECT_EQ(MeshFileName("ZZ1"), nullptr);
    EXPECT_EQ(MeshFileName("XA"), nullptr);
}

class LoadTrackTest : public ::testing::Test {
protected:
    ScratchDir dir;
    RecordingShell shell;
    TrackData track;

    static FileBytes OneObjectMesh(std::uint32_t colour) {
        TestObject o;
        o.points = {{0, 0, 0, colour}, {327680, 0, 0, colour}, {0, 327680, 0, colour}};
        o.triangles = {0, 1, 2, 0};
        return MeshBytes({o});
    }
};

TEST_F(LoadTrackTest, ReadsThePathHeaderAndTheCatalogueMesh) {
    WriteFile("files/AS1.pth", PathBytes(65536 + 812, 40, 40 * 812));
    WriteFile("files/Aston_3DH.smx", MeshBytes(SampleObjects()));
    ASSERT_TRUE(LoadTrack(track, "AS1", shell));
    EXPECT_TRUE(shell.fatalErrors.empty());
    EXPECT_EQ(track.PathNodeCount, 812);
    EXPECT_EQ(track.FinishNode, 40);
    EXPECT_EQ(track.Mesh.ObjectCount(), 3);
}

TEST_F(LoadTrackTest, ReversedAndForwardLayoutsShareTheMesh) {
    WriteFile("files/BL1.pth", PathBytes(500, 10));
    WriteFile("files/BL1r.pth", PathBytes(500, 489));
    WriteFile("files/SO2r.pth", PathBytes(77, 7));
    WriteFile("files/Blackwood_3DH.smx", MeshBytes(SampleObjects()));
    WriteFile("files/South City_3DH.smx", OneObjectMesh(0xFF00FF00));

    ASSERT_TRUE(LoadTrack(track, "BL1R", shell));
    EXPECT_EQ(track.FinishNode, 489);
    EXPECT_EQ(track.Mesh.ObjectCount(), 3);
    ASSERT_TRUE(LoadTrack(track, "BL1", shell));
    EXPECT_EQ(track.FinishNode, 10);
    EXPECT_EQ(track.Mesh.ObjectCount(), 3);
    ASSERT_TRUE(LoadTrack(track, "SO2r", shell));  // forward, its own file
    EXPECT_EQ(track.PathNodeCount, 77);
    EXPECT_EQ(track.Mesh.ObjectCount(), 1);
    EXPECT_TRUE(shell.fatalErrors.empty());
}

TEST_F(LoadTrackTest, MissingPathFileFailsAndLeavesTheMeshUntouched) {
    WriteFile("files/AS1.pth", PathBytes(300, 120));
    WriteFile("files/Aston_3DH.smx", MeshBytes(SampleObjects()));
    ASSERT_TRUE(LoadTrack(track, "AS1", shell));
    const MeshPoint* points = track.Mesh.Objects[0].Points;

    EXPECT_FALSE(LoadTrack(track, "AS2", shell));
    ASSERT_EQ(shell.fatalErrors.size(), 1u);
    EXPECT_EQ(shell.fatalErrors[0], "Track not supported yet or file error. Closing.");
    EXPECT_EQ(track.Mesh.ObjectCount(), 3);
    EXPECT_EQ(track.Mesh.Objects[0].Points, points);
    EXPECT_EQ(track.PathNodeCount, 300);
    EXPECT_EQ(track.FinishNode, 120);
}

TEST_F(LoadTrackTest, UnknownTrackFailsAfterReadingItsPathHeader) {
    WriteFile("files/AS1.pth", PathBytes(300, 120));
    WriteFile("files/Aston_3DH.smx", MeshBytes(SampleObjects()));
    ASSERT_TRUE(LoadTrack(track, "AS1", shell));
    WriteFile("files/ZZ1.pth", PathBytes(55, 5));

    EXPECT_FALSE(LoadTrack(track, "ZZ1", shell));
    ASSERT_EQ(shell.fatalErrors.size(), 1u);
    EXPECT_EQ(shell.fatalErrors[0], "Track File not found - Closing");
    EXPECT_EQ(track.PathNodeCount, 55);
    EXPECT_EQ(track.FinishNode, 5);
    EXPECT_EQ(track.Mesh.ObjectCount(), 0);  // released before the mesh file is looked for
}

TEST_F(LoadTrackTest, NameRAloneReadsRPthThenMatchesNoTrack) {
    WriteFile("files/r.pth", PathBytes(9, 3));
    EXPECT_FALSE(LoadTrack(track, "R", shell));
    ASSERT_EQ(shell.fatalErrors.size(), 1u);
    EXPECT_EQ(shell.fatalErrors[0], "Track File not found - Closing");
    EXPECT_EQ(track.PathNodeCount, 9);

    RecordingShell other;
    std::filesystem::remove("files/r.pth");
    EXPECT_FALSE(LoadTrack(track, "R", other));
    ASSERT_EQ(other.fatalErrors.size(), 1u);
    EXPECT_EQ(other.fatalErrors[0], "Track not supported yet or file error. Closing.");
}

TEST_F(LoadTrackTest, MissingMeshFileFailsWithTheMeshEmpty) {
    WriteFile("files/KY1.pth", PathBytes(300, 120));
    WriteFile("files/Aston_3DH.smx", MeshBytes(SampleObjects()));
    WriteFile("files/AS1.pth", PathBytes(300, 120));
    ASSERT_TRUE(LoadTrack(track, "AS1", shell));
    EXPECT_FALSE(LoadTrack(track, "KY1", shell));
    ASSERT_EQ(shell.fatalErrors.size(), 1u);
    EXPECT_EQ(shell.fatalErrors[0], "Track File not found - Closing");
    EXPECT_EQ(track.Mesh.ObjectCount(), 0);
}

TEST_F(LoadTrackTest, BrokenOrRefusedMeshFileIsReportedNotSilent) {
    WriteFile("files/WE1.pth", PathBytes(300, 120));
    FileBytes refused = MeshBytes(SampleObjects());
    refused[9] = 2;
    FileBytes broken = MeshBytes(SampleObjects());
    broken.resize(broken.size() - 3);
    for (const FileBytes& bytes : {refused, broken}) {
        WriteFile("files/Westhill_3DH.smx", MeshBytes(SampleObjects()));
        ASSERT_TRUE(LoadTrack(track, "WE1", shell));
        WriteFile("files/Westhill_3DH.smx", bytes);
        RecordingShell s;
        EXPECT_FALSE(LoadTrack(track, "WE1", s));
        ASSERT_EQ(s.fatalErrors.size(), 1u);
        EXPECT_EQ(s.fatalErrors[0], "Track file files/Westhill_3DH.smx is broken - Closing");
        EXPECT_EQ(track.Mesh.ObjectCount(), 0);
    }
}

TEST_F(LoadTrackTest, LoadingTheSameTrackTwiceReplacesTheMesh) {
    WriteFile("files/FE1.pth", PathBytes(300, 120));
    WriteFile("files/Fern Bay_3DH.smx", OneObjectMesh(0xFFFF0000));
    ASSERT_TRUE(LoadTrack(track, "FE1", shell));
    ASSERT_EQ(track.Mesh.ObjectCount(), 1);
    EXPECT_FLOAT_EQ(track.Mesh.Objects[0].Points[0].r, 1.0f);

    WriteFile("files/Fern Bay_3DH.smx", OneObjectMesh(0xFF0000FF));
    ASSERT_TRUE(LoadTrack(track, "FE1", shell));
    ASSERT_EQ(track.Mesh.ObjectCount(), 1);
    EXPECT_FLOAT_EQ(track.Mesh.Objects[0].Points[0].r, 0.0f);
    EXPECT_FLOAT_EQ(track.Mesh.Objects[0].Points[0].b, 1.0f);
    ASSERT_TRUE(LoadTrack(track, "FE1", shell));
    EXPECT_EQ(track.Mesh.ObjectCount(), 1);
    EXPECT_TRUE(shell.fatalErrors.empty());
}

TEST_F(LoadTrackTest, ATrackReadAheadKeepsItsFailureAndSurvivesAMove) {
    WriteFile("files/FE1.pth", PathBytes(300, 120));
    WriteFile("files/Fern Bay_3DH.smx", OneObjectMesh(0xFF0000FF));
    TrackRead read = ReadTrack("FE1");
    ASSERT_TRUE(read.ok);
    EXPECT_TRUE(read.error.empty());
    // The objects point into the mesh's block; a move keeps them valid.
    track = std::move(read.track);
    ASSERT_EQ(track.Mesh.ObjectCount(), 1);
    EXPECT_EQ(track.PathNodeCount, 300);
    EXPECT_FLOAT_EQ(track.Mesh.Objects[0].Points[0].b, 1.0f);
    EXPECT_EQ(track.Mesh.Objects[0].Triangles[0].b, 1);

    // Each failure is kept, with the text the window would show.
    const TrackRead missing = ReadTrack("SO1");
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.error, PathFileError);
    WriteFile("files/FE1.pth", PathBytes(300, 120));
    WriteFile("files/Fern Bay_3DH.smx", FileBytes{1, 2, 3});
    const TrackRead broken = ReadTrack("FE1");
    EXPECT_FALSE(broken.ok);
    EXPECT_EQ(broken.error, "Track file files/Fern Bay_3DH.smx is broken - Closing");
}

}  // namespace
}  // namespace gs::test
