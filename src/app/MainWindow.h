// The main window: the live GL panel, the three timers (packets, keep-alive,
// frames), the UDP socket, the toolbar commands, start-up and shutdown.
//
// The window owns the program-wide state (race, server list, settings, track,
// camera, connection) for the whole run and is the core's shell: it sets the
// caption, repaints, loads tracks and reports fatal errors. The logic itself
// lives in the core; the handlers here only turn Qt events into core calls.
#pragma once

#include <QOpenGLContext>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <chrono>
#include <future>
#include <memory>

#include "app/Platform.h"
#include "common/Settings.h"
#include "connection/Connection.h"
#include "connection/RaceState.h"
#include "connection/ServerList.h"
#include "connection/UdpSocket.h"
#include "render/GLResources.h"
#include "render/Scene.h"
#include "track/TrackData.h"
#include "view/FrameLoop.h"

namespace gs {

class MainWindow;
class SettingsDialog;
class ServerWindow;
class AboutBox;

// The live panel: the OpenGL surface, a native window of its own inside the form,
// so that every frame goes straight to the screen with one buffer swap
// instead of being composed into the form by Qt. Its mouse position drives
// the toolbar; keys belong to the form.
class LivePanel final : public QWindow {
public:
    explicit LivePanel(MainWindow& form);
    ~LivePanel() override;

    // Draws a frame and shows it at once, when the panel is on screen.
    void Render();
    // Draws a frame into the back buffer and reads it back without showing
    // it, in device pixels (twice the logical size on a desktop scaled to 2).
    QImage grabFramebuffer();
    // The panel's size in device pixels, which GL works in.
    QSize DeviceSize() const;
    // Makes the panel's context current on it; false when there is none.
    bool makeCurrent();
    QOpenGLContext* context() { return context_.get(); }
    // The font and textures of the panel's context, released with it.
    GLResources& Resources() { return resources_; }
    // The widget that holds the panel in the form.
    QWidget& Holder() { return *holder_; }
    void SetHolder(QWidget* holder) { holder_ = holder; }

protected:
    void exposeEvent(QExposeEvent* event) override;
    bool event(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // Creates the context and runs the GL half of the start-up, once.
    void Initialize();
    // Makes the context current and follows a change of size or scale.
    bool Prepare();

    MainWindow& form_;
    QWidget* holder_ = nullptr;
    std::unique_ptr<QOpenGLContext> context_;
    GLResources resources_;
    QSize glSize_;
};

// The times of the start-up steps, for the start-up benchmark.
struct StartupTimes {
    std::chrono::steady_clock::time_point created, glInit, font, textures, track, firstFrame;
};

class MainWindow final : public QWidget, public Shell {
public:
    // The form's design.
    static constexpr int DesignClientWidth = 792, DesignClientHeight = 573;
    static constexpr int DesignLeft = 558, DesignTop = 371;
    static constexpr int HeapTrimIntervalMs = 2000;  // how often freed heap goes back to the system

    MainWindow();
    ~MainWindow() override;

    void SetForms(SettingsDialog* settings, ServerWindow* serverWindow, AboutBox* about);

    // Shell.
    void SetCaption(const std::string& caption) override;
    void RepaintNow() override;
    void LoadTrack(const char* code) override;
    void ServerListChanged() override;
    void FatalError(const std::string& text) override;

    // Handlers.
    void InitializeGL();  // the GL half of the start-up, once a context exists
    void FitPanelToWindow();
    void OnPanelMouseMove(int x, int y);
    void OnPanelClick();
    void OnPacketTick() { connection_.OnPacketTick(); }
    void OnKeepAliveTick() { connection_.OnKeepAliveTick(); }
    void OnFrameTick();

    // Toolbar commands, by button.
    void GetServerListCommand();
    void ConnectCommand();
    void SettingsCommand();
    void AboutCommand();
    void ExitCommand() { close(); }

    // Applies the stay-on-top style.
    void SetStayOnTop(bool onTop);

    // State shared with the other forms and the tests.
    RaceState& Race() { return race_; }
    Settings& Options() { return settings_; }
    ServerList& Servers() { return servers_; }
    Connection& Link() { return connection_; }
    Camera& View() { return camera_; }
    TrackData& Track() { return track_; }
    LivePanel& Panel() { return *panel_; }
    KeyTable& Keys() { return keys_; }
    SceneContext& Scene() { return scene_; }
    QTimer& FrameTimer() { return fpsTimer_; }
    const StartupTimes& Startup() const { return startup_; }
    int MouseX = 0, MouseY = 0;

    // Brings the state up to date for one frame (AdvanceFrame), then draws
    // the frame into the current context (the panel's paint).
    void PaintFrame();
    // Called by the panel after each frame it shows.
    void FramePresented();
    // Called after each presented frame.
    std::function<void()> onFramePresented;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void ShowError(const std::string& caption, const std::string& text);
    void PlaceOnScreen();

    // The default track and the textures' files, read on another thread
    // from the constructor on, while the window and its GL context are made.
    struct StartupFiles {
        TexturePictures textures;
        TrackRead track;
    };
    std::future<StartupFiles> readAhead_;

    RaceState race_;
    ServerList servers_;
    Settings settings_;
    TrackData track_;
    Camera camera_;
    SteadyClock clock_;
    KeyTable keys_;
    QTimer packetTimer_, keepAliveTimer_, fpsTimer_, heapTrimTimer_;
    QtTimer packetTimerPort_{packetTimer_}, keepAliveTimerPort_{keepAliveTimer_};
    UdpSocket socket_;
    Connection connection_;
    SceneContext scene_;
    float standingsPageTimer_ = 0;  // ms into the standings' current page cycle
    LivePanel* panel_ = nullptr;
    SettingsDialog* settingsForm_ = nullptr;
    ServerWindow* serverWindow_ = nullptr;
    AboutBox* about_ = nullptr;
    bool glReady_ = false;
    bool resizing_ = false;
    StartupTimes startup_;
};

}  // namespace gs
