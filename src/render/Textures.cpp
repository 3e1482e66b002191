// Texture loading: bitmaps to mipmapped GL textures; see Textures.h.
#include "render/Textures.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <QImage>

#include <algorithm>
#include <optional>

#include "render/BitmapImage.h"

namespace gs {

namespace {

// The power of two that gluBuild2DMipmaps would pick for a side of `size`:
// the one below, or the one above from 1.5 times the one below on.
int PowerOfTwoSide(int size, int maxSize) {
    int power = 1;
    while (power <= size / 2) power *= 2;
    if (power > 1 && size - power >= power / 2) power *= 2;
    return std::min(power, maxSize);
}

// Uploads the picture as a mipmapped texture. A picture whose sides are not
// powers of two is scaled here first: GLU's own scaling loses the last row
// when only the width changes (a 100 x 64 picture comes out with a black
// top row), so GLU is given only power-of-two pictures to halve.
void UploadMipmapped(const ImageRecord& image, int maxSize) {
    const int width = PowerOfTwoSide(image.Width, maxSize);
    const int height = PowerOfTwoSide(image.Height, maxSize);
    if (width == image.Width && height == image.Height) {
        gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGB8, width, height, GL_RGB, GL_UNSIGNED_BYTE, image.Data.data());
        return;
    }
    const QImage source(image.Data.data(), image.Width, image.Height, image.Width * 3, QImage::Format_RGB888);
    QImage scaled = source.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                        .convertToFormat(QImage::Format_RGB888);
    if (scaled.isNull()) return;  // out of memory: the slot stays empty
    // QImage pads its rows to 4 bytes.
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    gluBuild2DMipmaps(GL_TEXTURE_2D, GL_RGB8, width, height, GL_RGB, GL_UNSIGNED_BYTE, scaled.constBits());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
}

}  // namespace

const std::array<const char*, TextureCount> TextureFiles = {
    "getlist.bmp",      "connect.bmp", "settings.bmp", "about.bmp",   "exit.bmp",         "hud_bar.bmp",
    "hud_bar_mask.bmp", "GTI.bmp",     "GTI_MASK.bmp", "GTTURBO.bmp", "GTTURBO_MASK.bmp", "GTTURBO.bmp",
    "GTTURBO_MASK.bmp", "FXO.bmp",     "FXO_MASK.bmp", "RB4.bmp",     "RB4_MASK.bmp",     "LX4.bmp",
    "LX4_MASK.bmp",     "LX6.bmp",     "LX6_MASK.bmp", "MRT5.bmp",    "MRT5_MASK.bmp",    "UF1.bmp",
    "UF1_MASK.bmp",     "RAC.bmp",     "RAC_MASK.bmp", "FZ5.bmp",     "FZ5_MASK.bmp",     "FOX.bmp",
    "FOX_MASK.bmp",     "XFR.bmp",     "XFR_MASK.bmp", "UFR.bmp",     "UFR_MASK.bmp",     "FO8.bmp",
    "FO8_MASK.bmp",     "FXR.bmp",     "FXR_MASK.bmp", "XRR.bmp",     "XRR_MASK.bmp",     "FZR.bmp",
    "FZR_MASK.bmp",
};

TexturePictures ReadTexturePictures() {
    TexturePictures pictures;
    const ErrorReporter keep = [&pictures](const std::string& caption, const std::string& text) {
        pictures.reports.emplace_back(caption, text);
    };
    for (int slot = 0; slot < TextureCount; ++slot) pictures.images[slot] = LoadBitmapImage(TextureFiles[slot], keep);
    return pictures;
}

bool TextureSet::Load(const ErrorReporter& report) { return Upload(ReadTexturePictures(), report); }

void TextureSet::Release() {
    if (names_[0] != 0) glDeleteTextures(TextureCount, names_.data());
    names_ = {};
}

bool TextureSet::Upload(TexturePictures pictures, const ErrorReporter& report) {
    if (report)
        for (const auto& [caption, text] : pictures.reports) report(caption, text);
    auto& images = pictures.images;

    Release();
    glGenTextures(TextureCount, names_.data());
    GLint maxSize = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
    if (maxSize < 64) maxSize = 64;  // the least any GL offers
    // The records' rows are tightly packed RGB, whatever the width.
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    for (int slot = 0; slot < TextureCount; ++slot) {
        glBindTexture(GL_TEXTURE_2D, names_[slot]);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        if (std::optional<ImageRecord>& image = images[slot]) {
            UploadMipmapped(*image, maxSize);
            image.reset();
        }
    }
    glPopClientAttrib();
    glBindTexture(GL_TEXTURE_2D, 0);
    return true;
}

}  // namespace gs
