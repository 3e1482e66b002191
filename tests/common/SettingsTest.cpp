#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "common/Settings.h"

namespace gs {
namespace {

class SettingsFile : public ::testing::Test {
protected:
    // One file per test process: the tests of this suite run side by side.
    std::string path = ::testing::TempDir() + "gridscope_settings_test_" + std::to_string(::getpid()) + ".ini";
    void TearDown() override { std::remove(path.c_str()); }
    void Write(const std::string& text) { std::ofstream(path) << text; }
    std::string Read() {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
};

TEST_F(SettingsFile, StartValuesWriteTheKnownFile) {
    WriteSettings(Settings{}, path);
    EXPECT_EQ(Read(), "(null)\n0\n(null)\n0\n0\n0\n0\n0\n0\n0\n");
}

TEST_F(SettingsFile, RoundTripKeepsEveryValueIncludingSpaces) {
    Settings s;
    s.ServerIP = "my server.example";
    s.InSimPort = 29999;
    s.AdminPassword = "pass word";
    s.ShowNames = 1;
    s.ShowSpeed = 7;  // flags are stored as they are
    s.SmoothMovement = 1;
    s.UseKmh = 0;
    s.AlwaysOnTop = 1;
    s.IconSize = -3;
    s.DesiredFps = 30;
    WriteSettings(s, path);
    EXPECT_EQ(Read(), "my server.example\n29999\npass word\n1\n7\n1\n0\n1\n-3\n30\n");
    Settings r;
    ReadSettings(r, path);
    EXPECT_EQ(r.ServerIP, "my server.example");
    EXPECT_EQ(r.InSimPort, 29999);
    EXPECT_EQ(r.AdminPassword, "pass word");
    EXPECT_EQ(r.ShowNames, 1);
    EXPECT_EQ(r.ShowSpeed, 7);
    EXPECT_EQ(r.SmoothMovement, 1);
    EXPECT_EQ(r.UseKmh, 0);
    EXPECT_EQ(r.AlwaysOnTop, 0);  // never on top at start
    EXPECT_EQ(r.IconSize, -3);
    EXPECT_EQ(r.DesiredFps, 30);
}

TEST_F(SettingsFile, TheServerAddressLosesItsBlanksThePasswordKeepsThem) {
    Write(" \t 10.0.0.1 \t\n29999\n  pw  \n");
    Settings s;
    ReadSettings(s, path);
    EXPECT_EQ(s.ServerIP, "10.0.0.1");
    EXPECT_EQ(s.AdminPassword, "  pw  ");
    Write("   \n");
    ReadSettings(s, path);
    EXPECT_EQ(s.ServerIP, "");
}

TEST_F(SettingsFile, NullTextsReadBackEmpty) {
    Write("(null)\n10\n(null)\n0\n0\n0\n0\n0\n2\n20\n");
    Settings s;
    s.ServerIP = "x";
    ReadSettings(s, path);
    EXPECT_EQ(s.ServerIP, "");
    EXPECT_EQ(s.AdminPassword, "");
    EXPECT_EQ(s.InSimPort, 10);
}

TEST_F(SettingsFile, MissingShortAndBadFilesLeaveValues) {
    Settings s;
    s.DesiredFps = 25;
    ReadSettings(s, path + ".missing");
    EXPECT_EQ(s.DesiredFps, 25);

    Write("10.0.0.1\r\nabc\r\npw\r\n1\r\n");  // a bad number and a short file
    s.InSimPort = 77;
    ReadSettings(s, path);
    EXPECT_EQ(s.ServerIP, "10.0.0.1");
    EXPECT_EQ(s.InSimPort, 77);
    EXPECT_EQ(s.AdminPassword, "pw");  // the bad line disturbs nothing after it
    EXPECT_EQ(s.ShowNames, 1);
    EXPECT_EQ(s.DesiredFps, 25);

    Write("h\n99999999999\n" + std::string(300, 'p') + "\n");
    ReadSettings(s, path);
    EXPECT_EQ(s.InSimPort, 77);                         // out of range: unchanged
    EXPECT_EQ(s.AdminPassword, std::string(127, 'p'));  // cut to 127
}

TEST(FrameRate, BelowOneUsesTwentyAndKeepsTheSetting) {
    Settings s;
    EXPECT_EQ(FrameInterval(s), 50);
    s.DesiredFps = -5;
    EXPECT_EQ(EffectiveFps(s), 20);
    s.DesiredFps = 30;
    EXPECT_EQ(FrameInterval(s), 33);
    s.DesiredFps = 7;
    EXPECT_EQ(FrameInterval(s), 142);
    // Above 1000 frames a second the interval stays at 1 ms: 0 would spin.
    for (int fps : {1000, 1001, 5000, 2147483647}) {
        s.DesiredFps = fps;
        EXPECT_EQ(FrameInterval(s), 1) << fps;
    }
}

}  // namespace
}  // namespace gs
