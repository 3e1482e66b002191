// The settings dialog, the about box and the server list window, driven
// through Qt's test tools.
#include <QHeaderView>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>

#include "app/About.h"
#include "app/ServerWindow.h"
#include "app/SettingsDialog.h"
#include "common/Settings.h"
#include "connection/Connection.h"
#include "support/FakePlatform.h"

namespace gs {
namespace {

// Runs `edit` once the modal dialog is showing, then the dialog's exec.
template <typename Dialog, typename Edit>
int ExecWith(Dialog& dialog, Edit edit) {
    QTimer::singleShot(0, &dialog, [&] {
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&dialog));
        edit();
    });
    return dialog.exec();
}

Settings Sample() {
    Settings s;
    s.ServerIP = "10.1.2.3";
    s.InSimPort = 29999;
    s.AdminPassword = "pw";
    s.ShowNames = 1;
    s.ShowSpeed = 0;
    s.SmoothMovement = 1;
    s.UseKmh = 0;
    s.AlwaysOnTop = 0;
    s.IconSize = 3;
    s.DesiredFps = 25;
    return s;
}

bool Same(const Settings& a, const Settings& b) {
    return a.ServerIP == b.ServerIP && a.InSimPort == b.InSimPort && a.AdminPassword == b.AdminPassword &&
           a.ShowNames == b.ShowNames && a.ShowSpeed == b.ShowSpeed && a.SmoothMovement == b.SmoothMovement &&
           a.UseKmh == b.UseKmh && a.AlwaysOnTop == b.AlwaysOnTop && a.IconSize == b.IconSize &&
           a.DesiredFps == b.DesiredFps;
}

TEST(SettingsDialog, ShowsTheSettingsAndOkTakesThemWithFallbacks) {
    Settings s = Sample();
    SettingsDialog dialog(s, nullptr);
    ExecWith(dialog, [&] {
        EXPECT_EQ(dialog.IPEdit->text(), "10.1.2.3");
        EXPECT_EQ(dialog.PortEdit->text(), "29999");
        EXPECT_EQ(dialog.FpsEdit->text(), "25");
        EXPECT_TRUE(dialog.ShowNamesCheck->isChecked());
        EXPECT_FALSE(dialog.ShowSpeedCheck->isChecked());
        EXPECT_TRUE(dialog.InterpCheck->isChecked());
        dialog.PortEdit->setText("abc");
        dialog.SizeEdit->clear();
        dialog.FpsEdit->setText("0");
        dialog.IPEdit->setText("  race host \t");
        dialog.PWEdit->setText(" pw ");
        QTest::mouseClick(dialog.ShowSpeedCheck, Qt::LeftButton);
        QTest::mouseClick(dialog.okButton, Qt::LeftButton);
    });
    EXPECT_TRUE(dialog.SettingsAccepted);
    EXPECT_EQ(s.InSimPort, 10000);
    EXPECT_EQ(s.IconSize, 2);
    EXPECT_EQ(s.DesiredFps, 0);
    EXPECT_EQ(s.ServerIP, "race host");  // blanks around the address go
    EXPECT_EQ(s.ShowSpeed, 1);
    EXPECT_EQ(s.AdminPassword, " pw ");  // a password keeps its spaces

    ExecWith(dialog, [&] {
        dialog.FpsEdit->setText("99999999999");  // out of range
        dialog.SizeEdit->setText(" 7 ");
        QTest::mouseClick(dialog.okButton, Qt::LeftButton);
    });
    EXPECT_EQ(s.DesiredFps, 20);
    EXPECT_EQ(s.IconSize, 7);
}

TEST(SettingsDialog, CancelAndTheCloseBoxChangeNothing) {
    Settings s = Sample();
    SettingsDialog dialog(s, nullptr);
    ExecWith(dialog, [&] {
        dialog.PortEdit->setText("1");
        dialog.ShowNamesCheck->setChecked(false);
        QTest::mouseClick(dialog.cancelButton, Qt::LeftButton);
    });
    EXPECT_FALSE(dialog.SettingsAccepted);
    EXPECT_TRUE(Same(s, Sample()));
    ExecWith(dialog, [&] {
        dialog.IPEdit->setText("x");
        dialog.close();  // the window's close box
    });
    EXPECT_TRUE(Same(s, Sample()));
}

TEST(SettingsDialog, OnTopBoxIsDisabledAndItsStateKept) {
    Settings s = Sample();
    s.AlwaysOnTop = 1;
    SettingsDialog dialog(s, nullptr);
    ExecWith(dialog, [&] {
        EXPECT_FALSE(dialog.OnTopCheck->isEnabled());
        EXPECT_FALSE(dialog.onTopLabel->isEnabled());
        EXPECT_TRUE(dialog.OnTopCheck->isChecked());
        QTest::mouseClick(dialog.OnTopCheck, Qt::LeftButton);
        EXPECT_TRUE(dialog.OnTopCheck->isChecked());
        QTest::mouseClick(dialog.okButton, Qt::LeftButton);
    });
    EXPECT_EQ(s.AlwaysOnTop, 1);
}

TEST(SettingsDialog, LayoutAndCaptions) {
    Settings s;
    SettingsDialog dialog(s, nullptr);
    EXPECT_EQ(dialog.windowTitle(), "Settings");
    EXPECT_EQ(dialog.size(), QSize(596, 195));
    EXPECT_EQ(dialog.IPEdit->geometry().topLeft(), QPoint(104, 24));
    EXPECT_EQ(dialog.FpsEdit->geometry().topLeft(), QPoint(336, 52));
    EXPECT_EQ(dialog.okButton->geometry(), QRect(216, 152, 75, 25));
    EXPECT_EQ(dialog.showSpeedLabel->text(), "ShowDriver Speed");
    EXPECT_EQ(dialog.kmhLabel->text(), "Use Km/h For Speed Display");
    EXPECT_TRUE(dialog.ShowNamesCheck->text().isEmpty());
    EXPECT_EQ(dialog.okButton->nextInFocusChain(), dialog.cancelButton);
}

TEST(AboutBox, AnyClickClosesIt) {
    AboutBox about;
    EXPECT_EQ(about.windowTitle(), "About Gridscope");
    EXPECT_EQ(about.size(), QSize(242, 178));
    EXPECT_FALSE(about.windowFlags() & Qt::WindowCloseButtonHint);
    for (QLabel* target : {about.background, about.nameLabel, about.linkLabel, about.driversLabel}) {
        const int result =
            ExecWith(about, [&] { QTest::mouseClick(&about, Qt::LeftButton, {}, target->geometry().center()); });
        EXPECT_EQ(result, QDialog::Accepted);
    }
    EXPECT_EQ(about.versionLabel->text(), "Version 2.02");
    EXPECT_EQ(about.thanksLabel->text(), "Special Thanks to:");
}

// Every caption shows whole at its designed place: its text, measured with
// the control's own font, stays inside the dialog and clear of every other
// control, and a button's caption fits inside the button.
void ExpectCaptionsFit(QWidget& dialog) {
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    const QRect inside(QPoint(0, 0), dialog.size());
    std::vector<QWidget*> controls;
    for (QWidget* w : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        auto* label = qobject_cast<QLabel*>(w);
        if (label && !label->pixmap().isNull()) continue;  // the background picture
        controls.push_back(w);
    }
    int measured = 0;
    for (QWidget* w : controls) {
        QString text;
        QRect ink;
        if (auto* label = qobject_cast<QLabel*>(w)) {
            text = label->text();
            const int width = label->fontMetrics().horizontalAdvance(text);
            const int left =
                label->alignment() & Qt::AlignHCenter ? label->x() + (label->width() - width) / 2 : label->x();
            ink = QRect(left, label->y(), width, label->fontMetrics().height());
            EXPECT_LE(width, label->width()) << text.toStdString();
            EXPECT_LE(label->fontMetrics().height(), label->height() + 2) << text.toStdString();
        } else if (auto* button = qobject_cast<QPushButton*>(w)) {
            text = button->text();
            // Qt's buttons keep a few pixels of frame and margin each side.
            EXPECT_LE(button->fontMetrics().horizontalAdvance(text) + 12, button->width()) << text.toStdString();
            continue;
        } else {
            continue;
        }
        ++measured;
        EXPECT_TRUE(inside.contains(ink)) << text.toStdString();
        for (QWidget* other : controls) {
            if (other == w || qobject_cast<QLabel*>(other)) continue;
            EXPECT_FALSE(ink.intersects(other->geometry()))
                << text.toStdString() << " runs into " << other->metaObject()->className() << " at " << other->x()
                << "," << other->y();
        }
    }
    EXPECT_GT(measured, 0);
    // The dialogs' font: a small sans serif, 11 pixels at every scale.
    EXPECT_EQ(dialog.font().pixelSize(), 11);
}

// ------------------------------------------------------------- server window

class ServerWindowTest : public ::testing::Test {
protected:
    test::FakeClock clock;
    test::FakeTimer timer1, timer2;
    test::FakeSocket socket;
    test::RecordingShell shell;
    RaceState race;
    ServerList servers;
    Connection link{race, servers, ConnectionPorts{clock, timer1, timer2, socket, shell}};
    std::unique_ptr<ServerWindow> window;

    void SetUp() override {
        window = std::make_unique<ServerWindow>(link, servers);
        link.GetServerListOpen("relay", 1);
        link.OnPacketTick();
    }
    void Store(int count, const char* prefix = "^1Srv^7") {
        servers.total = servers.received = count;
        for (int i = 0; i < count; ++i) {
            std::snprintf(servers.names[i], ServerList::NameWidth, "%s%d", prefix, i);
            servers.players[i] = i;
            servers.flags[i] = i % 2;
        }
        window->FillGrid();
    }
};

// The three dialogs, the server list window with the fixture's connection.
class Dialogs : public ServerWindowTest {};

TEST_F(Dialogs, EveryCaptionFitsItsControlInTheDialogFont) {
    Settings s;
    SettingsDialog settings(s, nullptr);
    ExpectCaptionsFit(settings);
    AboutBox about;
    ExpectCaptionsFit(about);
    ServerWindow& window = *this->window;
    ExpectCaptionsFit(window);
    // The grid's column captions: their ink, after the 2-pixel inset, within
    // the column.
    const QHeaderView* header = window.serverGrid->horizontalHeader();
    EXPECT_FALSE(header->highlightSections());  // bold captions would not fit
    for (int column = 0; column < 3; ++column) {
        const QString text = window.Cell(column, 0);
        EXPECT_LE(2 + header->fontMetrics().boundingRect(text).right(), header->sectionSize(column))
            << text.toStdString();
    }
}

TEST_F(ServerWindowTest, RowCountColumnsAndTexts) {
    EXPECT_EQ(window->windowTitle(), "ServerWindow");
    EXPECT_EQ(window->RowCount(), 2);  // at least one data row
    EXPECT_EQ(window->Cell(0, 0), "Servername");
    EXPECT_EQ(window->Cell(2, 0), "Passwd");
    Store(14);
    EXPECT_EQ(window->RowCount(), 15);
    EXPECT_EQ(window->serverGrid->columnWidth(0), 358);
    Store(15);
    EXPECT_EQ(window->RowCount(), 16);
    EXPECT_EQ(window->serverGrid->columnWidth(0), 340);
    EXPECT_EQ(window->serverGrid->columnWidth(1), 70);
    EXPECT_EQ(window->serverGrid->columnWidth(2), 40);
    EXPECT_EQ(window->Cell(0, 3), "Srv2");
    EXPECT_EQ(window->Cell(1, 3), "2");
    EXPECT_EQ(window->Cell(2, 3), "");
    EXPECT_EQ(window->Cell(2, 4), "p");
    // Names are Windows-1252, as servers write them.
    Store(2,
          "\x80 \x93"
          "Fast\x94 \xC5sa");
    EXPECT_EQ(window->Cell(0, 2), QString::fromUtf8("\u20AC \u201CFast\u201D \u00C5sa1"));
}

TEST_F(ServerWindowTest, AnEmptyRefreshKeepsTheStaleRowAndSpectateDoesNothing) {
    Store(1, "Old");
    link.Refresh();
    window->FillGrid();
    EXPECT_EQ(window->RowCount(), 2);
    EXPECT_EQ(window->Cell(0, 1), "Old0");
    window->show();
    const std::size_t sent = socket.sent.size();
    QTest::mouseClick(window->spectateButton, Qt::LeftButton);
    EXPECT_EQ(socket.sent.size(), sent);
    EXPECT_TRUE(window->isVisible());
    window->OnServerGridDoubleClick();
    EXPECT_EQ(socket.sent.size(), sent);
}

TEST_F(ServerWindowTest, SpectateSendsTheSelectedRowsNameAsReceivedAndHides) {
    Store(3);
    window->show();
    window->serverGrid->selectRow(1);
    window->passwordEdit->setText("secret");
    QTest::mouseClick(window->spectateButton, Qt::LeftButton);
    ASSERT_FALSE(socket.sent.empty());
    const test::Bytes& hos = socket.sent.back();
    ASSERT_EQ(hos.size(), 60u);
    EXPECT_STREQ(reinterpret_cast<const char*>(&hos[4]), "^1Srv^71");
    EXPECT_STREQ(reinterpret_cast<const char*>(&hos[36]), "secret");
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->passwordEdit->text(), "secret");  // kept for the run
}

TEST_F(ServerWindowTest, ADoubleClickAnywhereInTheGridSpectatesTheSelectedRow) {
    Store(2);
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    window->serverGrid->selectRow(1);
    // Below the last row: the grid's empty area.
    QTest::mouseDClick(window->serverGrid->viewport(), Qt::LeftButton, {}, QPoint(200, 200));
    ASSERT_FALSE(socket.sent.empty());
    EXPECT_STREQ(reinterpret_cast<const char*>(&socket.sent.back()[4]), "^1Srv^71");
    EXPECT_FALSE(window->isVisible());
}

TEST_F(ServerWindowTest, TheSpectatorPasswordGoesOutInTheServersCodePage) {
    Store(1);
    window->show();
    window->passwordEdit->setText(QString::fromUtf8("\u20AC\u00E9\u4E00"));  // the last one has no byte there
    QTest::mouseClick(window->spectateButton, Qt::LeftButton);
    ASSERT_FALSE(socket.sent.empty());
    EXPECT_STREQ(reinterpret_cast<const char*>(&socket.sent.back()[36]), "\x80\xE9?");
}

TEST_F(ServerWindowTest, CloseDisconnectsAndHides) {
    window->show();
    QTest::mouseClick(window->closeButton, Qt::LeftButton);
    EXPECT_EQ(link.LinkState, lsIdle);
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(window->windowFlags() & Qt::WindowCloseButtonHint);
}

}  // namespace
}  // namespace gs
