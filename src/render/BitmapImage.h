// Windows bitmap (.bmp) loading into tightly packed RGB rows.
//
// Our code checks the headers (file header or a bare bitmap header, header
// size 12 or 40, palette size, that everything the headers point to lies in
// the file); QImage decodes the pixels of any depth and compression.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "render/ErrorReporter.h"

namespace gs {

struct ImageRecord {
    std::int32_t Width = 0;
    std::int32_t Height = 0;
    // Width * Height * 3 bytes: red, green, blue per pixel, rows from the
    // bottom row of the picture to the top, no padding between rows.
    std::vector<std::uint8_t> Data;
};

// Largest picture accepted, in pixels; anything larger is refused before
// any allocation ("Out of memory.").
constexpr std::uint64_t MaxImagePixels = 16384ull * 16384ull;

// Loads `fileName` (relative to the current directory). Every failure is
// reported with caption "Error" and gives no image:
//   "Failed to open DIB file <name>.\n"  file cannot be opened or read
//   "Unknown DIB file format."           no usable bitmap header
//   "Image file conversion error."       headers point outside the file,
//                                        or the pixels cannot be decoded
//   "Out of memory."                     picture too large, allocation failed
std::optional<ImageRecord> LoadBitmapImage(const std::string& fileName, const ErrorReporter& report);

}  // namespace gs
