// libFuzzer target: the fuzz input as the settings file, read, written and
// read again.
#include <cstdio>
#include <cstdlib>

#include "FileHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string broken = gs::fuzz::RunSettingsInput(data, size);
    if (!broken.empty()) {
        std::fprintf(stderr, "settings file: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
