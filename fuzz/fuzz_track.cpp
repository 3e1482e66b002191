// libFuzzer target: the fuzz input as a track's path file and mesh file,
// loaded with LoadTrack (input layout in FileHarness.h).
#include <cstdio>
#include <cstdlib>

#include "FileHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string broken = gs::fuzz::RunTrackInput(data, size);
    if (!broken.empty()) {
        std::fprintf(stderr, "track files: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
