// LoadTextures with a run folder of test bitmaps on a real (Mesa) context.
#include "render/Textures.h"

#include <chrono>
#include <cstdio>
#include <future>
#include <map>
#include <set>

#include "TestSupport.h"

namespace gs::test {
namespace {

class TexturesTest : public GLFixture {
protected:
    // Every distinct file gets its own colour, derived from its first slot.
    static std::array<std::uint8_t, 3> ColourOf(int slot) {
        return {static_cast<std::uint8_t>(40 + 5 * slot), static_cast<std::uint8_t>(250 - 5 * slot),
                static_cast<std::uint8_t>(slot % 2 ? 200 : 30)};
    }
    void WriteAll(int width, int height) {
        for (int slot = 0; slot < TextureCount; ++slot) {
            if (firstSlot_.count(TextureFiles[slot])) continue;
            firstSlot_[TextureFiles[slot]] = slot;
            const auto c = ColourOf(slot);
            folder_.Write(TextureFiles[slot], SolidBitmap(width, height, c[0], c[1], c[2]));
        }
    }
    GLint LevelZeroWidth(int slot) const {
        glBindTexture(GL_TEXTURE_2D, textures_[slot]);
        GLint width = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
        return width;
    }
    // Level 0 of a slot's texture as tightly packed RGB, with its size.
    std::vector<std::uint8_t> LevelZero(int slot, GLint& width, GLint& height) const {
        width = LevelZeroWidth(slot);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
        std::vector<std::uint8_t> texels(static_cast<std::size_t>(width * height * 3));
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
        return texels;
    }

    TempRunFolder folder_;
    RecordingReporter reporter_;
    TextureSet textures_;
    std::map<std::string, int> firstSlot_;
};

TEST_F(TexturesTest, FortyThreeSlotsLoadInOrderWithTheRepeatedCarFiles) {
    WriteAll(5, 3);  // odd width: rows are not 4-byte aligned
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(textures_.Load(reporter_.Function()));
    std::printf("LoadTextures (43 x 5x3): %.1f ms\n",
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    EXPECT_TRUE(reporter_.Reports.empty());
    EXPECT_EQ(firstSlot_.size(), 41u);

    std::set<unsigned> names(textures_.Names().begin(), textures_.Names().end());
    EXPECT_EQ(names.size(), 43u);
    EXPECT_EQ(names.count(0), 0u);
    for (int slot = 0; slot < TextureCount; ++slot) {
        GLint width = 0, height = 0;
        const auto texels = LevelZero(slot, width, height);
        ASSERT_GT(width * height, 0) << slot;
        const auto expected = ColourOf(firstSlot_[TextureFiles[slot]]);
        for (std::size_t i = 0; i < texels.size(); i += 3)
            ASSERT_TRUE(texels[i] == expected[0] && texels[i + 1] == expected[1] && texels[i + 2] == expected[2])
                << "slot " << slot << " texel " << i / 3;
        GLint minFilter = 0, magFilter = 0;
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &minFilter);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &magFilter);
        EXPECT_EQ(minFilter, GL_LINEAR);
        EXPECT_EQ(magFilter, GL_LINEAR);
    }
    // Slots 9/11 and 10/12: the same pictures in different textures.
    EXPECT_EQ(std::string(TextureFiles[9]), "GTTURBO.bmp");
    EXPECT_EQ(std::string(TextureFiles[11]), "GTTURBO.bmp");
    EXPECT_EQ(std::string(TextureFiles[12]), "GTTURBO_MASK.bmp");
    EXPECT_NE(textures_[9], textures_[11]);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    // Released in their context, the textures are gone, and a second load
    // makes a fresh set instead of leaking the first.
    const unsigned first = textures_[0];
    textures_.Release();
    EXPECT_FALSE(glIsTexture(first));
    EXPECT_EQ(textures_[0], 0u);
    textures_.Load(reporter_.Function());
    const unsigned second = textures_[0];
    textures_.Load(reporter_.Function());
    EXPECT_FALSE(glIsTexture(second) && second != textures_[0]);
}

TEST_F(TexturesTest, ScaledPicturesKeepEveryRowInOrder) {
    WriteAll(4, 4);
    // 5 x 4 picture, bottom two rows blue, top two red: 15-byte rows, and a
    // width that must be scaled while the height stays.
    Bytes pixels;
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 5; ++x)
            pixels.raw(y < 2 ? std::initializer_list<std::uint8_t>{255, 0, 0}
                             : std::initializer_list<std::uint8_t>{0, 0, 255});
        pixels.zeros(1);
    }
    folder_.Write("hud_bar.bmp", WithFileHeader(InfoHeader(5, 4, 24), Bytes(), pixels));
    // 2 x 2, the same colours, first to load: 6-byte rows that GL must not
    // take as 8.
    folder_.Write("getlist.bmp", WithFileHeader(InfoHeader(2, 2, 24), Bytes(),
                                                Bytes().raw({255, 0, 0, 255, 0, 0, 0, 0, 0, 0, 255, 0, 0, 255, 0, 0})));
    // Uniform pictures of sizes GLU alone gets wrong (it blackened the last
    // row whenever only the width changed) and of sizes it gets right.
    const std::map<int, std::pair<int, int>> sizes = {
        {1, {100, 64}}, {2, {130, 128}}, {3, {6, 4}}, {4, {64, 100}}, {6, {200, 50}}};
    for (const auto& [slot, size] : sizes)
        folder_.Write(TextureFiles[slot], SolidBitmap(size.first, size.second, 10, 200, 90));
    textures_.Load(reporter_.Function());
    EXPECT_TRUE(reporter_.Reports.empty());

    GLint width = 0, height = 0;
    auto texels = LevelZero(5, width, height);
    ASSERT_EQ(width, 4);
    ASSERT_EQ(height, 4);
    const auto texel = [&](int x, int y) {
        const std::size_t i = static_cast<std::size_t>((y * width + x) * 3);
        return std::array<std::uint8_t, 3>{texels[i], texels[i + 1], texels[i + 2]};
    };
    for (int x = 0; x < width; ++x) {
        EXPECT_EQ(texel(x, 0), (std::array<std::uint8_t, 3>{0, 0, 255})) << x;  // bottom row first
        EXPECT_EQ(texel(x, 3), (std::array<std::uint8_t, 3>{255, 0, 0})) << x;
    }
    texels = LevelZero(0, width, height);
    ASSERT_EQ(width, 2);
    ASSERT_EQ(height, 2);
    for (int x = 0; x < width; ++x) {
        EXPECT_EQ(texel(x, 0), (std::array<std::uint8_t, 3>{0, 0, 255})) << x;
        EXPECT_EQ(texel(x, 1), (std::array<std::uint8_t, 3>{255, 0, 0})) << x;
    }

    const std::map<int, std::pair<int, int>> expectedSizes = {
        {1, {128, 64}}, {2, {128, 128}}, {3, {8, 4}}, {4, {64, 128}}, {6, {256, 64}}};
    for (const auto& [slot, size] : expectedSizes) {
        texels = LevelZero(slot, width, height);
        EXPECT_EQ(width, size.first) << slot;
        EXPECT_EQ(height, size.second) << slot;
        int off = 0;
        for (std::size_t i = 0; i < texels.size(); i += 3)
            off += texels[i] != 10 || texels[i + 1] != 200 || texels[i + 2] != 90;
        EXPECT_EQ(off, 0) << "slot " << slot;
    }
}

TEST_F(TexturesTest, MissingFileIsReportedAndOnlyItsSlotStaysEmpty) {
    WriteAll(8, 8);
    std::filesystem::remove(folder_.Path() / "FXO.bmp");
    textures_.Load(reporter_.Function());

    EXPECT_EQ(reporter_.Reports, (std::vector<Report>{{"Error", "Failed to open DIB file FXO.bmp.\n"}}));
    EXPECT_NE(textures_[13], 0u);
    EXPECT_EQ(LevelZeroWidth(13), 0);
    for (int slot = 0; slot < TextureCount; ++slot) {
        if (slot == 13) continue;
        EXPECT_EQ(LevelZeroWidth(slot), 8) << slot;
    }

    // Drawing with the empty slot bound goes on without a GL error.
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, textures_[13]);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex2f(-0.5f, -0.5f);
    glTexCoord2f(1, 0);
    glVertex2f(0.5f, -0.5f);
    glTexCoord2f(1, 1);
    glVertex2f(0.5f, 0.5f);
    glTexCoord2f(0, 1);
    glVertex2f(-0.5f, 0.5f);
    glEnd();
    glDisable(GL_TEXTURE_2D);
    glFinish();
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(TexturesTest, StartUpSizedArtworkLoadsWithoutReports) {
    WriteAll(128, 128);
    const auto start = std::chrono::steady_clock::now();
    textures_.Load(reporter_.Function());
    const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("LoadTextures (41 files of 128x128, 24-bit): %.1f ms\n", ms);
    EXPECT_TRUE(reporter_.Reports.empty());
}

TEST_F(TexturesTest, PicturesReadAheadOnAnotherThreadReportInOrderWhenUploaded) {
    WriteAll(8, 8);
    std::filesystem::remove(folder_.Path() / "FXO.bmp");
    std::filesystem::remove(folder_.Path() / "connect.bmp");
    TexturePictures pictures = std::async(std::launch::async, ReadTexturePictures).get();
    EXPECT_TRUE(reporter_.Reports.empty());  // nothing shown by the reading thread
    EXPECT_FALSE(pictures.images[1].has_value());
    ASSERT_TRUE(pictures.images[0].has_value());
    EXPECT_EQ(pictures.images[0]->Width, 8);

    textures_.Upload(std::move(pictures), reporter_.Function());
    EXPECT_EQ(reporter_.Reports, (std::vector<Report>{{"Error", "Failed to open DIB file connect.bmp.\n"},
                                                      {"Error", "Failed to open DIB file FXO.bmp.\n"}}));
    EXPECT_EQ(LevelZeroWidth(1), 0);
    EXPECT_EQ(LevelZeroWidth(13), 0);
    EXPECT_EQ(LevelZeroWidth(0), 8);
    EXPECT_EQ(LevelZeroWidth(42), 8);
}

}  // namespace
}  // namespace gs::test
