// libFuzzer target: the input as a recording file, read by the bounded reader
// that the race server's replay and the recorder's info and reports use.
// Either the bytes are refused with a message, or every record read lies
// within them, times never go back, and what was read encodes into a
// recording that reads back the same and whole.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "Recording.h"

namespace {

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "recording: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace gs::peers;
    Recording read;
    try {
        read = ParseRecording(data, size);
    } catch (const RecordingRefused& refused) {
        if (std::strlen(refused.what()) == 0) Broken("refused without a message");
        return 0;
    }
    if (read.end != Recording::End::Complete && read.note.empty()) Broken("ended early without a note");

    Bytes again = EncodeRecordingHeader(read.startUnixUs);
    std::uint64_t last = 0;
    std::size_t payloads = 0;
    for (const Record& r : read.records) {
        if (r.timeUs < last) Broken("time went back");
        if (r.bytes.size() > kMaxRecordPayload) Broken("payload longer than a record holds");
        if (r.kind != RecordKind::Datagram && r.kind != RecordKind::Gap) Broken("unknown kind read");
        last = r.timeUs;
        payloads += kRecordHeaderSize + r.bytes.size();
        const Bytes record = EncodeRecord(r.timeUs, r.kind, r.bytes.data(), r.bytes.size());
        again.insert(again.end(), record.begin(), record.end());
    }
    if (kRecordingHeaderSize + payloads > size) Broken("records read beyond the input");

    const Recording back = ParseRecording(again.data(), again.size());
    if (back.end != Recording::End::Complete) Broken("a re-encoded recording does not read whole");
    if (back.startUnixUs != read.startUnixUs || back.records.size() != read.records.size())
        Broken("a re-encoded recording reads differently");
    for (std::size_t i = 0; i < back.records.size(); ++i)
        if (back.records[i].timeUs != read.records[i].timeUs || back.records[i].kind != read.records[i].kind ||
            back.records[i].bytes != read.records[i].bytes)
            Broken("a re-encoded record reads differently");
    return 0;
}
