// The current track as the rest of the program sees it: the mesh that the
// scene draws every frame, the two path values the standings rank by, the
// catalogue of supported tracks and the loader that replaces all of them.
//
// Sections: mesh types - track data - catalogue and file names - loading.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace gs {

class Shell;

// ---- mesh types -----------------------------------------------------------

struct MeshPoint {
    float x, y, z;  // world units
    float r, g, b;  // colour, 0..1
};

// A triangle of the mesh file (corners a, b, c; the record's spare field is
// dropped), stored in the order it is drawn: b, c, a. The triangles of an
// object are thus one packed array of 16-bit indices that the scene hands to
// GL as it stands, and with flat shading the last corner, a, gives the
// triangle its colour; turning the corners keeps the winding. The loader
// guarantees a, b and c are below the owning object's point count.
struct MeshTriangle {
    std::uint16_t b, c, a;
};
static_assert(sizeof(MeshTriangle) == 6, "an object's triangles are a packed array of 16-bit indices");

struct MeshObject {
    std::uint8_t Visible = 0;                                 // written by the frame loop's visibility pass
    float CentreX = 0, CentreY = 0, CentreZ = 0, Radius = 0;  // world units
    std::int32_t PointCount = 0, TriangleCount = 0;
    const MeshPoint* Points = nullptr;        // PointCount entries
    const MeshTriangle* Triangles = nullptr;  // TriangleCount entries
};

// All objects of a track. The points and triangles of every object live in
// one block owned here, each object's points followed by its triangles (and
// two bytes of padding where needed to keep the next points aligned); the
// objects point into it, so a load makes two allocations whatever the object
// count, and the block is at most one and a half times the file.
struct TrackMesh {
    std::vector<MeshObject> Objects;
    std::unique_ptr<std::byte[]> Storage;

    int ObjectCount() const { return static_cast<int>(Objects.size()); }
    // Frees every array; the mesh is empty afterwards. Safe on an empty mesh.
    void Release();
};

// ---- track data -----------------------------------------------------------

struct TrackData {
    TrackMesh Mesh;
    std::int32_t PathNodeCount = 0;  // 0..65535
    std::int32_t FinishNode = 0;     // 0..65535, the node at which a lap begins
};

// ---- catalogue and file names ---------------------------------------------

struct TrackCatalogueEntry {
    const char* Key;       // first two characters of a short track name
    const char* MeshFile;  // relative to the current directory
};

inline constexpr TrackCatalogueEntry TrackCatalogue[] = {
    {"SO", "files/South City_3DH.smx"}, {"FE", "files/Fern Bay_3DH.smx"},   {"BL", "files/Blackwood_3DH.smx"},
    {"AS", "files/Aston_3DH.smx"},      {"KY", "files/Kyoto Ring_3DH.smx"}, {"WE", "files/Westhill_3DH.smx"},
};

// Short names are at most this long; anything after is ignored.
constexpr std::size_t MaxShortNameLength = 6;

// "files/" + name + ".pth"; a final upper-case R marks the reversed
// direction: "files/" + name without the R + "r.pth".
std::string PathFileName(const char* shortName);
// The catalogue's mesh file for the first two characters (compared
// case-sensitively), or nullptr when there is no such row.
const char* MeshFileName(const char* shortName);

// ---- loading --------------------------------------------------------------

inline constexpr const char* PathFileError = "Track not supported yet or file error. Closing.";
inline constexpr const char* MeshFileError = "Track File not found - Closing";
// The text for a mesh file that opened but is not a readable mesh.
std::string BrokenMeshError(const char* meshFile);

// Reads the path header and the mesh of `shortName` into `track`. On any
// failure calls shell.FatalError (whose real implementation ends the
// process) and returns false. The old mesh is released before the mesh file
// is opened, so after a failure past the path file the mesh is empty; a
// failure on the path file leaves the mesh untouched.
bool LoadTrack(TrackData& track, const char* shortName, Shell& shell);

// A track read ahead, away from the GUI thread: LoadTrack into a fresh
// TrackData, with the text of a failure kept for the caller to report.
struct TrackRead {
    TrackData track;
    bool ok = false;
    std::string error;  // FatalError's text when not ok
};
TrackRead ReadTrack(const char* shortName);

}  // namespace gs
