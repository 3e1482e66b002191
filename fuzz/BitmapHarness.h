// Fuzz harness of the bitmap loader: the fuzz input is written as a .bmp
// file and loaded with LoadBitmapImage. A load either gives a picture whose
// pixel data is exactly width × height × 3 bytes and no message, or no
// picture and exactly one "Error" message with one of the loader's texts.
// Returns the first broken property, or an empty text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace gs::fuzz {

std::string RunBitmapInput(const std::uint8_t* data, std::size_t size);

}  // namespace gs::fuzz
