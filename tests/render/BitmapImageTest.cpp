// LoadBitmapImage on hand-written bitmap files: depths, both header kinds,
// bare headers, and broken files.
#include "render/BitmapImage.h"

#include "TestSupport.h"

namespace gs::test {
namespace {

using Pixels = std::vector<std::uint8_t>;

class BitmapImageTest : public ::testing::Test {
protected:
    std::optional<ImageRecord> Load(const Bytes& file) {
        folder_.Write("test.bmp", file);
        return LoadBitmapImage("test.bmp", reporter_.Function());
    }
    // Loads a file that must fail with exactly one "Error" box of `text`.
    void ExpectFailure(const Bytes& file, const std::string& text) {
        reporter_.Reports.clear();
        EXPECT_FALSE(Load(file).has_value());
        EXPECT_EQ(reporter_.Reports, (std::vector<Report>{{"Error", text}}));
    }

    TempRunFolder folder_;
    RecordingReporter reporter_;
};

// Bottom row of the picture: red, green, blue; top row: (1,2,3) (4,5,6) (7,8,9).
const Pixels ThreeByTwo = {255, 0, 0, 0, 255, 0, 0, 0, 255, 1, 2, 3, 4, 5, 6, 7, 8, 9};

TEST_F(BitmapImageTest, TwentyFourBitRowsComeOutBottomFirstRgbWithoutPadding) {
    const Bytes file = Bytes().raw({
        'B', 'M', 78,  0, 0,    0,    0,   0, 0,    0,    54,   0,    0, 0,                     // file header
        40,  0,   0,   0, 3,    0,    0,   0, 2,    0,    0,    0,    1, 0, 24, 0, 0, 0, 0, 0,  // info header
        24,  0,   0,   0, 0x13, 0x0B, 0,   0, 0x13, 0x0B, 0,    0,    0, 0, 0,  0, 0, 0, 0, 0,
        0,   0,   255, 0, 255,  0,    255, 0, 0,    0xEE, 0xEE, 0xEE,  // bottom row, BGR
        3,   2,   1,   6, 5,    4,    9,   8, 7,    0xEE, 0xEE, 0xEE,  // top row
    });
    ASSERT_EQ(file.v.size(), 78u);
    const auto image = Load(file);
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->Width, 3);
    EXPECT_EQ(image->Height, 2);
    EXPECT_EQ(image->Data, ThreeByTwo);
    EXPECT_TRUE(reporter_.Reports.empty());
}

TEST_F(BitmapImageTest, TopDownRowsAndBareHeaderGiveTheSameRecord) {
    const Bytes bottom = Bytes().raw({0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0});
    const Bytes top = Bytes().raw({3, 2, 1, 6, 5, 4, 9, 8, 7, 0, 0, 0});

    const auto topDown = Load(WithFileHeader(InfoHeader(3, -2, 24), Bytes(), Bytes().append(top).append(bottom)));
    ASSERT_TRUE(topDown.has_value());
    EXPECT_EQ(topDown->Height, 2);
    EXPECT_EQ(topDown->Data, ThreeByTwo);

    const auto bare = Load(InfoHeader(3, 2, 24).append(bottom).append(top));
    ASSERT_TRUE(bare.has_value());
    EXPECT_EQ(bare->Data, ThreeByTwo);
    EXPECT_TRUE(reporter_.Reports.empty());
}

// Palette entry i of the 8-bit tests: red i/2, green 255-i, blue i.
Bytes Palette8(int entries) {
    Bytes palette;
    for (int i = 0; i < entries; ++i)
        palette.u8(static_cast<std::uint8_t>(i))
            .u8(static_cast<std::uint8_t>(255 - i))
            .u8(static_cast<std::uint8_t>(i / 2))
            .u8(0);
    return palette;
}
Pixels Colour8(std::initializer_list<int> indexes) {
    Pixels out;
    for (int i : indexes)
        out.insert(out.end(), {static_cast<std::uint8_t>(i / 2), static_cast<std::uint8_t>(255 - i),
                               static_cast<std::uint8_t>(i)});
    return out;
}

TEST_F(BitmapImageTest, EightBitBareHeaderWithColoursUsedZeroReadsA256EntryPalette) {
    // The pixels start after 256 palette entries; a shorter palette would
    // read palette bytes as pixels.
    const Bytes pixels = Bytes().raw({0, 1, 200, 255, 10, 20, 30, 40});
    const auto image = Load(InfoHeader(4, 2, 8).append(Palette8(256)).append(pixels));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->Data, Colour8({0, 1, 200, 255, 10, 20, 30, 40}));
}

TEST_F(BitmapImageTest, EightBitWithColoursUsedReadsOnlyThatManyEntries) {
    const Bytes pixels = Bytes().raw({2, 1, 0, 0, 0, 1, 2, 2});
    const auto withFile = Load(WithFileHeader(InfoHeader(4, 2, 8, 0, 3), Palette8(3), pixels));
    ASSERT_TRUE(withFile.has_value());
    EXPECT_EQ(withFile->Data, Colour8({2, 1, 0, 0, 0, 1, 2, 2}));
    const auto bare = Load(InfoHeader(4, 2, 8, 0, 3).append(Palette8(3)).append(pixels));
    ASSERT_TRUE(bare.has_value());
    EXPECT_EQ(bare->Data, withFile->Data);
}

TEST_F(BitmapImageTest, OneBitRowsAcrossAByteBoundary) {
    const Bytes palette = Bytes().raw({0, 0, 0, 0, 30, 20, 10, 0});
    const Bytes pixels = Bytes().raw({0b10101010, 0b10000000, 0, 0,    // bottom: 1010101010
                                      0b11000000, 0b11000000, 0, 0});  // top:    1100000011
    const auto image = Load(WithFileHeader(InfoHeader(10, 2, 1), palette, pixels));
    ASSERT_TRUE(image.has_value());
    Pixels expected;
    for (char bit : std::string("1010101010"
                                "1100000011")) {
        const Pixels colour = bit == '1' ? Pixels{10, 20, 30} : Pixels{0, 0, 0};
        expected.insert(expected.end(), colour.begin(), colour.end());
    }
    EXPECT_EQ(image->Data, expected);
}

TEST_F(BitmapImageTest, FourBitCoreHeaderWithThreeBytePaletteEntries) {
    Bytes palette;  // entry i: red 255-i, green i, blue 16 i
    for (int i = 0; i < 16; ++i)
        palette.u8(static_cast<std::uint8_t>(16 * i))
            .u8(static_cast<std::uint8_t>(i))
            .u8(static_cast<std::uint8_t>(255 - i));
    const Bytes pixels = Bytes().raw({0x12, 0x30, 0, 0, 0xF0, 0x70, 0, 0});
    Pixels expected;
    for (int i : {1, 2, 3, 15, 0, 7})
        expected.insert(expected.end(), {static_cast<std::uint8_t>(255 - i), static_cast<std::uint8_t>(i),
                                         static_cast<std::uint8_t>(16 * i)});

    const auto withFile = Load(WithFileHeader(CoreHeader(3, 2, 4), palette, pixels));
    ASSERT_TRUE(withFile.has_value());
    EXPECT_EQ(withFile->Width, 3);
    EXPECT_EQ(withFile->Data, expected);
    const auto bare = Load(CoreHeader(3, 2, 4).append(palette).append(pixels));
    ASSERT_TRUE(bare.has_value());
    EXPECT_EQ(bare->Data, expected);
}

TEST_F(BitmapImageTest, ThirtyTwoBitAndSixteenBitWithColourMasks) {
    const Bytes pixels = Bytes().raw({1, 2, 3, 0, 4, 5, 6, 0});  // the fourth byte is unused
    const auto image = Load(WithFileHeader(InfoHeader(2, 1, 32), Bytes(), pixels));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->Data, (Pixels{3, 2, 1, 6, 5, 4}));

    // 5-6-5 masks after a bare header, then red, green, blue, white.
    const Bytes masks = Bytes().u32(0xF800).u32(0x07E0).u32(0x001F);
    const Bytes rgb565 = Bytes().u16(0xF800).u16(0x07E0).u16(0x001F).u16(0xFFFF);
    const auto masked = Load(InfoHeader(4, 1, 16, 3).append(masks).append(rgb565));
    ASSERT_TRUE(masked.has_value());
    // The decoder widens 5 and 6 bits by shifting: full scale is 248 / 252.
    EXPECT_EQ(masked->Data, (Pixels{248, 0, 0, 0, 252, 0, 0, 0, 248, 248, 252, 248}));
}

TEST_F(BitmapImageTest, RunLengthEncodedEightBit) {
    const Bytes palette = Bytes().raw({7, 8, 9, 0, 70, 80, 90, 0});
    const Bytes runs = Bytes().raw({4, 1, 0, 0,          // bottom: four of entry 1, end of line
                                    2, 0, 2, 1, 0, 1});  // top: two of 0, two of 1, end
    const auto image = Load(WithFileHeader(InfoHeader(4, 2, 8, 1, 2), palette, runs));
    ASSERT_TRUE(image.has_value());
    EXPECT_EQ(image->Data,
              (Pixels{90, 80, 70, 90, 80, 70, 90, 80, 70, 90, 80, 70, 9, 8, 7, 9, 8, 7, 90, 80, 70, 90, 80, 70}));
}

TEST_F(BitmapImageTest, MissingOrEmptyFileCannotBeOpened) {
    EXPECT_FALSE(LoadBitmapImage("nosuch.bmp", reporter_.Function()).has_value());
    EXPECT_EQ(reporter_.Reports, (std::vector<Report>{{"Error", "Failed to open DIB file nosuch.bmp.\n"}}));
    ExpectFailure(Bytes(), "Failed to open DIB file test.bmp.\n");
}

TEST_F(BitmapImageTest, HeaderSizesOtherThan12Or40AreUnknown) {
    Bytes v4 = InfoHeader(3, 2, 24);
    v4.v[0] = 108;  // a later header kind
    ExpectFailure(WithFileHeader(v4, Bytes(), Bytes().zeros(200)), "Unknown DIB file format.");
    Bytes twenty = CoreHeader(3, 2, 24);
    twenty.v[0] = 20;
    ExpectFailure(twenty.zeros(40), "Unknown DIB file format.");
}

TEST_F(BitmapImageTest, HeadersCutOffByTheEndOfTheFileAreUnknown) {
    // A 40-byte header size in a 20-byte file, with and without file header.
    Bytes cut = InfoHeader(3, 2, 24);
    cut.v.resize(20);
    ExpectFailure(cut, "Unknown DIB file format.");
    ExpectFailure(FileHeader(34, 54).append(cut), "Unknown DIB file format.");
    ExpectFailure(Bytes().raw({'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0}), "Unknown DIB file format.");
    ExpectFailure(Bytes().raw({40, 0, 0}), "Unknown DIB file format.");
}

TEST_F(BitmapImageTest, PointersOutsideTheFileAreConversionErrors) {
    const std::string error = "Image file conversion error.";
    // Pixel rows cut short: the last row is missing.
    ExpectFailure(WithFileHeader(InfoHeader(3, 2, 24), Bytes(), Bytes().zeros(12)), error);
    // Pixel offset beyond the end of the file.
    Bytes farOffset = SolidBitmap(3, 2, 1, 2, 3);
    farOffset.v[10] = 0xFF;
    farOffset.v[11] = 0xFF;
    ExpectFailure(farOffset, error);
    // A palette that claims four billion entries.
    ExpectFailure(InfoHeader(4, 2, 8, 0, 0xFFFFFFFF).zeros(64), error);
    // No pixels at all, and a compression the decoder does not know.
    ExpectFailure(WithFileHeader(InfoHeader(0, 2, 24), Bytes(), Bytes().zeros(16)), error);
    ExpectFailure(WithFileHeader(InfoHeader(4, 2, 24, 4), Bytes(), Bytes().zeros(64)), error);
}

TEST_F(BitmapImageTest, AbsurdDimensionsAreRefusedWithoutAllocating) {
    // Far beyond the cap: refused before anything is allocated.
    ExpectFailure(WithFileHeader(InfoHeader(100000, 100000, 24), Bytes(), Bytes().zeros(16)), "Out of memory.");
    ExpectFailure(WithFileHeader(InfoHeader(1, INT32_MIN, 24), Bytes(), Bytes().zeros(16)), "Out of memory.");
    // Within the cap but compressed into a few bytes: the decoder refuses it.
    ExpectFailure(WithFileHeader(InfoHeader(16384, 16384, 8, 1, 2), Bytes().zeros(8), Bytes().raw({0, 1})),
                  "Image file conversion error.");
}

// Every cut-off length and every single-byte corruption of valid files of
// each kind: either a complete record or exactly one "Error" box, never a
// read outside the file (run it under the sanitizer build).
TEST_F(BitmapImageTest, CorruptedFilesGiveARecordOrOneError) {
    const std::vector<Bytes> files = {
        SolidBitmap(3, 2, 1, 2, 3),
        InfoHeader(4, 2, 8).append(Palette8(256)).append(Bytes().zeros(8)),
        WithFileHeader(CoreHeader(3, 2, 4), Bytes().zeros(48), Bytes().zeros(8)),
        WithFileHeader(InfoHeader(4, 2, 8, 1, 2), Bytes().zeros(8), Bytes().raw({4, 1, 0, 0, 2, 0, 2, 1, 0, 1})),
    };
    const auto check = [&](const Bytes& file) {
        reporter_.Reports.clear();
        const auto image = Load(file);
        if (image) {
            EXPECT_TRUE(reporter_.Reports.empty());
            EXPECT_EQ(image->Data.size(), static_cast<std::size_t>(image->Width) * image->Height * 3);
        } else {
            ASSERT_EQ(reporter_.Reports.size(), 1u);
            EXPECT_EQ(reporter_.Reports[0].Caption, "Error");
        }
    };
    for (const Bytes& whole : files) {
        for (std::size_t length = 0; length < whole.v.size(); ++length) {
            Bytes cut = whole;
            cut.v.resize(length);
            check(cut);
        }
        for (std::size_t at = 0; at < std::min<std::size_t>(whole.v.size(), 64); ++at)
            for (std::uint8_t value : {0x00, 0x01, 0x7F, 0x80, 0xFF}) {
                Bytes changed = whole;
                changed.v[at] = value;
                check(changed);
            }
    }
}

}  // namespace
}  // namespace gs::test
