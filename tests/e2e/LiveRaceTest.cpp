// The program's forms in this process, under Xvfb, against the project's race
// server and relay running as real processes on loopback: the toolbar is
// clicked at its hit rectangles, frames are read back from the GL panel, and
// the race state, log and caption are checked as a spectator sees them.
#include <QApplication>
#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "app/Forms.h"
#include "e2e/E2ESupport.h"
#include "support/Toolbar.h"

namespace gs {
namespace {

using test::ChildProcess;

class LiveRace : public ::testing::Test {
protected:
    test::E2ERunFolder folder{"liverace"};
    std::unique_ptr<ChildProcess> server;
    std::unique_ptr<Forms> forms;
    MainWindow* form = nullptr;
    ServerWindow* serverWindow = nullptr;

    void StartProgram(int port) {
        folder.WriteSettings(port);
        forms = std::make_unique<Forms>();
        form = &forms->form;
        serverWindow = &forms->serverWindow;
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form));
        ASSERT_TRUE(QTest::qWaitFor([&] { return form->Race().Log.Size() >= 6; }, 5000));
    }
    void TearDown() override {
        if (form) form->close();
        forms.reset();
    }

    void ClickToolbar(ToolbarButton button) { test::ClickToolbar(form->Panel(), button); }
    bool WaitForLog(const std::string& fragment, int ms) {
        return QTest::qWaitFor(
            [&] {
                const MessageLog& log = form->Race().Log;
                for (std::size_t i = 0; i < log.Size(); ++i)
                    if (log.At(i).find(fragment) != std::string::npos) return true;
                return false;
            },
            ms);
    }
    QImage Frame() { return form->Panel().grabFramebuffer().convertToFormat(QImage::Format_RGB888); }
    static int Differing(const QImage& a, const QImage& b) {
        int n = 0;
        for (int y = 0; y < a.height(); y += 2)
            for (int x = 0; x < a.width(); x += 2)
                if (a.pixel(x, y) != b.pixel(x, y)) ++n;
        return n;
    }
};

TEST_F(LiveRace, ConnectWatchLapsTrackChangeAndDisconnect) {
    server = test::StartRaceServer({"--cars", "20", "--laps", "1", "--sessions", "race", "--track", "BL1",
                                    "--time-scale", "12", "--track-change", "1", "--seed", "5"});
    const int port = server->ListeningPort();
    ASSERT_NE(port, 0) << server->Output();
    StartProgram(port);

    ClickToolbar(tbConnect);
    EXPECT_EQ(form->Race().Log.Newest(), "Connecting");
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->windowTitle().contains("connected to"); }, 10000));
    EXPECT_TRUE(form->windowTitle().startsWith(QString("Gridscope  -  connected to ") + test::DemoServerName));
    EXPECT_TRUE(WaitForLog(std::string("Connected to Server : ") + test::DemoServerName, 1000));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return form->Race().PlayerCount == 20 && form->Race().Players[19].Name[0]; }, 10000));
    EXPECT_STREQ(form->Race().TrackCode, "BL1");

    // Follow the first car: the view moves with it from frame to frame.
    QTest::keyClick(form, Qt::Key_Tab);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Race().FollowIndex == 0; }, 8000));
    QTest::qWait(1500);
    const QImage before = Frame();
    const float x0 = form->Race().Players[0].DrawX, y0 = form->Race().Players[0].DrawY;
    // About a second of racing; longer when the machine is busy and the
    // samples come late.
    const auto moved = [&] {
        return std::hypot(form->Race().Players[0].DrawX - x0, form->Race().Players[0].DrawY - y0);
    };
    QTest::qWait(1000);
    EXPECT_TRUE(QTest::qWaitFor([&] { return moved() > 1.0f; }, 8000)) << "moved " << moved();
    const QImage after = Frame();
    EXPECT_GT(Differing(before, after), 5000);

    // Laps, the race's end, and the next session on another track.
    EXPECT_TRUE(WaitForLog("finishes Lap 1 in", 30000));
    EXPECT_TRUE(WaitForLog("Race End", 30000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::strcmp(form->Race().TrackCode, "BL1") != 0; }, 30000));
    EXPECT_GT(form->Track().Mesh.ObjectCount(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->windowTitle().contains("Laps Race on"); }, 30000));

    ClickToolbar(tbConnect);  // again while live: disconnect
    EXPECT_EQ(form->Race().Log.Newest(), std::string("Disconnected from ") + test::DemoServerName);
    EXPECT_EQ(form->windowTitle(), "Gridscope");
    EXPECT_EQ(form->Link().LinkState, lsIdle);
}

TEST_F(LiveRace, ThroughTheRelayListSpectateWithAPasswordAndWatch) {
    server = test::StartRaceServer({"--cars", "6", "--seed", "9"});
    const int racePort = server->ListeningPort();
    ASSERT_NE(racePort, 0) << server->Output();
    const std::string upstream = "127.0.0.1:" + std::to_string(racePort) + "|demo";
    ChildProcess relay({GRIDSCOPE_RELAY, "--port", "0", "--server", "^1Grid^7scope ^3Demo|6||" + upstream, "--server",
                        "^3Locked ^7Room|6|sesame|" + upstream, "--server", "Listed ^2Only|3"});
    const int relayPort = relay.ListeningPort();
    ASSERT_NE(relayPort, 0) << relay.Output();
    StartProgram(relayPort);

    ClickToolbar(tbServerList);  // waits a second, then asks the relay
    EXPECT_TRUE(serverWindow->isVisible());
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Servers().received == 3; }, 5000));
    EXPECT_EQ(form->Link().LinkState, lsRelayList);
    EXPECT_EQ(serverWindow->Cell(0, 1).toStdString(), test::DemoServerName);
    EXPECT_EQ(serverWindow->Cell(0, 2).toStdString(), "Locked Room");
    EXPECT_EQ(serverWindow->Cell(2, 2).toStdString(), "p");

    serverWindow->serverGrid->selectRow(1);
    serverWindow->passwordEdit->setText("wrong");
    QTest::mouseClick(serverWindow->spectateButton, Qt::LeftButton);
    EXPECT_FALSE(serverWindow->isVisible());
    EXPECT_TRUE(WaitForLog("Wrong Spectator Password", 5000));
    EXPECT_EQ(form->Link().LinkState, lsRelayList);

    form->GetServerListCommand();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Servers().received == 3; }, 5000));
    serverWindow->serverGrid->selectRow(1);
    serverWindow->passwordEdit->setText("sesame");
    serverWindow->OnSpectateClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Link().LinkState >= lsLive; }, 10000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return form->Race().PlayerCount == 6; }, 10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->windowTitle().contains("connected to"); }, 10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return form->Race().Players[0].SampleCount >= 3; }, 5000));
}

TEST_F(LiveRace, AFullRelayIsReportedAndEndsTheConnection) {
    ChildProcess relay({GRIDSCOPE_RELAY, "--port", "0", "--max-clients", "0", "--server", "Anything|1"});
    const int relayPort = relay.ListeningPort();
    ASSERT_NE(relayPort, 0) << relay.Output();
    StartProgram(relayPort);
    ClickToolbar(tbServerList);
    EXPECT_TRUE(WaitForLog("Relay Server Full", 5000));
    EXPECT_EQ(form->Race().Log.Newest(), "Connection Timed Out");
    EXPECT_EQ(form->Link().LinkState, lsIdle);
    serverWindow->OnCloseClick();
}

}  // namespace
}  // namespace gs
