#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "view/FrameLoop.h"
#include "view/SceneText.h"

namespace gs {
namespace {

TEST(CarIcons, ExactCaseSensitiveNamesAndAFallbackWithItsOwnMask) {
    EXPECT_EQ(CarIconSlot("XF GTI"), 7);
    EXPECT_EQ(CarIconSlot("XR GT"), 9);
    EXPECT_EQ(CarIconSlot("XR GT TURBO"), 11);
    EXPECT_EQ(CarIconSlot("RA"), 25);
    EXPECT_EQ(CarIconSlot("UF1"), 23);
    EXPECT_EQ(CarIconSlot("FZ50 GTR"), 41);
    EXPECT_EQ(CarIconSlot("fz50"), 7);  // unknown: a real image slot...
    EXPECT_EQ(CarIconSlot(""), 7);
    EXPECT_EQ(CarIconSlot("XR GT TURB"), 7);
    EXPECT_EQ(CarIconSlot("nothing") % 2, 1);  // ...paired with its own mask in the next slot
}

TEST(PlayerColours, KnownValuesAndDefinedForEverySlot) {
    const struct {
        int slot;
        float r, g, b;
    } known[] = {
        {0, 1, 1, 1},
        {1, 0.996f, 0.931f, 0.733f},
        {2, 0.984f, 0.733f, 0.075f},
        {3, 0.965f, 0.434f, 0.623f},
        {4, 0.938f, 0.075f, 0.989f},
        {21, 0, 0, 1},
    };
    for (const auto& k : known) {
        const Rgb c = PlayerColour(k.slot);
        EXPECT_NEAR(c.r, k.r, 0.001) << k.slot;
        EXPECT_NEAR(c.g, k.g, 0.001) << k.slot;
        EXPECT_NEAR(c.b, k.b, 0.001) << k.slot;
    }
    std::set<std::tuple<int, int, int>> seen;
    for (int slot = 0; slot < 32; ++slot) {
        const Rgb c = PlayerColour(slot);
        for (float v : {c.r, c.g, c.b}) {
            EXPECT_TRUE(std::isfinite(v)) << slot;
            EXPECT_GE(v, 0.0f);
            EXPECT_LE(v, 1.0f);
        }
        seen.insert({int(c.r * 1000), int(c.g * 1000), int(c.b * 1000)});
    }
    EXPECT_EQ(seen.size(), 32u);  // every slot has a colour of its own
}

TEST(SpeedLabels, FirstFiveCharactersCutNotRounded) {
    EXPECT_EQ(SpeedText(123.456f, true), "123.4 km/h");
    EXPECT_EQ(SpeedText(7.25f, true), "7.250 km/h");
    EXPECT_EQ(SpeedText(1234.5f, true), "1234. km/h");
    EXPECT_EQ(SpeedText(0, true), "0.000 km/h");
    EXPECT_EQ(SpeedText(99.99f, true), "99.98 km/h");
    EXPECT_EQ(SpeedText(99.5f, true), "99.50 km/h");
    EXPECT_EQ(SpeedText(100, false), "62.18 mph");
    EXPECT_EQ(SpeedText(1e30f, true).size(), 10u);
}

TEST(SceneSizes, IconAndLabelScale) {
    const IconSize2 s = IconHalfSize(100, 2);
    EXPECT_FLOAT_EQ(s.a, 0.036f);  // f = 1.8
    EXPECT_FLOAT_EQ(s.b, 0.072f);
    EXPECT_FLOAT_EQ(IconHalfSize(100, 0).a, 0);
    EXPECT_FLOAT_EQ(LabelScale(200, 572), 2 * LabelScale(100, 572));
    EXPECT_FLOAT_EQ(LabelScale(100, 1144), LabelScale(100, 572) / 2);
    EXPECT_TRUE(std::isfinite(LabelScale(100, 0)));
}

TEST(Toolbar, HitRectanglesOfA697By461Panel) {
    // Band 4.14 < y < 24.86; buttons start at 697 div 28 = 24, 129.07 wide.
    EXPECT_EQ(ToolbarButtonAt(697, 461, 100, 4), -1);
    EXPECT_EQ(ToolbarButtonAt(697, 461, 100, 5), 0);
    EXPECT_EQ(ToolbarButtonAt(697, 461, 100, 24), 0);
    EXPECT_EQ(ToolbarButtonAt(697, 461, 100, 25), -1);
    EXPECT_EQ(ToolbarButtonAt(697, 461, 24, 10), -1);
    EXPECT_EQ(ToolbarButtonAt(697, 461, 153, 10), 0);
    EXPECT_EQ(ToolbarButtonAt(697, 461, 154, 10), 1);
    EXPECT_EQ(ToolbarButtonAt(697, 461, 669, 10), 4);
    EXPECT_EQ(ToolbarButtonAt(697, 461, 670, 10), -1);
    EXPECT_EQ(ToolbarButtonAt(697, 461, 0, 0), -1);
}

TEST(Toolbar, BoundariesBelongToNoButton) {
    // 700 × 445: band 4 < y < 24; button 0 from 25 to 154.6, button 1 to 284.2.
    EXPECT_EQ(ToolbarButtonAt(700, 445, 100, 4), -1);
    EXPECT_EQ(ToolbarButtonAt(700, 445, 26, 5), 0);
    EXPECT_EQ(ToolbarButtonAt(700, 445, 154, 23), 0);
    EXPECT_EQ(ToolbarButtonAt(700, 445, 155, 23), 1);
    EXPECT_EQ(ToolbarButtonAt(700, 445, 284, 23), 1);
    EXPECT_EQ(ToolbarButtonAt(700, 445, 285, 23), 2);
    EXPECT_EQ(ToolbarButtonAt(540, 445, 20, 10), 0);   // 540 div 28 = 19; 540 * 0 = 0
    EXPECT_EQ(ToolbarButtonAt(540, 445, 120, 10), 1);  // 19 + 100 = 119 exactly: boundary
    EXPECT_EQ(ToolbarButtonAt(540, 445, 119, 10), -1);
}

// The default view of a 792 x 572 panel from 100 units up: 41.42 units to
// the top and bottom edges, 57.35 to the sides.
TEST(CircleInView, EdgesOfTheViewTurnsAndHeight) {
    Camera camera;  // at (0, 0), 100 up, not turned
    auto in = [&](float x, float y, float radius, float z = 0) {
        return CircleInView(camera, 792, 572, 45.0, x, y, z, radius);
    };
    EXPECT_TRUE(in(0, 0, 0));
    EXPECT_TRUE(in(57.0f, 41.0f, 0));
    EXPECT_FALSE(in(59.0f, 0, 0.5f));
    EXPECT_FALSE(in(0, -43.0f, 0.5f));
    EXPECT_TRUE(in(59.0f, 0, 2.0f));  // reaches back over the edge
    EXPECT_TRUE(in(57.5f, 0, 0));     // within the two pixels spared for rounding
    EXPECT_FALSE(in(300, 300, 10));
    EXPECT_TRUE(in(300, 300, 400));
    EXPECT_TRUE(in(300, 300, 0, 100));  // level with the eye
    // Higher points are nearer the eye and see less around them.
    EXPECT_FALSE(in(40, 0, 0, 40));

    camera.CameraX = 100;
    EXPECT_TRUE(in(100, 0, 0));
    EXPECT_FALSE(in(0, 0, 1));
    // The view turns about the world's vertical axis before it moves, as
    // glRotatef after glTranslatef does: 90 degrees take (0, 50) to (-50, 0).
    camera.CameraX = 0;
    EXPECT_FALSE(in(0, 50, 0));
    camera.CameraRotation = 90;
    EXPECT_TRUE(in(0, 50, 0));
    EXPECT_FALSE(in(50, 0, 0));
    // A wider panel sees further to the sides.
    EXPECT_TRUE(CircleInView(camera, 1200, 572, 45.0, 0, 80, 0, 0));
}

TEST(WindowShape, FourToThree) {
    EXPECT_EQ(WindowHeightForWidth(800), 600);
    EXPECT_EQ(WindowHeightForWidth(801), 600);
    const PanelSize p = PanelForWindow(800, 600);
    EXPECT_EQ(p.width, 792);
    EXPECT_EQ(p.height, 572);
}

}  // namespace
}  // namespace gs
