// The real main window under Xvfb with Mesa: frames are read back from the
// GL panel and checked pixel by pixel. The run folder is a scratch folder
// with hand-made bitmaps and a hand-made track, so every colour is known.
#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <fstream>
#include <thread>

#include "app/About.h"
#include "app/MainWindow.h"
#include "app/ServerWindow.h"
#include "app/SettingsDialog.h"
#include "render/Textures.h"
#include "support/LoopbackPeer.h"
#include "support/TestFiles.h"
#include "support/Toolbar.h"
#include "view/SceneText.h"

namespace gs {
namespace {

using test::Pixel;

// Writes all 43 bitmaps (car images and masks plain white, so an icon is its
// player's colour exactly; toolbar grey; HUD bar black over a white mask, so
// it adds nothing) and an "AS1" track with one red square around the origin.
void WriteRunFolder() {
    for (const char* file : TextureFiles) {
        const std::string name = file;
        Pixel colour{255, 255, 255};
        if (name == "getlist.bmp" || name == "connect.bmp" || name == "settings.bmp" || name == "about.bmp" ||
            name == "exit.bmp")
            colour = {128, 128, 128};
        // The HUD bar: a blue band along its lower quarter, nothing elsewhere.
        if (name == "hud_bar.bmp" || name == "hud_bar_mask.bmp") {
            const bool bar = name == "hud_bar.bmp";
            test::WriteBmp24(name, 16, 32, [bar](int, int y) {
                const bool band = y >= 24;  // the picture's bottom rows
                return bar ? (band ? Pixel{0, 0, 255} : Pixel{0, 0, 0})
                           : (band ? Pixel{0, 0, 0} : Pixel{255, 255, 255});
            });
            continue;
        }
        test::WriteBmp24(name, 16, 32, [colour](int, int) { return colour; });
    }
    // The track: one object, a square of 20 world units around the origin in
    // red 200, written byte by byte. Coordinates are little-endian signed
    // 32-bit counts of 1/65536 m: 0xFFCE0000 is -3276800 (-10 world units),
    // 0x00320000 is +10, the radius 0x004B0000 is 15.
    std::vector<std::uint8_t> mesh = {'L', 'F', 'S', 'S', 'M', 'X', 0, 0, 0, 3, 0, 1};
    mesh.resize(60, 0);
    mesh.insert(mesh.end(), {1, 0, 0, 0});  // one object
    mesh.insert(mesh.end(), {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x4B, 0, 4, 0, 0, 0, 2, 0, 0, 0});
    const std::uint8_t minus10[] = {0, 0, 0xCE, 0xFF}, plus10[] = {0, 0, 0x32, 0};
    for (const auto& [x, y] : {std::pair{minus10, minus10}, {plus10, minus10}, {plus10, plus10}, {minus10, plus10}}) {
        mesh.insert(mesh.end(), x, x + 4);
        mesh.insert(mesh.end(), y, y + 4);
        mesh.insert(mesh.end(), {0, 0, 0, 0, /* blue, green, red, alpha */ 0, 0, 200, 0xFF});
    }
    mesh.insert(mesh.end(), {0, 0, 1, 0, 2, 0, 0, 0, 0, 0, 2, 0, 3, 0, 0, 0});
    test::WriteAll("files/Aston_3DH.smx", mesh);
    test::WritePathFile("files/AS1.pth", 300, 0);
}

// Pixels near `rgb` between the top left and bottom right corners given.
int CountNearIn(const QImage& image, QPoint topLeft, QPoint bottomRight, QColor rgb, int tolerance) {
    int n = 0;
    for (int y = std::max(topLeft.y(), 0); y <= std::min(bottomRight.y(), image.height() - 1); ++y)
        for (int x = std::max(topLeft.x(), 0); x <= std::min(bottomRight.x(), image.width() - 1); ++x) {
            const QColor p = image.pixelColor(x, y);
            if (std::abs(p.red() - rgb.red()) <= tolerance && std::abs(p.green() - rgb.green()) <= tolerance &&
                std::abs(p.blue() - rgb.blue()) <= tolerance)
                ++n;
        }
    return n;
}

class LiveView : public ::testing::Test {
protected:
    test::ScratchFolder folder{"liveview"};
    std::unique_ptr<MainWindow> form;

    void SetUp() override {
        WriteRunFolder();
        form = std::make_unique<MainWindow>();
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

    // The pixel of the frame (in device pixels) where world point (x, y, 0)
    // appears with the camera as it is.
    QPoint ScreenOf(float x, float y) const {
        const Camera& c = form->View();
        const double scale = form->Panel().devicePixelRatio();
        const double w = form->Panel().width() * scale, h = form->Panel().height() * scale;
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

    void ClickToolbar(ToolbarButton button) { test::ClickToolbar(form->Panel(), button); }

    // Pixels near `rgb` within the rectangle of world corners.
    int CountNear(const QImage& image, float x0, float y0, float x1, float y1, QColor rgb, int tolerance = 12) {
        return CountNearIn(image, ScreenOf(x0, y1), ScreenOf(x1, y0), rgb, tolerance);
    }
};

// The pixel of eye-space point (x, y) on the plane z = -depth.
QPoint EyeToPixel(const QImage& image, double x, double y, double depth) {
    const double half = depth * std::tan(22.5 * M_PI / 180);
    const double aspect = static_cast<double>(image.width()) / image.height();
    return QPoint(static_cast<int>((x / (half * aspect) + 1) / 2 * image.width()),
                  static_cast<int>((1 - y / half) / 2 * image.height()));
}

// Pixels near `rgb` in the eye-space box [x0, x1] × [y0, y1] at `depth`.
int CountInEyeBox(const QImage& image, double depth, double x0, double y0, double x1, double y1, QColor rgb,
                  int tolerance = 6) {
    return CountNearIn(image, EyeToPixel(image, x0, y1, depth), EyeToPixel(image, x1, y0, depth), rgb, tolerance);
}

QColor ToColor(const Rgb& c) { return QColor(int(c.r * 255 + 0.5), int(c.g * 255 + 0.5), int(c.b * 255 + 0.5)); }

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

// Also run on a desktop scaled to 2 (QT_SCALE_FACTOR=2, a test run of its
// own): GL draws in device pixels, while the pointer and the toolbar stay in
// logical ones, so the picture fills the panel as at scale 1.
TEST_F(LiveView, TheWholePanelIsDrawnAtTheDesktopsScaleAndTheToolbarAnswersWhereItShows) {
    const qreal scale = form->Panel().devicePixelRatio();
    std::printf("device pixel ratio %.2f\n", scale);
    form->Track().Mesh.Objects[0].Visible = 1;
    const QImage frame = Frame();
    ASSERT_EQ(frame.size(), form->Panel().size() * scale);
    // The red square of 20 world units is centred in the whole frame.
    int left = frame.width(), right = -1, top = frame.height(), bottom = -1;
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
            if (Near(frame.pixelColor(x, y), QColor(200, 0, 0), 8))
                left = std::min(left, x), right = std::max(right, x), top = std::min(top, y),
                bottom = std::max(bottom, y);
    ASSERT_GE(right, left);
    EXPECT_NEAR((left + right) / 2.0, frame.width() / 2.0, frame.width() * 0.01);
    EXPECT_NEAR((top + bottom) / 2.0, frame.height() / 2.0, frame.height() * 0.02);
    EXPECT_NEAR(right - left + 1, ScreenOf(10, 0).x() - ScreenOf(-10, 0).x(), 3 * scale);
    // The toolbar's grey buttons run along the top edge, across the width.
    const int bandY = frame.height() * 14 / 445;
    for (int k = 0; k < 5; ++k) {
        const int x = static_cast<int>(frame.width() / 28.0 + frame.width() * 5.0 / 27 * (k + 0.5));
        EXPECT_TRUE(Near(frame.pixelColor(x, bandY), QColor(128, 128, 128), 40)) << "button " << k;
    }

    // Connect, clicked where it shows, connects: to a short dotted address,
    // which names 127.0.0.1 as the classic resolver reads it.
    test::LoopbackPeer server;
    form->Options().ServerIP = "127.1";
    form->Options().InSimPort = server.Port();
    ClickToolbar(tbConnect);
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->Link().LinkState == lsHelloSent; }, 2000));
    ASSERT_EQ(server.ReceiveAll(1000).size(), 1u);

    // Exit says goodbye to the server before the settings file is written:
    // the file is a pipe, so the writer waits at it until it is read, and
    // the goodbye must be there by then.
    ASSERT_EQ(::mkfifo("Gridscope.ini", 0600), 0);
    std::string written;
    std::size_t byeBeforeSettings = 0;
    std::atomic<bool> read{false};
    std::thread reader([&] {
        std::ifstream in("Gridscope.ini");  // returns once the program opens it
        byeBeforeSettings = server.ReceiveAll(0).size();
        written.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        read = true;
    });
    ClickToolbar(tbExit);
    if (!QTest::qWaitFor([&] { return read.load(); }, 5000)) {
        ADD_FAILURE() << "the settings file was not written";
        ::close(::open("Gridscope.ini", O_WRONLY | O_NONBLOCK));  // lets the reader go
    }
    reader.join();
    EXPECT_EQ(byeBeforeSettings, 1u);
    EXPECT_EQ(written.substr(0, 6), "127.1\n");
    EXPECT_EQ(form->Link().LinkState, lsIdle);
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

TEST_F(LiveView, StandingsRowsInOrderWithTheirColoursAndTheOverlay) {
    RaceState& race = form->Race();
    race.RaceMode = rmRace;
    // Fourteen players far from the view; slot k is on lap k, so slot 13 leads
    // and row r shows slot 13 - r.
    for (int k = 0; k < 14; ++k) {
        PlayerRecord& p = AddPlayer(k, 5000, 5000, 0, "MMMM");
        p.Name[0] = static_cast<char>('A' + k);
        p.Lap = k;
    }
    form->Options().ShowNames = 0;
    form->View().CameraX = -3000;  // nothing but background behind the panels
    const QImage frame = Frame();
    // Row r's driver cell: x from 8.4, baseline at y = 15.6 - 0.75 r, in
    // the plane z = -50; the glyphs rise about 0.55 above it at scale 0.8.
    auto rowBox = [&](int r, const QColor& colour) {
        const double base = 15.6 - 0.75 * r;
        return CountInEyeBox(frame, 50, 8.4, base + 0.05, 11.5, base + 0.5, colour);
    };
    for (int r = 0; r < 12; ++r) {
        const int expected = rowBox(r, ToColor(PlayerColour(13 - r)));
        EXPECT_GT(expected, 8) << "row " << r;
        for (int other = 0; other < 14; ++other) {
            if (other == 13 - r || ToColor(PlayerColour(other)) == ToColor(PlayerColour(13 - r))) continue;
            EXPECT_LT(rowBox(r, ToColor(PlayerColour(other))), expected) << "row " << r << " slot " << other;
        }
    }
    EXPECT_EQ(rowBox(12, ToColor(PlayerColour(1))), 0);  // twelve rows a page

    // With names shown, the rows are black.
    form->Options().ShowNames = 1;
    const QImage named = Frame();
    EXPECT_GT(CountInEyeBox(named, 50, 8.4, 15.65, 11.5, 16.1, QColor(0, 0, 0)), 8);
    EXPECT_EQ(CountInEyeBox(named, 50, 8.4, 15.65, 11.5, 16.1, ToColor(PlayerColour(13))), 0);

    // The translucent panels: white at 64 % over the dark green.
    const QColor panel(int(0.64 * 255 + 0.36 * 25.5 + 0.5), int(0.64 * 255 + 0.36 * 51 + 0.5),
                       int(0.64 * 255 + 0.36 * 25.5 + 0.5));
    EXPECT_TRUE(Near(named.pixelColor(EyeToPixel(named, -0.5, 0.2, 1)), panel, 4));
    EXPECT_TRUE(Near(named.pixelColor(EyeToPixel(named, 0.5, 0.2, 1)), panel, 4));
    EXPECT_TRUE(Near(named.pixelColor(EyeToPixel(named, 0, 0.2, 1)), QColor(26, 51, 26)));  // between them
    // The HUD bar's band, through its mask, and a toolbar button above it.
    EXPECT_TRUE(Near(named.pixelColor(EyeToPixel(named, 0, 0.11, 1)), QColor(0, 0, 255)));
    EXPECT_FALSE(Near(named.pixelColor(EyeToPixel(named, 0, 0.39, 1)), QColor(26, 51, 26), 20));
}

TEST_F(LiveView, ALeaderInAHighSlotGetsTheFirstRow) {
    RaceState& race = form->Race();
    race.RaceMode = rmRace;
    for (int k = 0; k < 24; ++k) AddPlayer(k, 5000, 5000, 0, "MMMM").Lap = 1;
    race.Players[22].Lap = 9;  // the leader sits in slot 22
    form->Options().ShowNames = 0;
    form->View().CameraX = -3000;
    const QImage frame = Frame();
    const QColor leader = ToColor(PlayerColour(22));
    EXPECT_GT(CountInEyeBox(frame, 50, 8.4, 15.65, 11.5, 16.1, leader), 8);
    EXPECT_EQ(CountInEyeBox(frame, 50, 8.4, 15.65, 11.5, 16.1, ToColor(PlayerColour(0))), 0);
}

TEST_F(LiveView, NewestLogLineAtTheBottomAndTheLogTrimmedToThirteen) {
    RaceState& race = form->Race();
    for (int i = 0; i < 9; ++i) race.AddMessage("line %d", i);
    race.AddMessage("%s", std::string(20, 'W').c_str());
    ASSERT_EQ(race.Log.Size(), 16u);
    Frame();
    EXPECT_EQ(race.Log.Size(), 15u);  // one entry per frame
    Frame();
    const QImage frame = Frame();
    ASSERT_EQ(race.Log.Size(), 13u);
    EXPECT_EQ(race.Log.Oldest(), "See readme.txt for more information");
    // Line i (from 0, the oldest) has its baseline at y = 17.6 - 0.9 (i + 1).
    const double newest = 17.6 - 0.9 * 13, below = newest - 0.9;
    EXPECT_GT(CountInEyeBox(frame, 50, -28, newest + 0.05, -16, newest + 0.6, QColor(0, 0, 0)), 40);
    EXPECT_EQ(CountInEyeBox(frame, 50, -28, below + 0.05, -16, below + 0.6, QColor(0, 0, 0)), 0);
}

TEST_F(LiveView, CachedLogAndStandingsEqualTheGlyphsDrawnOneByOne) {
    RaceState& race = form->Race();
    race.RaceMode = rmRace;
    for (int k = 0; k < 14; ++k) {
        PlayerRecord& p = AddPlayer(k, static_cast<float>(k * 3 - 20), static_cast<float>(k % 5), 0, "Driver");
        p.Name[6] = static_cast<char>('A' + k);
        p.Lap = k % 4;
        p.BestMin = 1, p.BestSec = k, p.BestHund = 7 * k;
    }
    race.AddMessage("Connected to Server : Gridscope Demo");
    // Names off gives every standings row its player's colour.
    for (const int names : {0, 1}) {
        form->Options().ShowNames = names;
        form->Scene().cacheText = true;
        Frame();
        const QImage cached = Frame();
        form->Scene().cacheText = false;
        const QImage direct = Frame();
        form->Scene().cacheText = true;
        EXPECT_EQ(cached, direct) << "names " << names;
    }
    // A new log line is drawn anew into the picture, and only the log's.
    const int log = form->Scene().logText.Rebuilds(), standings = form->Scene().standingsText.Rebuilds();
    Frame();
    EXPECT_EQ(form->Scene().logText.Rebuilds(), log);
    race.AddMessage("Wolfgang Bauer finishes Lap 3 in 1:05.43");
    Frame();
    const QImage cached = Frame();
    EXPECT_EQ(form->Scene().logText.Rebuilds(), log + 1);
    EXPECT_EQ(form->Scene().standingsText.Rebuilds(), standings);
    form->Scene().cacheText = false;
    EXPECT_EQ(cached, Frame());
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
