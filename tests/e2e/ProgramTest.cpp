// The Gridscope program as built, started in a scratch run folder under the
// test's X server: found by its window, clicked with xdotool at the toolbar's
// hit rectangles, watched through screenshots of its window.
#include <QImage>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "e2e/E2ESupport.h"
#include "view/SceneText.h"

namespace gs {
namespace {

using test::ChildProcess;

std::string Sh(const std::string& command) {
    std::string out;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe)) out += buffer;
        pclose(pipe);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void Sleep(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

class Program : public ::testing::Test {
protected:
    test::E2ERunFolder folder{"program"};
    std::unique_ptr<ChildProcess> program;
    std::string window;

    // Starts the program and waits for its main window, the largest window
    // of its process (Qt keeps small helper windows too).
    void Start() {
        program = std::make_unique<ChildProcess>(std::vector<std::string>{GRIDSCOPE_PROGRAM}, folder.Path());
        for (int tries = 0; tries < 100 && window.empty(); ++tries) {
            Sleep(100);
            std::istringstream ids(
                Sh("xdotool search --onlyvisible --pid " + std::to_string(program->Pid()) + " 2>/dev/null"));
            std::string id;
            int best = 0;
            while (ids >> id) {
                const std::string size = Sh("xdotool getwindowgeometry " + id + " | sed -n 's/.*Geometry: //p'");
                const int area = std::atoi(size.c_str()) * std::atoi(size.substr(size.find('x') + 1).c_str());
                if (area > best) {
                    best = area;
                    window = id;
                }
            }
        }
        ASSERT_FALSE(window.empty()) << "no window appeared";
        Sleep(500);  // the first frames
    }
    std::string Title() { return Sh("xdotool getwindowname " + window); }
    // Clicks a toolbar button of the 792 x 572 panel at the window's origin,
    // with the X server's own pointer.
    void ClickToolbar(ToolbarButton k) {
        const int pw = 792, ph = 572;
        const int x = static_cast<int>(pw / 28 + (static_cast<int>(k) + 0.5) * pw * 5.0 / 27);
        const int y = ph * 14 / 445;
        Sh("xdotool mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y) +
           " sleep 0.2 click 1");
    }
    QImage Screenshot() {
        const std::string file = folder.Path() + "/shot.png";
        Sh("import -window " + window + " " + file);
        return QImage(QString::fromStdString(file)).convertToFormat(QImage::Format_RGB888);
    }
    bool WaitForTitle(const std::string& fragment, int ms) {
        for (int waited = 0; waited < ms; waited += 100) {
            if (Title().find(fragment) != std::string::npos) return true;
            Sleep(100);
        }
        return false;
    }
};

TEST_F(Program, StartsAndExitsWritingBackTheSettingsItRead) {
    const std::string written = folder.WriteSettings(29999, "pass word");
    Start();
    EXPECT_EQ(Title(), "Gridscope");
    const QImage shot = Screenshot();
    ASSERT_FALSE(shot.isNull());
    EXPECT_EQ(shot.width(), 792);
    EXPECT_EQ(shot.height(), 572);
    ClickToolbar(tbExit);
    EXPECT_EQ(program->Wait(5000), 0);
    EXPECT_EQ(ReadFile(folder.Path() + "/Gridscope.ini"), written);
}

TEST_F(Program, ConnectsToTheRaceServerAndShowsTheRaceMoving) {
    auto server = test::StartRaceServer({"--cars", "20", "--track", "AS1", "--sessions", "race", "--seed", "3"});
    const auto serverStarted = std::chrono::steady_clock::now();
    const int port = server->ListeningPort();
    ASSERT_NE(port, 0) << server->Output();
    folder.WriteSettings(port);
    Start();
    ClickToolbar(tbConnect);
    ASSERT_TRUE(WaitForTitle(std::string("connected to ") + test::DemoServerName, 10000)) << Title();
    // The cars stand on the grid until the race starts, 5 seconds after the
    // server did (perhaps before the program connected, on a slow machine).
    std::this_thread::sleep_until(serverStarted + std::chrono::seconds(7));

    // Follow a car: the picture changes from one screenshot to the next.
    // Keys go to the window with the input focus (there is no window manager
    // to activate it): focus it, then type Tab through the XTEST extension.
    Sh("xdotool windowfocus --sync " + window);
    Sleep(300);
    Sh("xdotool key Tab");
    Sleep(1500);
    const QImage a = Screenshot();
    Sleep(700);
    const QImage b = Screenshot();
    ASSERT_EQ(a.size(), b.size());
    int differing = 0;
    for (int y = 0; y < a.height(); y += 2)
        for (int x = 0; x < a.width(); x += 2)
            if (a.pixel(x, y) != b.pixel(x, y)) ++differing;
    EXPECT_GT(differing, 10000);  // the track scrolls under the followed car

    ClickToolbar(tbConnect);  // again: disconnect
    EXPECT_TRUE(WaitForTitle("Gridscope", 2000));
    EXPECT_EQ(Title(), "Gridscope");
    ClickToolbar(tbExit);
    EXPECT_EQ(program->Wait(5000), 0);
}

}  // namespace
}  // namespace gs
