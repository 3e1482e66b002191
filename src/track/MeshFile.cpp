// Reader of a track's mesh file (see MeshFile.h).
//
// The file is read into the back of the buffer that becomes the mesh's
// storage, and converted towards the front of that same buffer: a 16-byte
// point record grows into a 24-byte MeshPoint and an 8-byte triangle record
// is moved as it is. The buffer's lead (half the file size) keeps the writes
// behind the reads: after P points the writes have gained 8P bytes on the
// reads, and P is at most a sixteenth of the file. So a load touches little
// more fresh memory than reading the file does, and makes one pass over its
// records.
//
// A file is read by a second thread in chunks while this one converts what
// has arrived, so the conversion hides behind the copy from the page cache.
// A file of one chunk or less is read on the calling thread: its conversion
// could only start once the whole chunk is in, so a thread would gain nothing
// and cost its start.
// Every count is checked against the file's size, and the bytes it claims
// are waited for, before the object it belongs to is converted.
#include "track/MeshFile.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <system_error>
#include <thread>
#include <vector>

#include "common/Units.h"
#include "common/Wire.h"

namespace gs {

// The records are read as native 32-bit integers and 16-bit indices.
static_assert(std::endian::native == std::endian::little, "the mesh reader copies little-endian records as they are");

namespace {

bool HeaderAccepted(const DatagramView& file) {
    return file.Has(MeshHeaderSize) && std::memcmp(file.Data(), "LFSSMX", 6) == 0 && file.U8(8) == 0 &&
           file.U8(9) == 3 && file.U8(11) == 1;
}

// How much of the file is in the buffer: the reading thread publishes its
// progress, the converting thread waits for the bytes it is about to use.
class Arrival {
public:
    // All of a file of `size` bytes is there already.
    static constexpr std::uint64_t Complete(std::size_t size) { return size | EndBit; }
    explicit Arrival(std::uint64_t state = 0) : state_(state) {}

    void Publish(std::size_t bytes) {
        state_.store(bytes, std::memory_order_release);
        state_.notify_one();
    }
    void End(std::size_t bytes) {
        state_.store(bytes | EndBit, std::memory_order_release);
        state_.notify_one();
    }
    // True once the first `bytes` bytes are in; false when the file ended
    // short of them.
    bool Wait(std::size_t bytes) const {
        for (;;) {
            const std::uint64_t state = state_.load(std::memory_order_acquire);
            if ((state & ~EndBit) >= bytes) return true;
            if (state & EndBit) return false;
            state_.wait(state, std::memory_order_acquire);
        }
    }

private:
    static constexpr std::uint64_t EndBit = std::uint64_t(1) << 63;
    std::atomic<std::uint64_t> state_;
};

// A coordinate or radius: a signed 32-bit count of 1/65536 metre.
float ScaledFloat(const std::byte* at) {
    std::int32_t v;
    std::memcpy(&v, at, sizeof v);
    return WorldFromFixed(v);
}

// Room in front of a file of `size` bytes for the points to grow into,
// rounded to keep the records 8-byte aligned.
std::size_t Lead(std::size_t size) { return (size / 2 + 7) & ~std::size_t(7); }

// Converts the file of `size` bytes arriving at base + lead into points and
// triangles from `base` on, and their objects into `objects`.
MeshStatus Convert(std::byte* base, std::size_t lead, std::size_t size, const Arrival& arrival,
                   std::vector<MeshObject>& objects) {
    const std::byte* file = base + lead;
    const DatagramView view(reinterpret_cast<const std::uint8_t*>(file), size);
    if (!arrival.Wait(std::min(size, MeshHeaderSize)) || !HeaderAccepted(view)) return MeshStatus::BadHeader;
    const std::int32_t count = view.I32(60);
    if (count < 0 || static_cast<std::size_t>(count) > (size - MeshHeaderSize) / MeshObjectHeaderSize)
        return MeshStatus::Broken;
    objects.resize(static_cast<std::size_t>(count));

    std::byte* out = base;
    std::size_t at = MeshHeaderSize;
    constexpr float ColourScale = 1.0f / 255.0f;
    for (MeshObject& object : objects) {
        if (size - at < MeshObjectHeaderSize || !arrival.Wait(at + MeshObjectHeaderSize)) return MeshStatus::Broken;
        const std::int32_t points = view.I32(at + 16), triangles = view.I32(at + 20);
        if (points < 0 || triangles < 0) return MeshStatus::Broken;
        // 64-bit sums: two counts below 2^31 times 16 cannot overflow them.
        const std::uint64_t bytes = MeshObjectHeaderSize + std::uint64_t(points) * MeshPointRecordSize +
                                    std::uint64_t(triangles) * MeshTriangleRecordSize;
        if (bytes > size - at || !arrival.Wait(at + static_cast<std::size_t>(bytes))) return MeshStatus::Broken;

        const std::byte* in = file + at;
        object.Visible = 1;  // drawn until the first visibility pass decides
        object.CentreX = ScaledFloat(in);
        object.CentreY = ScaledFloat(in + 4);
        object.CentreZ = ScaledFloat(in + 8);
        object.Radius = ScaledFloat(in + 12);
        object.PointCount = points;
        object.TriangleCount = triangles;
        in += MeshObjectHeaderSize;

        object.Points = reinterpret_cast<const MeshPoint*>(out);
        for (std::int32_t p = 0; p < points; ++p, in += MeshPointRecordSize, out += sizeof(MeshPoint)) {
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

        // Each 8-byte record (a, b, c, spare; little-endian) becomes the
        // 6-byte triangle (b, c, a), written behind the reading position (the
        // points before it never outgrow the lead). The store is 8 bytes wide
        // for speed: its last two land where the next triangle or the next
        // object's points go, never past the record just read.
        object.Triangles = reinterpret_cast<const MeshTriangle*>(out);
        std::uint32_t largest = 0;
        for (std::int32_t t = 0; t < triangles; ++t, in += MeshTriangleRecordSize, out += sizeof(MeshTriangle)) {
            std::uint64_t record;
            std::memcpy(&record, in, sizeof record);
            const std::uint64_t a = record & 0xFFFF, b = (record >> 16) & 0xFFFF, c = (record >> 32) & 0xFFFF;
            largest = std::max(largest, static_cast<std::uint32_t>(std::max({a, b, c})));
            const std::uint64_t turned = b | (c << 16) | (a << 32);
            std::memcpy(out, &turned, sizeof turned);
        }
        if (triangles > 0 && largest >= static_cast<std::uint32_t>(points)) return MeshStatus::Broken;
        // The next object's points start four-byte aligned: two bytes at
        // most, which its triangles saved already.
        out += reinterpret_cast<std::uintptr_t>(out) % alignof(MeshPoint);
        at += static_cast<std::size_t>(bytes);
    }
    return MeshStatus::Ok;
}

// Hands the converted storage to `mesh` when the conversion succeeded.
MeshStatus Finish(MeshStatus status, std::unique_ptr<std::byte[]> storage, std::vector<MeshObject> objects,
                  TrackMesh& mesh) {
    if (status == MeshStatus::Ok) {
        mesh.Objects = std::move(objects);
        mesh.Storage = std::move(storage);
    }
    return status;
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
    mesh.Release();
    auto storage = StorageFor(size);
    if (size != 0) std::memcpy(storage.get() + Lead(size), data, size);
    std::vector<MeshObject> objects;
    const Arrival all(Arrival::Complete(size));
    const MeshStatus status = Convert(storage.get(), Lead(size), size, all, objects);
    return Finish(status, std::move(storage), std::move(objects), mesh);
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
    std::byte* into = storage.get() + Lead(size);
    Arrival arrival;
    std::atomic<bool> stop{false};
    // Reads until the file's size, or until it ends short (a file that shrank
    // converts as far as it goes), or until the conversion gave up.
    constexpr std::size_t Chunk = 512 * 1024;
    auto read = [&] {
        std::size_t done = 0;
        while (done < size && !stop.load(std::memory_order_relaxed)) {
            const std::size_t want = std::min(Chunk, size - done);
            const std::size_t got = std::fread(into + done, 1, want, file);
            done += got;
            if (got != want) break;
            arrival.Publish(done);
        }
        arrival.End(done);
    };
    std::thread reader;
    if (size <= Chunk) {
        read();
    } else {
        try {
            reader = std::thread(read);
        } catch (const std::system_error&) {
            read();  // no thread to be had: read it all first
        }
    }
    std::vector<MeshObject> objects;
    const MeshStatus status = Convert(storage.get(), Lead(size), size, arrival, objects);
    stop.store(true, std::memory_order_relaxed);
    // The reader writes into the storage until it returns.
    if (reader.joinable()) reader.join();
    return Finish(status, std::move(storage), std::move(objects), mesh);
}

}  // namespace gs
