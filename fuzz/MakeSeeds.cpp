// gridscope-fuzz-seeds OUTDIR: writes the seed corpora of the fuzz targets,
// one folder per target, from the hand-coded generators of SeedPackets.cpp.
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
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTDIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path out = argv[1];
    WriteAll(out / "dispatch", gs::fuzz::DispatchSeeds());
    WriteAll(out / "settings", gs::fuzz::SettingsSeeds());
    return 0;
}
