// What the drawing keeps for a GL context: the outline font's glyphs and
// the textures. One object, owned by the GL panel and released with its
// context, so nothing of a context outlives it in a global.
#pragma once

#include "render/Font.h"
#include "render/Textures.h"

namespace gs {

struct GLResources {
    OutlineFont font;
    TextureSet textures;

    // Deletes both; the context they were made in must be current.
    void Release() {
        font.Release();
        textures.Release();
    }
};

}  // namespace gs
