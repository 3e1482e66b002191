// Checks the generated artwork in the run folder: bitmap format, sizes, the
// mask conventions of the car icons and the HUD bar, and distinct car shapes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

const std::filesystem::path ArtDir = GRIDSCOPE_ARTWORK_DIR;

// A 24-bit bitmap as stored: the header fields that matter and the pixels,
// top row first, three bytes red, green, blue per pixel.
struct Bitmap {
    std::uint32_t fileSizeField = 0, dataOffset = 0, headerSize = 0, compression = 0, imageSizeField = 0;
    std::int32_t width = 0, height = 0;
    std::uint16_t planes = 0, bitCount = 0;
    std::size_t actualFileSize = 0;
    std::vector<std::uint8_t> rgb;

    struct Rgb {
        int r, g, b;
    };
    Rgb At(int x, int y) const {
        const std::size_t i = (std::size_t(y) * width + x) * 3;
        return {rgb[i], rgb[i + 1], rgb[i + 2]};
    }
    int Grey(int x, int y) const {
        const Rgb p = At(x, y);
        return (p.r + p.g + p.b) / 3;
    }
};

std::uint32_t U32(const std::vector<std::uint8_t>& d, std::size_t at) {
    return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | std::uint32_t(d[at + 3]) << 24;
}
std::uint16_t U16(const std::vector<std::uint8_t>& d, std::size_t at) { return std::uint16_t(d[at] | d[at + 1] << 8); }

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Reads a bottom-up, uncompressed 24-bit bitmap; nothing if the file is not
// one or is shorter than its header says.
std::optional<Bitmap> ReadBitmap(const std::filesystem::path& path) {
    const std::vector<std::uint8_t> d = ReadFile(path);
    if (d.size() < 54 || d[0] != 'B' || d[1] != 'M') return std::nullopt;
    Bitmap bmp;
    bmp.actualFileSize = d.size();
    bmp.fileSizeField = U32(d, 2);
    bmp.dataOffset = U32(d, 10);
    bmp.headerSize = U32(d, 14);
    bmp.width = std::int32_t(U32(d, 18));
    bmp.height = std::int32_t(U32(d, 22));
    bmp.planes = U16(d, 26);
    bmp.bitCount = U16(d, 28);
    bmp.compression = U32(d, 30);
    bmp.imageSizeField = U32(d, 34);
    if (bmp.bitCount != 24 || bmp.width <= 0 || bmp.height <= 0 || bmp.width > 4096 || bmp.height > 4096)
        return std::nullopt;
    const std::size_t stride = (std::size_t(bmp.width) * 3 + 3) / 4 * 4;
    if (bmp.dataOffset > d.size() || d.size() - bmp.dataOffset < stride * bmp.height) return std::nullopt;
    bmp.rgb.resize(std::size_t(bmp.width) * bmp.height * 3);
    for (int y = 0; y < bmp.height; ++y) {
        const std::uint8_t* row = d.data() + bmp.dataOffset + stride * (bmp.height - 1 - y);
        for (int x = 0; x < bmp.width; ++x) {
            std::uint8_t* out = bmp.rgb.data() + (std::size_t(y) * bmp.width + x) * 3;
            out[0] = row[x * 3 + 2];
            out[1] = row[x * 3 + 1];
            out[2] = row[x * 3];
        }
    }
    return bmp;
}

Bitmap Load(const std::string& name) {
    std::optional<Bitmap> bmp = ReadBitmap(ArtDir / name);
    if (!bmp) {
        ADD_FAILURE() << name << " is missing or not a 24-bit bitmap";
        return {};
    }
    return *bmp;
}

const std::vector<std::string> CarFiles = {"GTI", "GTTURBO", "FXO", "RB4", "LX4", "LX6", "MRT5", "UF1", "RAC",
                                           "FZ5", "FOX",     "XFR", "UFR", "FO8", "FXR", "XRR",  "FZR"};

// Every file of the run folder's artwork with its width and height.
std::map<std::string, std::pair<int, int>> ExpectedFiles() {
    std::map<std::string, std::pair<int, int>> files = {
        {"getlist.bmp", {256, 64}},        {"connect.bmp", {256, 64}},
        {"settings.bmp", {256, 64}},       {"about.bmp", {256, 64}},
        {"exit.bmp", {256, 64}},           {"hud_bar.bmp", {1024, 256}},
        {"hud_bar_mask.bmp", {1024, 256}}, {"settings_picture.bmp", {633, 201}},
        {"about_picture.bmp", {242, 178}},
    };
    for (const std::string& car : CarFiles) {
        files[car + ".bmp"] = {64, 128};
        files[car + "_MASK.bmp"] = {64, 128};
    }
    return files;
}

TEST(ArtworkFiles, AreUncompressed24BitBottomUpBitmapsOfTheirSizes) {
    const auto expected = ExpectedFiles();
    EXPECT_EQ(expected.size(), 43u);
    for (const auto& [name, size] : expected) {
        SCOPED_TRACE(name);
        const std::optional<Bitmap> bmp = ReadBitmap(ArtDir / name);
        ASSERT_TRUE(bmp.has_value());
        const std::size_t stride = (std::size_t(size.first) * 3 + 3) / 4 * 4;
        EXPECT_EQ(bmp->width, size.first);
        EXPECT_EQ(bmp->height, size.second);  // positive: rows stored bottom-up
        EXPECT_EQ(bmp->headerSize, 40u);
        EXPECT_EQ(bmp->planes, 1);
        EXPECT_EQ(bmp->bitCount, 24);
        EXPECT_EQ(bmp->compression, 0u);
        EXPECT_EQ(bmp->dataOffset, 54u);
        EXPECT_EQ(bmp->actualFileSize, 54 + stride * size.second);
        EXPECT_EQ(bmp->fileSizeField, bmp->actualFileSize);
    }
}

TEST(ArtworkFiles, AreTheSameOnEveryRunAndTheToolRejectsAMissingFolder) {
    const std::filesystem::path again = std::filesystem::temp_directory_path() / "gridscope-artwork-test";
    std::filesystem::remove_all(again);
    const std::string tool = GRIDSCOPE_ARTGEN;
    ASSERT_EQ(std::system(("\"" + tool + "\" \"" + again.string() + "\" 2>/dev/null").c_str()), 0);
    for (const auto& entry : ExpectedFiles()) {
        SCOPED_TRACE(entry.first);
        EXPECT_TRUE(ReadFile(again / entry.first) == ReadFile(ArtDir / entry.first));
    }
    std::filesystem::remove_all(again);
    EXPECT_NE(std::system(("\"" + tool + "\" 2>/dev/null").c_str()), 0);
}

struct Icon {
    std::string name;
    Bitmap image, mask;
};

std::vector<Icon> LoadIcons() {
    std::vector<Icon> icons;
    for (const std::string& car : CarFiles) icons.push_back({car, Load(car + ".bmp"), Load(car + "_MASK.bmp")});
    return icons;
}

int Coverage(const Bitmap& mask) {
    int n = 0;
    for (int y = 0; y < mask.height; ++y)
        for (int x = 0; x < mask.width; ++x) n += mask.Grey(x, y) >= 128;
    return n;
}

TEST(CarIcons, MasksAreWhiteOnTheCarAndTheImageIsBlackOutsideIt) {
    for (const Icon& icon : LoadIcons()) {
        SCOPED_TRACE(icon.name);
        ASSERT_EQ(icon.image.rgb.size(), icon.mask.rgb.size());
        int white = 0, black = 0, lightBody = 0, darkDetail = 0, leaks = 0, colouredMask = 0;
        for (int y = 0; y < icon.mask.height; ++y)
            for (int x = 0; x < icon.mask.width; ++x) {
                const auto m = icon.mask.At(x, y);
                const auto p = icon.image.At(x, y);
                colouredMask += m.r != m.g || m.g != m.b;
                if (m.r == 0) leaks += p.r != 0 || p.g != 0 || p.b != 0;
                if (m.r == 255) {
                    ++white;
                    lightBody += icon.image.Grey(x, y) >= 200;
                    darkDetail += icon.image.Grey(x, y) <= 90;
                } else if (m.r == 0) {
                    ++black;
                }
            }
        EXPECT_EQ(colouredMask, 0);
        EXPECT_EQ(leaks, 0) << "icon pixels outside the mask";
        const int all = icon.mask.width * icon.mask.height;
        EXPECT_GT(white, all / 8);
        EXPECT_GT(black, all / 5);
        // Light body for the player's colour to tint, dark windows or tyres.
        EXPECT_GT(lightBody, white / 3);
        EXPECT_GT(darkDetail, white / 50);
        // The picture's border is background: the car sits inside its quad.
        for (int x = 0; x < icon.mask.width; ++x) {
            EXPECT_LT(icon.mask.Grey(x, icon.mask.height - 1), 255);
        }
        for (int y = 0; y < icon.mask.height; ++y) {
            EXPECT_EQ(icon.mask.Grey(0, y), 0);
            EXPECT_EQ(icon.mask.Grey(icon.mask.width - 1, y), 0);
        }
    }
}

TEST(CarIcons, PointTheirNoseToTheTopRow) {
    // Headlamps are the only yellowish-white pixels and tail lamps the only
    // reddish ones; every car that has lamps must carry them the right way.
    int carsWithLamps = 0;
    for (const Icon& icon : LoadIcons()) {
        SCOPED_TRACE(icon.name);
        long headY = 0, headN = 0, tailY = 0, tailN = 0;
        for (int y = 0; y < icon.image.height; ++y)
            for (int x = 0; x < icon.image.width; ++x) {
                const auto p = icon.image.At(x, y);
                if (p.r == p.g && p.b + 6 < p.r) headY += y, ++headN;
                if (p.r > p.g + 30 && p.g == p.b) tailY += y, ++tailN;
            }
        if (headN == 0 && tailN == 0) continue;
        ++carsWithLamps;
        ASSERT_GT(headN, 0);
        EXPECT_LT(headY / headN, icon.image.height / 4);
        if (tailN > 0) {
            EXPECT_GT(tailY / tailN, icon.image.height * 3 / 4);
        }
    }
    EXPECT_GE(carsWithLamps, 12);
}

// Rows of the mask that hold three or more separate runs of car.
int RowsWithSeparateWheels(const Bitmap& mask) {
    int rows = 0;
    for (int y = 0; y < mask.height; ++y) {
        int runs = 0;
        bool inside = false;
        for (int x = 0; x < mask.width; ++x) {
            const bool car = mask.Grey(x, y) >= 128;
            runs += car && !inside;
            inside = car;
        }
        rows += runs >= 3;
    }
    return rows;
}

TEST(CarIcons, ModelsHaveDifferentShapes) {
    const std::vector<Icon> icons = LoadIcons();
    std::map<std::string, const Bitmap*> masks;
    for (const Icon& icon : icons) masks[icon.name] = &icon.mask;
    auto differing = [](const Bitmap& a, const Bitmap& b) {
        int n = 0;
        for (int y = 0; y < a.height; ++y)
            for (int x = 0; x < a.width; ++x) n += (a.Grey(x, y) >= 128) != (b.Grey(x, y) >= 128);
        return n;
    };
    const int all = 64 * 128;
    for (std::size_t i = 0; i < icons.size(); ++i)
        for (std::size_t j = i + 1; j < icons.size(); ++j)
            EXPECT_GT(differing(icons[i].mask, icons[j].mask), all / 50) << icons[i].name << " and " << icons[j].name;

    // Open-wheelers show their wheels apart from the body: many rows cross
    // wheel, body and wheel as separate runs. Closed bodies are one piece,
    // apart from the few rows where a wing's endplates stand clear.
    for (const char* openWheeler : {"FOX", "FO8", "MRT5", "LX4", "LX6"})
        EXPECT_GT(RowsWithSeparateWheels(*masks[openWheeler]), masks[openWheeler]->height / 8) << openWheeler;
    for (const char* closed : {"GTI", "UF1", "GTTURBO", "FXO", "RB4", "FZ5", "RAC", "XFR", "UFR", "FXR", "XRR", "FZR"})
        EXPECT_LT(RowsWithSeparateWheels(*masks[closed]), masks[closed]->height / 25) << closed;
    for (const char* closed : {"GTI", "FXO", "RB4", "GTTURBO", "FZ5"})
        EXPECT_LT(Coverage(*masks["UF1"]), Coverage(*masks[closed])) << closed;
    // Racing versions are wider than their road cars (arches, wings).
    for (auto [road, racing] : {std::pair{"GTI", "XFR"}, std::pair{"UF1", "UFR"}, std::pair{"FXO", "FXR"},
                                std::pair{"GTTURBO", "XRR"}, std::pair{"FZ5", "FZR"}})
        EXPECT_GT(Coverage(*masks[racing]), Coverage(*masks[road])) << racing;
}

// Pixel of the HUD bar pictures at a point in eye units (x -0.6..0.6,
// y 0.09..0.414, the top row at y = 0.414).
std::pair<int, int> HudPixel(double x, double y) {
    return {std::clamp(int((x + 0.6) / 1.2 * 1024), 0, 1023), std::clamp(int((0.414 - y) / 0.324 * 256), 0, 255)};
}

TEST(HudBar, LetsButtonsAndTrackViewThroughAndAddsNothingThere) {
    const Bitmap mask = Load("hud_bar_mask.bmp");
    const Bitmap bar = Load("hud_bar.bmp");
    ASSERT_FALSE(mask.rgb.empty());
    ASSERT_FALSE(bar.rgb.empty());
    // Every button's parallelogram, sampled over its whole area.
    for (int i = 0; i < 5; ++i) {
        const double c = (i - 2) * 0.21;
        for (double v = 0.02; v <= 0.981; v += 0.06)
            for (double u = 0.01; u <= 0.991; u += 0.02) {
                const double y = 0.37 + 0.04 * v;
                const double left = c - 0.11 + 0.01 * v, right = c + 0.10 + 0.01 * v;
                const auto [px, py] = HudPixel(left + (right - left) * u, y);
                EXPECT_EQ(mask.Grey(px, py), 255) << "button " << i << " at u " << u << " v " << v;
                EXPECT_EQ(bar.Grey(px, py), 0) << "button " << i << " at u " << u << " v " << v;
            }
    }
    // The track view in the middle and the side panels' text areas.
    for (auto [x, y] : {std::pair{0.0, 0.2}, std::pair{0.0, 0.1}, std::pair{-0.4, 0.25}, std::pair{0.4, 0.2}}) {
        const auto [px, py] = HudPixel(x, y);
        EXPECT_EQ(mask.Grey(px, py), 255) << x << ", " << y;
        EXPECT_EQ(bar.Grey(px, py), 0) << x << ", " << y;
    }
    // The bar itself: black in the mask, with a picture to add there.
    int barPixels = 0, lit = 0, leaks = 0;
    for (int y = 0; y < mask.height; ++y)
        for (int x = 0; x < mask.width; ++x) {
            if (mask.Grey(x, y) == 0) {
                ++barPixels;
                lit += bar.Grey(x, y) > 20;
            } else if (mask.Grey(x, y) == 255) {
                leaks += bar.Grey(x, y) != 0;
            }
        }
    EXPECT_GT(barPixels, 1024 * 256 / 20);
    EXPECT_LT(barPixels, 1024 * 256 / 3);
    EXPECT_GT(lit, barPixels / 2);
    EXPECT_EQ(leaks, 0);
}

TEST(ToolbarButtons, AreDistinctPicturesWithLightPlatesAndDarkCaptions) {
    std::vector<Bitmap> buttons;
    for (const char* name : {"getlist.bmp", "connect.bmp", "settings.bmp", "about.bmp", "exit.bmp"})
        buttons.push_back(Load(name));
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        int light = 0, dark = 0;
        for (int y = 8; y < 56; ++y)
            for (int x = 60; x < 250; ++x) {
                light += buttons[i].Grey(x, y) >= 190;
                dark += buttons[i].Grey(x, y) <= 70;
            }
        EXPECT_GT(light, 190 * 48 / 2) << i;
        EXPECT_GT(dark, 200) << i;
        for (std::size_t j = i + 1; j < buttons.size(); ++j)
            EXPECT_NE(buttons[i].rgb, buttons[j].rgb) << i << " and " << j;
    }
}

TEST(DialogPictures, AreLightWhereTheLabelsAre) {
    struct Area {
        const char* file;
        int left, top, right, bottom;
    };
    // Label columns of the settings dialog and the whole about box.
    for (const Area& a :
         {Area{"settings_picture.bmp", 16, 24, 236, 108}, Area{"settings_picture.bmp", 248, 24, 380, 72},
          Area{"settings_picture.bmp", 424, 24, 596, 108}, Area{"about_picture.bmp", 0, 0, 242, 178}}) {
        const Bitmap bmp = Load(a.file);
        ASSERT_FALSE(bmp.rgb.empty());
        int darkest = 255;
        for (int y = a.top; y < a.bottom; ++y)
            for (int x = a.left; x < a.right; ++x) darkest = std::min(darkest, bmp.Grey(x, y));
        EXPECT_GE(darkest, 200) << a.file << " " << a.left << "," << a.top;
    }
}

}  // namespace
