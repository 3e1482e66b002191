// The real main window under Xvfb with Mesa: frames are read back from the
// GL panel and checked pixel by pixel. The run folder is a scratch folder
// with hand-made bitmaps and a hand-made track, so every colour is known.
#include <QApplication>
#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "app/About.h"
#include "app/MainWindow.h"
#include "app/SettingsDialog.h"
#include "relay/ServerWindow.h"
#include "render/SceneText.h"
#include "render/Textures.h"
#include "support/TestFiles.h"

namespace gs {
namespace {

using test::Pixel;

constexpr float Unit = 327680.0f;  // file units per world unit

// Writes all 43 bitmaps (car images and masks plain white, so an icon is its
// player's colour exactly; toolbar grey; HUD bar black over a white mask, so
// it adds nothing) and an "AS1" track with one red square around the origin.
void WriteRunFolder() {
    for (const char* file : TextureFiles) {
        const std::string name = file;
        Pixel colour{255, 255, 255};
        if (name == "hud_bar.bmp") colour = {0, 0, 0};
        if (name == "getlist.bmp" || name == "connect.bmp" || name == "settings.bmp" || name == "about.bmp" ||
            name == "exit.bmp")
            colour = {128, 128, 128};
        test::WriteBmp24(name, 16, 32, [colour](int, int) { return colour; });
    }
    test::TestMeshObject square;
    const Pixel red{200, 0, 0};
    square.points = {{-10 * Unit, -10 * Unit, 0, red}, {10 * Unit, -10 * Unit, 0, red},
                     {10 * Unit, 10 * Unit, 0, red}, {-10 * Unit, 10 * Unit, 0, red}};
    square.triangles = {0, 1, 2, 0, 2, 3};
    test::WriteMeshFile("files/Aston_3DH.smx", {square});
    test::WritePathFile("files/AS1.pth", 300, 0);
}

class LiveView : public ::testing::Test {
protected:
    test::ScratchFolder folder{"liveview"};
    std::unique_ptr<TForm1> form;

    void SetUp() override {
        WriteRunFolder();
        form = std::make_unique<TForm1>();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
        ASSERT_TRUE(QTest::qWaitFor([&] { return form->Race().Log.Size() == 6; }, 5000));
        form->FrameTimer().stop();  // frames are drawn on demand below
    }
    void TearDown() override {
        form->Link().Disconnect();
        form.reset();
    }

    QImage Frame() { return form->Panel().grabFramebuffer().convertToFormat(QImage::Format_RGB888); }

    // The pixel where world point (x, y, 0) appears with the camera as it is.
    QPoint ScreenOf(float x, float y) const {
        const Camera& c = form->View();
        const double w = form->Panel().width(), h = form->Panel().height();
        const double t = std::tan(22.5 * M_PI / 180);
        const double nx = (x - c.CameraX) / c.CameraDistance / (t * w / h);
        const double ny = (y - c.CameraY) / c.CameraDistance / t;
        return QPoint(static_cast<int>((nx + 1) / 2 * w), static_cast<int>((1 - ny) / 2 * h));
    }

    PlayerRecord& AddPlayer(int slot, float x, float y, float heading, const char* name) {
        RaceState& race = form->Race();
        race.PlayerCount = std::max(race.PlayerCount, slot + 1);
        PlayerRecord& p = race.Players[slot];
        p.DrawX = x;
        p.DrawY = y;
        p.DrawHeading = heading;
        p.DrawSpeed = 88;
        std::strcpy(p.Name, name);
        std::strcpy(p.Car, "XF GTI");
        return p;
    }

    // Pixels within the rectangle of world corners whose colour is near `rgb`.
    int CountNear(const QImage& image, float x0, float y0, float x1, float y1, QColor rgb, int tolerance = 12) {
        const QPoint a = ScreenOf(x0, y1), b = ScreenOf(x1, y0);
        int n = 0;
        for (int y = std::max(a.y(), 0); y <= std::min(b.y(), image.height() - 1); ++y)
            for (int x = std::max(a.x(), 0); x <= std::min(b.x(), image.width() - 1); ++x) {
                const QColor p = image.pixelColor(x, y);
                if (std::abs(p.red() - rgb.red()) <= tolerance && std::abs(p.green() - rgb.green()) <= tolerance &&
                    std::abs(p.blue() - rgb.blue()) <= tolerance)
                    ++n;
            }
        return n;
    }
};

bool Near(QColor a, QColor b, int tolerance = 3) {
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance &&
           std::abs(a.blue() - b.blue()) <= tolerance;
}

TEST_F(LiveView, StartsWithTheGreetingTheDesignSizeAndAFourThreeShape) {
    EXPECT_EQ(form->windowTitle(), "Gridscope");
    EXPECT_EQ(form->Race().Log.At(0), "Gridscope v. 2.02");
    EXPECT_EQ(form->Race().Log.Newest(), "Have fun!");
    EXPECT_EQ(form->Panel().width(), 792);
    EXPECT_EQ(form->Panel().height(), 572);
    EXPECT_EQ(form->Track().Mesh.ObjectCount(), 1);
    form->resize(892, 300);
    QTest::qWait(50);
    EXPECT_EQ(form->height(), 647);  // 900 outer wide: 675 high, less the frame's 28
    EXPECT_EQ(form->Panel().width(), 892);
    EXPECT_EQ(form->Panel().height(), 647);
}

TEST_F(LiveView, BackgroundAndTrackColours) {
    form->Track().Mesh.Objects[0].Visible = 1;
    QImage frame = Frame();
    // The square covers the centre of the view; the view's lower corners
    // show the dark green background.
    EXPECT_TRUE(Near(frame.pixelColor(ScreenOf(0, -5)), QColor(200, 0, 0)));
    EXPECT_TRUE(Near(frame.pixelColor(20, frame.height() - 20), QColor(26, 51, 26)));
    // An object flagged hidden is not drawn.
    form->Track().Mesh.Objects[0].Visible = 0;
    frame = Frame();
    EXPECT_TRUE(Near(frame.pixelColor(ScreenOf(0, -5)), QColor(26, 51, 26)));
}

TEST_F(LiveView, CarIconIsTintedTurnedAndSized) {
    form->Options().IconSize = 50;  // a = 0.9, b = 1.8 world units at distance 100
    form->Options().ShowNames = 0;
    form->Options().ShowSpeed = 0;
    AddPlayer(3, 20, 5, 0, "Cat");
    const Rgb tint = PlayerColour(3);
    const QColor expected(int(tint.r * 255 + 0.5), int(tint.g * 255 + 0.5), int(tint.b * 255 + 0.5));
    QImage frame = Frame();
    EXPECT_TRUE(Near(frame.pixelColor(ScreenOf(20, 5)), expected));
    EXPECT_TRUE(Near(frame.pixelColor(ScreenOf(20, 6.4f)), expected));   // long along y
    EXPECT_FALSE(Near(frame.pixelColor(ScreenOf(21.4f, 5)), expected));  // narrow along x

    form->Race().Players[3].DrawHeading = static_cast<float>(M_PI / 2);  // turned by 89.5 degrees
    frame = Frame();
    EXPECT_TRUE(Near(frame.pixelColor(ScreenOf(21.4f, 5)), expected));
    EXPECT_FALSE(Near(frame.pixelColor(ScreenOf(20, 6.4f)), expected));

    form->Options().IconSize = 0;  // vanishes
    frame = Frame();
    EXPECT_FALSE(Near(frame.pixelColor(ScreenOf(20, 5)), expected));
}

TEST_F(LiveView, NameLabelOnlyWhenShownOrFollowed) {
    AddPlayer(0, 25, 0, 0, "WWWWWW");
    form->Options().IconSize = 2;
    form->Options().ShowSpeed = 0;
    // Labels sit below the car: 1.6 and 2.4 text units of about 2.15 world
    // units each at the default camera.
    auto labelPixels = [&](QColor colour) { return CountNear(Frame(), 19, -6, 31, -1.5f, colour, 8); };
    form->Options().ShowNames = 0;
    EXPECT_EQ(labelPixels(QColor(204, 204, 204)), 0);
    form->Options().ShowNames = 1;
    EXPECT_GT(labelPixels(QColor(204, 204, 204)), 20);  // light grey for others
    EXPECT_EQ(labelPixels(QColor(255, 255, 255)), 0);
    form->Options().ShowNames = 0;
    form->Race().FollowIndex = 0;  // the followed car is labelled in white
    const int white = labelPixels(QColor(255, 255, 255));
    EXPECT_GT(white, 20);
    EXPECT_FLOAT_EQ(form->View().CameraX, 25);  // and the camera follows it
}

TEST_F(LiveView, CarsOutsideTheViewStillShowTheLabelsThatReachIntoIt) {
    form->Options().IconSize = 2;
    form->Options().ShowNames = 1;
    form->Options().ShowSpeed = 0;
    // 3 units beyond the left edge (57.35 units out at the default camera);
    // the long centred name reaches about 12 units either side of the car.
    AddPlayer(0, -60.35f, -20, 0, "WWWWWWWWWWWW");
    const QColor grey(204, 204, 204);
    EXPECT_GT(CountNear(Frame(), -57, -25, -48, -21, grey, 8), 20);
    form->Race().Players[0].DrawX = -90;  // now all of it is out of view
    EXPECT_EQ(CountNear(Frame(), -57, -25, -48, -21, grey, 8), 0);
}

}  // namespace
}  // namespace gs
