// Recording writer and bounded reader.
#include "Recording.h"

#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <fstream>

namespace gs::peers {

namespace {

std::uint64_t Get(const std::uint8_t* at, int bytes) {
    std::uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | at[i];
    return v;
}

void Put(std::uint8_t* at, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

bool KnownKind(std::uint8_t kind) {
    return kind == static_cast<std::uint8_t>(RecordKind::Datagram) ||
           kind == static_cast<std::uint8_t>(RecordKind::Gap);
}

}  // namespace

std::uint32_t RecordChecksum(const std::uint8_t* header12, const std::uint8_t* payload, std::size_t size) {
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, header12, 12);
    if (size > 0) crc = crc32(crc, payload, static_cast<uInt>(size));
    return static_cast<std::uint32_t>(crc);
}

Bytes EncodeRecordingHeader(std::int64_t startUnixUs) {
    Bytes b(kRecordingHeaderSize, 0);
    std::memcpy(b.data(), kRecordingMagic, sizeof kRecordingMagic);
    Put(b.data() + 8, kRecordingVersion, 2);
    Put(b.data() + 10, kRecordingHeaderSize, 2);
    Put(b.data() + 12, static_cast<std::uint64_t>(startUnixUs), 8);
    return b;
}

Bytes EncodeRecord(std::uint64_t timeUs, RecordKind kind, const std::uint8_t* payload, std::size_t size) {
    if (size > kMaxRecordPayload) size = kMaxRecordPayload;
    Bytes b(kRecordHeaderSize + size, 0);
    Put(b.data(), timeUs, 8);
    Put(b.data() + 8, size, 2);
    b[10] = static_cast<std::uint8_t>(kind);
    if (size > 0) std::memcpy(b.data() + kRecordHeaderSize, payload, size);
    Put(b.data() + 12, RecordChecksum(b.data(), payload, size), 4);
    return b;
}

Recording ParseRecording(const std::uint8_t* data, std::size_t size) {
    if (size < sizeof kRecordingMagic || std::memcmp(data, kRecordingMagic, sizeof kRecordingMagic) != 0)
        throw RecordingRefused("not a Gridscope recording (no recording header)");
    if (size < kRecordingHeaderSize) throw RecordingRefused("not a Gridscope recording (header cut off)");
    const auto version = static_cast<unsigned>(Get(data + 8, 2));
    const auto headerSize = static_cast<std::size_t>(Get(data + 10, 2));
    if (version == 0) throw RecordingRefused("not a Gridscope recording (version 0)");
    if (version > kRecordingVersion)
        throw RecordingRefused("a recording of version " + std::to_string(version) +
                               ", newer than this program reads (version " + std::to_string(kRecordingVersion) +
                               "): use a newer Gridscope");
    if (headerSize < kRecordingHeaderSize || headerSize > size)
        throw RecordingRefused("not a Gridscope recording (bad header size " + std::to_string(headerSize) + ")");

    Recording out;
    out.startUnixUs = static_cast<std::int64_t>(Get(data + 12, 8));
    std::size_t at = headerSize;
    std::uint64_t previous = 0;
    auto stop = [&](Recording::End end, const std::string& why) {
        out.end = end;
        out.note =
            why + " at byte " + std::to_string(at) + ", after " + std::to_string(out.records.size()) + " records";
    };
    while (at < size) {
        const std::size_t left = size - at;
        if (left < kRecordHeaderSize) {
            stop(Recording::End::Truncated, "record header cut off");
            break;
        }
        const std::uint8_t* h = data + at;
        const std::uint64_t time = Get(h, 8);
        const auto length = static_cast<std::size_t>(Get(h + 8, 2));
        if (!KnownKind(h[10]) || h[11] != 0) {
            stop(Recording::End::Damaged, "damaged record (unknown kind)");
            break;
        }
        if (length > left - kRecordHeaderSize) {
            stop(Recording::End::Truncated, "record cut off");
            break;
        }
        const std::uint8_t* payload = h + kRecordHeaderSize;
        if (RecordChecksum(h, payload, length) != static_cast<std::uint32_t>(Get(h + 12, 4))) {
            stop(Recording::End::Damaged, "damaged record (checksum mismatch)");
            break;
        }
        if (time < previous) {
            stop(Recording::End::Damaged, "damaged record (time runs backwards)");
            break;
        }
        previous = time;
        out.records.push_back(Record{time, static_cast<RecordKind>(h[10]), Bytes(payload, payload + length)});
        at += kRecordHeaderSize + length;
    }
    return out;
}

Recording ReadRecordingFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw RecordingRefused("cannot open " + file.string() + ": " + std::strerror(errno));
    std::error_code ec;
    const auto size = std::filesystem::file_size(file, ec);
    if (ec) throw RecordingRefused("cannot read " + file.string() + ": " + ec.message());
    Bytes bytes(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    bytes.resize(static_cast<std::size_t>(in.gcount()));
    try {
        return ParseRecording(bytes.data(), bytes.size());
    } catch (const RecordingRefused& e) {
        throw RecordingRefused(file.string() + ": " + e.what());
    }
}

RecordingWriter::RecordingWriter(const std::filesystem::path& file, std::int64_t startUnixUs) {
    file_ = std::fopen(file.c_str(), "wb");
    if (!file_) throw std::runtime_error("cannot create " + file.string() + ": " + std::strerror(errno));
    const Bytes header = EncodeRecordingHeader(startUnixUs);
    if (std::fwrite(header.data(), 1, header.size(), file_) != header.size() || std::fflush(file_) != 0) {
        const std::string why = std::strerror(errno);
        std::fclose(file_);
        file_ = nullptr;
        throw std::runtime_error("cannot write " + file.string() + ": " + why);
    }
    written_ = header.size();
}

RecordingWriter::~RecordingWriter() { Close(); }

bool RecordingWriter::Append(std::uint64_t timeUs, RecordKind kind, const std::uint8_t* payload, std::size_t size) {
    if (!file_) return false;
    const Bytes record = EncodeRecord(timeUs, kind, payload, size);
    const bool ok = std::fwrite(record.data(), 1, record.size(), file_) == record.size() && std::fflush(file_) == 0;
    if (ok) written_ += record.size();
    return ok;
}

bool RecordingWriter::Close() {
    if (!file_) return true;
    const bool ok = std::fflush(file_) == 0;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    return ok && closed;
}

}  // namespace gs::peers
