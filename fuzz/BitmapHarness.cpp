// The bitmap loader's fuzz harness; see BitmapHarness.h.
#include "BitmapHarness.h"

#include <vector>

#include "FileHarness.h"
#include "render/BitmapImage.h"

namespace gs::fuzz {

std::string RunBitmapInput(const std::uint8_t* data, std::size_t size) {
    const std::string file = ScratchDir() + "/fuzz.bmp";
    WriteFileBytes(file, data, size);
    std::vector<std::pair<std::string, std::string>> reports;
    const auto image = LoadBitmapImage(
        file, [&](const std::string& caption, const std::string& text) { reports.emplace_back(caption, text); });
    if (image) {
        if (!reports.empty()) return "a picture came with a message: " + reports.front().second;
        if (image->Width <= 0 || image->Height <= 0)
            return "a picture of size " + std::to_string(image->Width) + " x " + std::to_string(image->Height);
        const std::uint64_t expected = std::uint64_t(image->Width) * std::uint64_t(image->Height) * 3;
        if (image->Data.size() != expected)
            return "pixel data of " + std::to_string(image->Data.size()) + " bytes for " +
                   std::to_string(image->Width) + " x " + std::to_string(image->Height);
        return {};
    }
    if (reports.size() != 1) return std::to_string(reports.size()) + " messages for one failed load";
    const auto& [caption, text] = reports.front();
    if (caption != "Error") return "message caption \"" + caption + "\"";
    if (text != "Unknown DIB file format." && text != "Image file conversion error." && text != "Out of memory." &&
        text != "Failed to open DIB file " + file + ".\n")
        return "unexpected message \"" + text + "\"";
    return {};
}

}  // namespace gs::fuzz
