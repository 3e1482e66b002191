// The track catalogue, the file name rule and the loader that replaces the
// current track's path values and mesh.
#include <cstdio>
#include <cstring>
#include <memory>

#include "common/Platform.h"
#include "track/MeshFile.h"
#include "track/PathFile.h"
#include "track/TrackData.h"

namespace gs {

namespace {

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::string Bounded(const char* shortName) { return std::string(shortName, strnlen(shortName, MaxShortNameLength)); }

}  // namespace

std::string PathFileName(const char* shortName) {
    std::string name = Bounded(shortName);
    if (!name.empty() && name.back() == 'R') {
        name.pop_back();
        return "files/" + name + "r.pth";
    }
    return "files/" + name + ".pth";
}

const char* MeshFileName(const char* shortName) {
    const std::string name = Bounded(shortName);
    if (name.size() < 2) return nullptr;
    for (const TrackCatalogueEntry& entry : TrackCatalogue)
        if (name.compare(0, 2, entry.Key) == 0) return entry.MeshFile;
    return nullptr;
}

std::string BrokenMeshError(const char* meshFile) {
    return std::string("Track file ") + meshFile + " is broken - Closing";
}

bool LoadTrack(TrackData& track, const char* shortName, Shell& shell) {
    const std::string pathName = PathFileName(shortName);
    {
        const File path(std::fopen(pathName.c_str(), "rb"));
        if (!path) {
            shell.FatalError(PathFileError);
            return false;
        }
        const PathHeader header = ReadPathHeader(path.get());
        track.PathNodeCount = header.NodeCount;
        track.FinishNode = header.FinishNode;
    }

    const char* meshName = MeshFileName(shortName);
    // The old mesh goes before the new file is opened, whatever follows.
    track.Mesh.Release();
    const File mesh(meshName ? std::fopen(meshName, "rb") : nullptr);
    if (!mesh) {
        shell.FatalError(MeshFileError);
        return false;
    }
    if (ReadMesh(mesh.get(), track.Mesh) != MeshStatus::Ok) {
        shell.FatalError(BrokenMeshError(meshName));
        return false;
    }
    return true;
}

namespace {

// Keeps the failure's text; a read-ahead has no window to show it in.
class ErrorKeeper final : public Shell {
public:
    explicit ErrorKeeper(std::string& error) : error_(error) {}
    void SetCaption(const std::string&) override {}
    void RepaintNow() override {}
    void LoadTrack(const char*) override {}
    void ServerListChanged() override {}
    void FatalError(const std::string& text) override { error_ = text; }

private:
    std::string& error_;
};

}  // namespace

TrackRead ReadTrack(const char* shortName) {
    TrackRead read;
    ErrorKeeper keeper(read.error);
    read.ok = LoadTrack(read.track, shortName, keeper);
    return read;
}

}  // namespace gs
