// The file readers' fuzz harnesses; see FileHarness.h.
#include "FileHarness.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "common/Settings.h"
#include "support/FakePlatform.h"
#include "track/MeshFile.h"
#include "track/TrackData.h"
#include "view/FrameLoop.h"

namespace gs::fuzz {

const std::string& ScratchDir() {
    static const std::string dir = [] {
        // Shared memory when the system has it: every input is written and
        // read back as files, and a memory file system keeps the disk out
        // of each execution.
        std::error_code error;
        const std::filesystem::path shm = "/dev/shm";
        const auto base = std::filesystem::is_directory(shm, error) && ::access("/dev/shm", W_OK) == 0
                              ? shm
                              : std::filesystem::temp_directory_path();
        const auto path = base / ("gridscope-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        return path.string();
    }();
    // Registered after `dir` is made, so it runs while `dir` still exists.
    static const bool removedAtExit = std::atexit([] {
                                          std::error_code ignored;
                                          std::filesystem::remove_all(dir, ignored);
                                      }) == 0;
    (void)removedAtExit;
    return dir;
}

void WriteFileBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

namespace {

std::string CompareSettings(const Settings& a, const Settings& b) {
    if (a.ServerIP != b.ServerIP) return "ServerIP \"" + a.ServerIP + "\" came back as \"" + b.ServerIP + "\"";
    if (a.AdminPassword != b.AdminPassword)
        return "AdminPassword \"" + a.AdminPassword + "\" came back as \"" + b.AdminPassword + "\"";
    const int numbers[][2] = {{a.InSimPort, b.InSimPort}, {a.ShowNames, b.ShowNames},
                              {a.ShowSpeed, b.ShowSpeed}, {a.SmoothMovement, b.SmoothMovement},
                              {a.UseKmh, b.UseKmh},       {a.AlwaysOnTop, b.AlwaysOnTop},
                              {a.IconSize, b.IconSize},   {a.DesiredFps, b.DesiredFps}};
    for (const auto& n : numbers)
        if (n[0] != n[1]) return "number " + std::to_string(n[0]) + " came back as " + std::to_string(n[1]);
    return {};
}

std::string CheckText(const char* what, const std::string& text) {
    if (text.size() > Settings::MaxTextLength) return std::string(what) + " longer than 127 characters";
    if (text.find('\n') != std::string::npos) return std::string(what) + " holds a line break";
    return {};
}

}  // namespace

std::string RunSettingsInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = ScratchDir() + "/Gridscope.ini";
    const std::string again = ScratchDir() + "/Gridscope-again.ini";
    WriteFileBytes(path, data, size);

    // Values the file may leave alone.
    Settings read;
    read.ServerIP = "kept.example";
    read.InSimPort = 29999;
    read.DesiredFps = 50;
    ReadSettings(read, path);
    for (const std::string& broken :
         {CheckText("ServerIP", read.ServerIP), CheckText("AdminPassword", read.AdminPassword)})
        if (!broken.empty()) return broken;
    if (read.AlwaysOnTop != 0) return "AlwaysOnTop read as " + std::to_string(read.AlwaysOnTop);

    // What was read is what the program writes at exit: it must read back
    // unchanged into settings that start elsewhere.
    WriteSettings(read, again);
    Settings back;
    back.ServerIP = "other.example";
    back.InSimPort = -1;
    back.ShowNames = back.ShowSpeed = back.SmoothMovement = back.UseKmh = back.IconSize = back.DesiredFps = -7;
    ReadSettings(back, again);
    return CompareSettings(read, back);
}

namespace {

// Changes into a folder for the scope's life.
class InFolder {
public:
    explicit InFolder(const std::string& dir) : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~InFolder() { std::filesystem::current_path(previous_); }

private:
    std::filesystem::path previous_;
};

std::string CheckMesh(const TrackMesh& mesh) {
    double sum = 0;  // reads every point a triangle names
    for (int i = 0; i < mesh.ObjectCount(); ++i) {
        const MeshObject& o = mesh.Objects[i];
        const std::string at = "object " + std::to_string(i) + ": ";
        if (o.PointCount < 0 || o.TriangleCount < 0) return at + "negative count";
        if ((o.PointCount > 0 && !o.Points) || (o.TriangleCount > 0 && !o.Triangles)) return at + "missing array";
        for (int t = 0; t < o.TriangleCount; ++t) {
            const MeshTriangle& tri = o.Triangles[t];
            if (tri.a >= o.PointCount || tri.b >= o.PointCount || tri.c >= o.PointCount)
                return at + "triangle " + std::to_string(t) + " indexes past the points";
            sum += o.Points[tri.a].x + o.Points[tri.b].y + o.Points[tri.c].z;
        }
    }
    volatile double sink = sum;  // keeps the reads
    (void)sink;
    return {};
}

}  // namespace

std::string RunTrackInput(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t flags = size > 0 ? data[0] : 0;
    const std::size_t pathLength = std::min<std::size_t>(size > 1 ? data[1] % 33 : 0, size > 2 ? size - 2 : 0);
    const std::uint8_t* path = data + std::min<std::size_t>(size, 2);
    const std::uint8_t* mesh = path + pathLength;
    const std::size_t meshLength = size - std::min<std::size_t>(size, 2) - pathLength;

    InFolder scratch(ScratchDir());
    std::filesystem::create_directories("files");
    const std::string pathFile = PathFileName("AS1"), meshFile = MeshFileName("AS1");
    std::filesystem::remove(pathFile);
    std::filesystem::remove(meshFile);
    if (flags & 1) WriteFileBytes(pathFile, path, pathLength);
    if (flags & 2) WriteFileBytes(meshFile, mesh, meshLength);

    TrackData track;
    test::RecordingShell shell;
    const bool loaded = LoadTrack(track, "AS1", shell);
    if (loaded != shell.fatalErrors.empty()) return "load result and error messages disagree";
    if (!(flags & 1) && (loaded || shell.fatalErrors.front() != PathFileError))
        return "a missing path file did not fail with its message";
    if (track.PathNodeCount < 0 || track.PathNodeCount > 65535 || track.FinishNode < 0 || track.FinishNode > 65535)
        return "path values outside 0..65535";
    if (!loaded) {
        if (track.Mesh.ObjectCount() != 0) return "a failed load left objects";
        return {};
    }
    if (!(flags & 2)) return "loaded without a mesh file";
    if (std::string broken = CheckMesh(track.Mesh); !broken.empty()) return broken;

    // The same bytes decoded from memory agree with the loader.
    TrackMesh again;
    if (DecodeMesh(mesh, meshLength, again) != MeshStatus::Ok || again.ObjectCount() != track.Mesh.ObjectCount())
        return "decoding from memory disagrees with the loader";

    // The frame loop's visibility pass reads every object's centre and radius.
    Camera camera;
    UpdateVisibility(track.Mesh, camera);
    camera.CameraDistance = 10;
    camera.VisibilityDivider = 0;
    UpdateVisibility(track.Mesh, camera);
    return {};
}

}  // namespace gs::fuzz
