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

// The pictures of every slot, read and decoded without GL (any thread), and
// the reports their loading would make, in order.
struct TexturePictures {
    std::array<std::optional<ImageRecord>, TextureCount> images;
    std::vector<std::pair<std::string, std::string>> reports;  // caption, text
};
TexturePictures ReadTexturePictures();

// The textures of one GL context, made and deleted in it by the GL panel
// that owns them.
class TextureSet {
public:
    TextureSet() = default;
    TextureSet(const TextureSet&) = delete;
    TextureSet& operator=(const TextureSet&) = delete;

    // Loads every file of TextureFiles with LoadBitmapImage and uploads it as
    // a mipmapped RGB8 2-D texture with linear filters. A file that cannot
    // be loaded gets the loader's "Error" report; its slot keeps a texture
    // name without an image (an incomplete texture, which GL draws as
    // untextured), and loading goes on. Always reports success, as the
    // start-up expects.
    bool Load(const ErrorReporter& report);
    // The second half of Load, for pictures read ahead on another thread
    // while the GL context was made: makes their reports, then uploads them.
    bool Upload(TexturePictures pictures, const ErrorReporter& report);
    // Deletes the textures; the context they were made in must be current.
    void Release();

    // Slot -> GL texture name (0 until loaded).
    unsigned int operator[](int slot) const { return names_[static_cast<std::size_t>(slot)]; }
    const std::array<unsigned int, TextureCount>& Names() const { return names_; }

private:
    std::array<unsigned int, TextureCount> names_{};
};

}  // namespace gs
