// gridscope-fuzz-seeds OUTDIR [RUNDIR]: writes the seed corpora of the fuzz
// targets, one folder per target, from the hand-coded generators of
// SeedPackets.cpp and, when RUNDIR is given, from the build's generated
// tracks and bitmaps.
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "SeedPackets.h"

namespace {

void WriteAll(const std::filesystem::path& dir, const std::vector<gs::fuzz::NamedPacket>& seeds) {
    std::filesystem::create_directories(dir);
    for (const auto& seed : seeds) {
        std::ofstream out(dir / seed.name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(seed.bytes.data()), static_cast<std::streamsize>(seed.bytes.size()));
    }
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
    const std::string run = argc == 3 ? argv[2] : "";
    // The largest inputs scripts/fuzz.sh lets the file targets try.
    constexpr std::size_t MaxFileInput = 65536;
    WriteAll(out / "track", gs::fuzz::TrackSeeds(run, MaxFileInput));
    WriteAll(out / "bitmap", gs::fuzz::BitmapSeeds(run, MaxFileInput));
    return 0;
}
