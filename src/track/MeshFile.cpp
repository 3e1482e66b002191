// Reader of a track's mesh file (see MeshFile.h).
//
// The file is read in one block into the back of the buffer that becomes
// the mesh's storage, and converted towards the front of that same buffer:
// a 16-byte point record grows into a 24-byte MeshPoint and an 8-byte
// triangle record is moved as it is. The buffer's lead (half the file size)
// keeps the writes behind the reads: after P points the writes have gained
// 8P bytes on the reads, and P is at most a sixteenth of the file. So a load
// touches little more fresh memory than reading the file does, and makes
// one pass over its records.
//
// Before anything is converted, a first pass walks the object headers and
// checks every count against the bytes that are actually there.
#include "track/MeshFile.h"

#include <bit>
#include <cstring>

#include "common/Units.h"
#include "connection/Wire.h"

namespace gs {

// The records are copied straight into native floats and 16-bit indices.
static_assert(std::endian::native == std::endian::little,
              "the mesh reader copies little-endian records as they are");

namespace {

struct ObjectLayout {
    std::size_t offset;  // of the object header, from the start of the file
    std::int32_t points, triangles;
};

bool HeaderAccepted(const DatagramView& file) {
    return file.Has(MeshHeaderSize) && std::memcmp(file.Data(), "LFSSMX", 6) == 0 &&
           file.U8(8) == 0 && file.U8(9) == 3 && file.U8(11) == 1;
}

// Pass 1: the layout of every object, or false when a count is negative or
// the bytes it claims are not in the file.
bool MapObjects(const DatagramView& file, std::vector<ObjectLayout>& layout) {
    const std::int32_t count = file.I32(60);
    const std::size_t rest = file.Size() - MeshHeaderSize;
    if (count < 0 || static_cast<std::size_t>(count) > rest / MeshObjectHeaderSize) return false;
    layout.resize(static_cast<std::size_t>(count));
    std::size_t at = MeshHeaderSize;
    for (ObjectLayout& object : layout) {
        if (file.Size() - at < MeshObjectHeaderSize) return false;
        object.offset = at;
        object.points = file.I32(at + 16);
        object.triangles = file.I32(at + 20);
        if (object.points < 0 || object.triangles < 0) return false;
        // 64-bit sums: two counts below 2^31 times 16 cannot overflow them.
        const std::uint64_t bytes = MeshObjectHeaderSize +
                                    std::uint64_t(object.points) * MeshPointRecordSize +
                                    std::uint64_t(object.triangles) * MeshTriangleRecordSize;
        if (bytes > file.Size() - at) return false;
        at += static_cast<std::size_t>(bytes);
    }
    return true;
}

float ScaledFloat(const std::byte* at) {
    float v;
    std::memcpy(&v, at, sizeof v);
    return v * WorldScale;
}

// Room in front of a file of `size` bytes for the points to grow into,
// rounded to keep the records 8-byte aligned.
std::size_t Lead(std::size_t size) { return (size / 2 + 7) & ~std::size_t(7); }

// Converts the file held at storage + Lead(size) into `mesh`, which takes
// the storage. The mesh is empty on any status but Ok.
MeshStatus Convert(std::unique_ptr<std::byte[]> storage, std::size_t size, TrackMesh& mesh) {
    mesh.Release();
    const std::byte* file = storage.get() + Lead(size);
    const DatagramView view(reinterpret_cast<const std::uint8_t*>(file), size);
    if (!HeaderAccepted(view)) return MeshStatus::BadHeader;
    std::vector<ObjectLayout> layout;
    if (!MapObjects(view, layout)) return MeshStatus::Broken;

    std::vector<MeshObject> objects(layout.size());
    std::byte* out = storage.get();
    constexpr float ColourScale = 1.0f / 255.0f;
    for (std::size_t i = 0; i < layout.size(); ++i) {
        const ObjectLayout& l = layout[i];
        const std::byte* in = file + l.offset;
        MeshObject& object = objects[i];
        object.Visible = 1;  // drawn until the first visibility pass decides
        object.CentreX = ScaledFloat(in);
        object.CentreY = ScaledFloat(in + 4);
        object.CentreZ = ScaledFloat(in + 8);
        object.Radius = ScaledFloat(in + 12);
        object.PointCount = l.points;
        object.TriangleCount = l.triangles;
        in += MeshObjectHeaderSize;

        object.Points = reinterpret_cast<const MeshPoint*>(out);
        for (std::int32_t p = 0; p < l.points; ++p, in += MeshPointRecordSize, out += sizeof(MeshPoint)) {
            // The whole record is read before the point is written: the
            // point may overlap the record it comes from.
            const MeshPoint point{ScaledFloat(in),
                                  ScaledFloat(in + 4),
                                  ScaledFloat(in + 8),
                                  std::to_integer<int>(in[14]) * ColourScale,
                                  std::to_integer<int>(in[13]) * ColourScale,
                                  std::to_integer<int>(in[12]) * ColourScale};
            std::memcpy(out, &point, sizeof point);
        }

        const std::size_t triangleBytes = std::size_t(l.triangles) * MeshTriangleRecordSize;
        if (triangleBytes != 0) std::memmove(out, in, triangleBytes);
        const auto* triangles = reinterpret_cast<const MeshTriangle*>(out);
        object.Triangles = triangles;
        out += triangleBytes;
        const auto limit = static_cast<std::uint32_t>(l.points);
        for (std::int32_t t = 0; t < l.triangles; ++t)
            if (triangles[t].a >= limit || triangles[t].b >= limit || triangles[t].c >= limit)
                return MeshStatus::Broken;
    }
    mesh.Objects = std::move(objects);
    mesh.Storage = std::move(storage);
    return MeshStatus::Ok;
}

std::unique_ptr<std::byte[]> StorageFor(std::size_t size) {
    return std::make_unique_for_overwrite<std::byte[]>(Lead(size) + size);
}

}  // namespace

void TrackMesh::Release() {
    std::vector<MeshObject>().swap(Objects);
    Storage.reset();
}

MeshStatus DecodeMesh(const std::uint8_t* data, std::size_t size, TrackMesh& mesh) {
    auto storage = StorageFor(size);
    if (size != 0) std::memcpy(storage.get() + Lead(size), data, size);
    return Convert(std::move(storage), size, mesh);
}

MeshStatus ReadMesh(std::FILE* file, TrackMesh& mesh) {
    mesh.Release();
    const long start = std::ftell(file);
    if (start < 0 || std::fseek(file, 0, SEEK_END) != 0) return MeshStatus::Broken;
    const long end = std::ftell(file);
    if (end < start || std::fseek(file, start, SEEK_SET) != 0) return MeshStatus::Broken;
    const auto size = static_cast<std::size_t>(end - start);
    if (size > MaxMeshFileSize) return MeshStatus::Broken;

    auto storage = StorageFor(size);
    // A file that shrank between the size query and the read converts as
    // the truncated file it now is.
    const std::size_t got = std::fread(storage.get() + Lead(size), 1, size, file);
    if (got != size) std::memmove(storage.get() + Lead(got), storage.get() + Lead(size), got);
    return Convert(std::move(storage), got, mesh);
}

}  // namespace gs
