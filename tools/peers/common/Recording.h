// Recordings of what a race server sent: the file layout, an appending writer and
// a bounded reader.
//
//   Layout     - header (magic, version, header size, start time), then records
//   Writer     - appends one record per datagram, flushed at once, so a crash or a
//                full disk loses at most the record being written
//   Reader     - takes bytes or a file and returns every complete, intact record;
//                a cut-off tail or a damaged record ends the list with a note,
//                a file that is not a recording (or a newer one) is refused
//
// docs/recording.md describes the layout for other readers.
#pragma once

#include "Bytes.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace gs::peers {

inline constexpr std::uint8_t kRecordingMagic[8] = {'G', 'S', 'R', 'E', 'C', 0x0D, 0x0A, 0x1A};
inline constexpr std::uint16_t kRecordingVersion = 1;
inline constexpr std::size_t kRecordingHeaderSize = 20;  // the smallest header a reader accepts
inline constexpr std::size_t kRecordHeaderSize = 16;
inline constexpr std::size_t kMaxRecordPayload = 65535;

enum class RecordKind : std::uint8_t {
    Datagram = 1,  // one datagram as the server sent it
    Gap = 2,       // the connection was lost here; payload: the reason as text
};

struct Record {
    std::uint64_t timeUs = 0;  // since the start of the recording
    RecordKind kind = RecordKind::Datagram;
    Bytes bytes;

    double Seconds() const { return static_cast<double>(timeUs) / 1e6; }
};

struct Recording {
    enum class End { Complete, Truncated, Damaged };

    std::int64_t startUnixUs = 0;  // wall-clock time of the start, microseconds since 1970 (UTC)
    std::vector<Record> records;   // every complete, intact record before the end
    End end = End::Complete;
    std::string note;  // why the records end early (Truncated, Damaged)

    double LengthSeconds() const { return records.empty() ? 0.0 : records.back().Seconds(); }
};

// A file that is not a recording, a recording of a newer version, or one that
// cannot be read at all. The message says which and is meant for the user.
class RecordingRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Reads a whole recording held in memory. Throws RecordingRefused when the bytes
// do not start with a header this reader understands.
Recording ParseRecording(const std::uint8_t* data, std::size_t size);
// Reads a recording file. Throws RecordingRefused when it cannot be opened or
// read, is not a recording, or is of a newer version.
Recording ReadRecordingFile(const std::filesystem::path& file);

// CRC-32 (the zlib polynomial) of a record's header fields and payload.
std::uint32_t RecordChecksum(const std::uint8_t* header12, const std::uint8_t* payload, std::size_t size);

// The bytes of one record, header and payload.
Bytes EncodeRecord(std::uint64_t timeUs, RecordKind kind, const std::uint8_t* payload, std::size_t size);
// The bytes of a file header.
Bytes EncodeRecordingHeader(std::int64_t startUnixUs);

class RecordingWriter {
public:
    // Creates (or replaces) `file` and writes its header. Throws std::runtime_error
    // with the reason when the file cannot be created.
    RecordingWriter(const std::filesystem::path& file, std::int64_t startUnixUs);
    ~RecordingWriter();
    RecordingWriter(const RecordingWriter&) = delete;
    RecordingWriter& operator=(const RecordingWriter&) = delete;

    // Appends one record and flushes it to the system. False when it could not be
    // written whole (for instance on a full disk); the file then ends with the
    // records before it, and perhaps a cut-off one that readers drop.
    bool Append(std::uint64_t timeUs, RecordKind kind, const std::uint8_t* payload, std::size_t size);
    bool Append(std::uint64_t timeUs, RecordKind kind, const Bytes& payload) {
        return Append(timeUs, kind, payload.data(), payload.size());
    }
    // Flushes and closes; false when the last flush or the close failed.
    bool Close();
    std::uint64_t BytesWritten() const { return written_; }

private:
    std::FILE* file_ = nullptr;
    std::uint64_t written_ = 0;
};

}  // namespace gs::peers
