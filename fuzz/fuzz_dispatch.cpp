// libFuzzer target: arbitrary datagram sequences through the whole dispatch,
// in any link state and mode, interleaved with timer ticks, keep-alives,
// disconnects and the opening commands (input layout in DispatchHarness.h).
#include <cstdio>
#include <cstdlib>

#include "DispatchHarness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const gs::fuzz::DispatchResult result = gs::fuzz::RunDispatchInput(data, size);
    if (!result.violation.empty()) {
        std::fprintf(stderr, "invariant broken after %d operations: %s\n", result.operations, result.violation.c_str());
        std::abort();
    }
    return 0;
}
