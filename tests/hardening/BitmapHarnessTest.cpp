// The bitmap fuzz harness and its seeds: every hand-made bitmap of each
// header kind and depth really decodes (so the fuzzer starts from pictures
// the loader accepts), and the generated artwork passes the harness too.
#include <gtest/gtest.h>

#include "BitmapHarness.h"
#include "FileHarness.h"
#include "SeedPackets.h"
#include "render/BitmapImage.h"

namespace gs::fuzz {
namespace {

TEST(BitmapHarness, HandMadeSeedsDecodeToTheirSize) {
    int checked = 0;
    for (const NamedPacket& seed : BitmapSeeds("", 65536)) {
        const std::string file = ScratchDir() + "/" + seed.name + ".bmp";
        WriteFileBytes(file, seed.bytes.data(), seed.bytes.size());
        std::string message;
        const auto image = LoadBitmapImage(file, [&](const std::string&, const std::string& text) { message = text; });
        ASSERT_TRUE(image.has_value()) << seed.name << ": " << message;
        EXPECT_EQ(image->Data.size(), std::size_t(image->Width) * image->Height * 3) << seed.name;
        EXPECT_GE(image->Width, 2) << seed.name;
        ++checked;
    }
    EXPECT_EQ(checked, 10);
}

TEST(BitmapHarness, SeedsWithArtworkPassAndBrokenFilesGiveOneMessage) {
    const auto seeds = BitmapSeeds(GRIDSCOPE_RUN_DIR, 65536);
    EXPECT_GT(seeds.size(), 10u);  // the artwork is there
    for (const NamedPacket& seed : seeds)
        EXPECT_EQ(RunBitmapInput(seed.bytes.data(), seed.bytes.size()), "") << seed.name;

    // Cut short, a header size of 13, an empty file: each is refused with
    // one of the loader's messages, which the harness accepts.
    Bytes cut = seeds.front().bytes;
    cut.resize(20);
    EXPECT_EQ(RunBitmapInput(cut.data(), cut.size()), "");
    Bytes odd = seeds.front().bytes;
    odd[14] = 13;
    EXPECT_EQ(RunBitmapInput(odd.data(), odd.size()), "");
    EXPECT_EQ(RunBitmapInput(nullptr, 0), "");
}

}  // namespace
}  // namespace gs::fuzz
