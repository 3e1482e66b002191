// gridscope-fuzz-seeds OUTDIR [RUNDIR]: writes the seed corpora of the fuzz
// targets, one folder per target, from the hand-coded generators of
// SeedPackets.cpp and, when RUNDIR is given, from the build's generated
// tracks and bitmaps.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "Recording.h"
#include "SeedPackets.h"

namespace {

void WriteAll(const std::filesystem::path& dir, const std::vector<gs::fuzz::NamedPacket>& seeds) {
    std::filesystem::create_directories(dir);
    for (const auto& seed : seeds) {
        std::ofstream out(dir / seed.name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(seed.bytes.data()), static_cast<std::streamsize>(seed.bytes.size()));
    }
}

// Recordings: the dispatch seeds as datagrams a tenth of a second apart,
// whole, with a gap in the middle, and cut inside the last record.
std::vector<gs::fuzz::NamedPacket> RecordingSeeds() {
    using namespace gs::peers;
    Bytes whole = EncodeRecordingHeader(1'796'800'000'000'000);
    std::uint64_t time = 0;
    const auto packets = gs::fuzz::DispatchSeeds();
    for (std::size_t i = 0; i < packets.size() && i < 24; ++i, time += 100'000) {
        const Bytes& b = packets[i].bytes;
        const Bytes record = EncodeRecord(time, RecordKind::Datagram, b.data(), b.size());
        whole.insert(whole.end(), record.begin(), record.end());
        if (i == 5) {
            const char reason[] = "no answer for 60.5 s";
            const Bytes gap =
                EncodeRecord(time, RecordKind::Gap, reinterpret_cast<const std::uint8_t*>(reason), sizeof reason - 1);
            whole.insert(whole.end(), gap.begin(), gap.end());
        }
    }
    Bytes empty = EncodeRecordingHeader(0);
    Bytes cut(whole.begin(), whole.end() - 3);
    return {{"whole", whole}, {"empty", empty}, {"cut", cut}};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: %s OUTDIR [RUNDIR]\n", argv[0]);
        return 2;
    }
    const std::filesystem::path out = argv[1];
    WriteAll(out / "dispatch", gs::fuzz::DispatchSeeds());
    WriteAll(out / "settings", gs::fuzz::SettingsSeeds());
    WriteAll(out / "recording", RecordingSeeds());
    const std::string run = argc == 3 ? argv[2] : "";
    // The largest inputs scripts/fuzz.sh lets the file targets try.
    constexpr std::size_t MaxFileInput = 65536;
    WriteAll(out / "track", gs::fuzz::TrackSeeds(run, MaxFileInput));
    WriteAll(out / "bitmap", gs::fuzz::BitmapSeeds(run, MaxFileInput));
    return 0;
}
