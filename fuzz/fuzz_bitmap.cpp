// libFuzzer target: the fuzz input as a bitmap file, loaded with
// LoadBitmapImage (QImage decodes the pixels; no display is needed).
#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "BitmapHarness.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // The program decodes with a GUI application object present; keep the
    // same conditions, without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static std::unique_ptr<QGuiApplication> app = std::make_unique<QGuiApplication>(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string broken = gs::fuzz::RunBitmapInput(data, size);
    if (!broken.empty()) {
        std::fprintf(stderr, "bitmap file: %s\n", broken.c_str());
        std::abort();
    }
    return 0;
}
