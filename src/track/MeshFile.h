// Reader of a track's mesh file into a TrackMesh.
//
// The file is a 64-byte header ("LFSSMX", version 0, 3 dimensions, coloured
// points, object count at offset 60) and then per object a 24-byte header
// (centre x, y, z, radius, point count and triangle count, all signed 32-bit
// integers), its 16-byte point records (x, y, z as signed 32-bit integers,
// colour 0xAARRGGBB) and its 8-byte triangle records (three 16-bit indices and a
// spare). All little-endian. Coordinates count 1/65536 metre and are
// converted to world units on reading; colour bytes become 0..1.
//
// The file is untrusted: every count is checked against the bytes that are
// actually there before anything is allocated, and every triangle index
// against its object's point count, so a broken file is refused as a whole
// and never makes the reader touch memory outside its arrays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "track/TrackData.h"

namespace gs {

constexpr std::size_t MeshHeaderSize = 64;
constexpr std::size_t MeshObjectHeaderSize = 24;
constexpr std::size_t MeshPointRecordSize = 16;
constexpr std::size_t MeshTriangleRecordSize = 8;
// Larger files are refused rather than read into memory; real meshes are a
// few megabytes.
constexpr std::size_t MaxMeshFileSize = std::size_t(1) << 30;

enum class MeshStatus {
    Ok,
    BadHeader,  // magic, version, dimensions or colour flag wrong
    Broken,     // truncated, a count that cannot be right, an index out of range
};

// Decodes a whole mesh file held in memory into `mesh`, which is released
// first. On any status other than Ok the mesh is left empty.
MeshStatus DecodeMesh(const std::uint8_t* data, std::size_t size, TrackMesh& mesh);
// Reads the rest of `file` (positioned at its start) in one block and
// decodes it.
MeshStatus ReadMesh(std::FILE* file, TrackMesh& mesh);

}  // namespace gs
