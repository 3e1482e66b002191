// The 43 bitmap textures: toolbar buttons, HUD bar with its mask, and the
// car icons with their masks.
//
// Car icons come in pairs: image at an odd slot k, its mask at slot k + 1.
// Slots 9/11 and 10/12 are the same two files, loaded twice.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "render/BitmapImage.h"
#include "render/ErrorReporter.h"

namespace gs {

constexpr int TextureCount = 43;

// Slot -> file name in the current directory, in load order.
extern const std::array<const char*, TextureCount> TextureFiles;

// Slot -> GL texture name (0 until LoadTextures ran).
extern std::array<unsigned int, TextureCount> TextureTable;

// Loads every file of TextureFiles with LoadBitmapImage and uploads it as a
// mipmapped RGB8 2-D texture with linear filters. A file that cannot be
// loaded gets the loader's "Error" report; its slot keeps a texture name
// without an image (an incomplete texture, which GL draws as untextured),
// and loading goes on. Always reports success, as the start-up expects.
bool LoadTextures(const ErrorReporter& report);

// The two halves of LoadTextures, so that the files can be read ahead on
// another thread while the GL context is made:
//   ReadTexturePictures - reads and decodes every file; the reports it
//                         would make are kept in order. No GL, any thread.
//   UploadTextures      - makes those reports, then uploads the pictures.
struct TexturePictures {
    std::array<std::optional<ImageRecord>, TextureCount> images;
    std::vector<std::pair<std::string, std::string>> reports;  // caption, text
};
TexturePictures ReadTexturePictures();
bool UploadTextures(TexturePictures pictures, const ErrorReporter& report);

}  // namespace gs
