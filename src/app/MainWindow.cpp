#include "app/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QScreen>
#include <QThread>

#include <GL/gl.h>
#include <malloc.h>

#include <cstdlib>

#include "app/About.h"
#include "app/ServerWindow.h"
#include "app/SettingsDialog.h"
#include "common/Text.h"
#include "render/GLResources.h"
#include "render/GLSurface.h"
#include "view/SceneText.h"

namespace gs {

namespace {

constexpr const char* Caption = "Gridscope";
constexpr const char* DefaultTrack = "AS1";

}  // namespace

// ------------------------------------------------------------------- LivePanel

LivePanel::LivePanel(MainWindow& form) : form_(form) {
    setSurfaceType(QSurface::OpenGLSurface);
    setFormat(QSurfaceFormat::defaultFormat());
    // Clicks on the panel leave the keyboard with the form.
    setFlag(Qt::WindowDoesNotAcceptFocus, true);
}

LivePanel::~LivePanel() {
    // The font's lists and the textures go with the context they live in.
    if (context_ && context_->makeCurrent(this)) {
        resources_.Release();
        context_->doneCurrent();
    }
}

void LivePanel::Initialize() {
    if (context_) return;
    context_ = std::make_unique<QOpenGLContext>();
    context_->setFormat(format());
    context_->create();
    form_.InitializeGL();
    glSize_ = QSize();  // the first frame sets the viewport
}

bool LivePanel::makeCurrent() { return context_ && context_->isValid() && context_->makeCurrent(this); }

QSize LivePanel::DeviceSize() const { return size() * devicePixelRatio(); }

bool LivePanel::Prepare() {
    if (!makeCurrent()) return false;
    // GL counts device pixels: on a scaled desktop the panel's logical size
    // times the scale. The scene's geometry (pointer, toolbar, labels) stays
    // in logical pixels, so the picture keeps its proportions, only sharper.
    const QSize device = DeviceSize();
    if (device != glSize_) {
        glSize_ = device;
        ResizeGLScene(glSize_.width(), glSize_.height());
    }
    return true;
}

void LivePanel::Render() {
    if (!isExposed() || !Prepare()) return;
    form_.PaintFrame();
    context_->swapBuffers(this);
    form_.FramePresented();
}

QImage LivePanel::grabFramebuffer() {
    if (!Prepare()) return {};
    form_.PaintFrame();
    QImage image(glSize_, QImage::Format_RGBA8888);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(0, 0, glSize_.width(), glSize_.height(), GL_RGBA, GL_UNSIGNED_BYTE, image.bits());
    return image.mirrored();
}

void LivePanel::exposeEvent(QExposeEvent*) {
    if (!isExposed()) return;
    Initialize();
    Render();
}

bool LivePanel::event(QEvent* event) {
    // Keys that reach the panel are the form's.
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease)
        return QCoreApplication::sendEvent(&form_, event);
    return QWindow::event(event);
}

void LivePanel::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    form_.OnPanelMouseMove(p.x(), p.y());
}

void LivePanel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && QRect(QPoint(), size()).contains(event->position().toPoint()))
        form_.OnPanelClick();
}

// ----------------------------------------------------------------------- MainWindow

MainWindow::MainWindow()
    : connection_(race_, servers_, ConnectionPorts{clock_, packetTimerPort_, keepAliveTimerPort_, socket_, *this}),
      scene_{race_, camera_, track_, settings_} {
    startup_.created = std::chrono::steady_clock::now();
    readAhead_ = std::async(std::launch::async, [] {
        StartupFiles files;
        files.textures = ReadTexturePictures();
        files.track = ReadTrack(DefaultTrack);
        return files;
    });
    setWindowTitle(Caption);
    setAttribute(Qt::WA_QuitOnClose, true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, Qt::white);
    setPalette(palette);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::StrongFocus);

    // The track mesh starts empty and the camera at its initial place (the
    // members' own initial values).
    panel_ = new LivePanel(*this);
    QWidget* holder = QWidget::createWindowContainer(panel_, this);
    holder->setFocusPolicy(Qt::NoFocus);
    holder->setGeometry(0, 0, 697, 461);
    panel_->SetHolder(holder);

    packetTimer_.setInterval(50);
    keepAliveTimer_.setInterval(5000);
    fpsTimer_.setInterval(50);
    fpsTimer_.setTimerType(Qt::PreciseTimer);
    packetTimer_.setTimerType(Qt::PreciseTimer);
    connect(&packetTimer_, &QTimer::timeout, this, [this] { OnPacketTick(); });
    connect(&keepAliveTimer_, &QTimer::timeout, this, [this] { OnKeepAliveTick(); });
    connect(&fpsTimer_, &QTimer::timeout, this, [this] { OnFrameTick(); });
    // The GL driver does each frame's work in the program's heap, tens of
    // megabytes a frame in 64 KB blocks, and more while texts change every
    // frame (a flood of names and log lines draws the glyphs instead of the
    // texts' pictures). The allocator gives back only the top of the heap by
    // itself; trimming also returns the free pages between live data.
    heapTrimTimer_.setInterval(HeapTrimIntervalMs);
    connect(&heapTrimTimer_, &QTimer::timeout, this, [] { ::malloc_trim(0); });
    heapTrimTimer_.start();

    // The settings, the frame interval and the window style; the
    // GL half follows as soon as the panel has its context.
    ReadSettings(settings_);
    fpsTimer_.setInterval(FrameInterval(settings_));
    SetStayOnTop(settings_.AlwaysOnTop != 0);

    resize(DesignClientWidth, DesignClientHeight);
    PlaceOnScreen();
}

void MainWindow::PlaceOnScreen() {
    // The designed position, moved up and left as far as needed for the
    // whole window to be on a smaller screen.
    QPoint at(DesignLeft, DesignTop);
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        at.setX(std::max(area.left(), std::min(at.x(), area.right() + 1 - DesignClientWidth - 8)));
        at.setY(std::max(area.top(), std::min(at.y(), area.bottom() + 1 - DesignClientHeight - 28)));
    }
    move(at);
}

MainWindow::~MainWindow() = default;

void MainWindow::SetForms(SettingsDialog* settings, ServerWindow* serverWindow, AboutBox* about) {
    settingsForm_ = settings;
    serverWindow_ = serverWindow;
    about_ = about;
}

void MainWindow::ShowError(const std::string& caption, const std::string& text) {
    QMessageBox box(caption == "Error" ? QMessageBox::Critical : QMessageBox::Information,
                    caption.empty() ? QString(Caption) : QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

void MainWindow::InitializeGL() {
    const ErrorReporter report = [this](const std::string& caption, const std::string& text) {
        ShowError(caption, text);
    };
    GLInit(panel_->context(), panel_->width(), panel_->height(), report, panel_);
    startup_.glInit = std::chrono::steady_clock::now();
    GLResources& gl = panel_->Resources();
    gl.font.Build();
    startup_.font = std::chrono::steady_clock::now();
    StartupFiles files =
        readAhead_.valid() ? readAhead_.get() : StartupFiles{ReadTexturePictures(), ReadTrack(DefaultTrack)};
    gl.textures.Upload(std::move(files.textures), report);
    scene_.gl = &gl;
    startup_.textures = std::chrono::steady_clock::now();
    if (files.track.ok) track_ = std::move(files.track.track);
    else FatalError(files.track.error);
    // The first frame draws what the frames after it draw, not every object.
    MarkVisibleObjects(track_.Mesh, camera_);
    startup_.track = std::chrono::steady_clock::now();
    race_.InitSampleClock(clock_);
    race_.Log.Clear();
    race_.AddMessage("Gridscope v. 2.02");
    race_.AddMessage("Written by the Gridscope team");
    race_.AddMessage("Contact: team@gridscope.example");
    race_.AddMessage("See readme.txt for more information");
    race_.AddMessage(" ");
    race_.AddMessage("Have fun!");
    glReady_ = true;
    fpsTimer_.start();
}

void MainWindow::PaintFrame() {
    if (!glReady_) return;
    scene_.panelWidth = panel_->width();
    scene_.panelHeight = panel_->height();
    scene_.mouseX = MouseX;
    scene_.mouseY = MouseY;
    scene_.plan = AdvanceFrame(race_, camera_, track_, standingsPageTimer_, fpsTimer_.interval());
    DrawScene(scene_);
}

void MainWindow::FramePresented() {
    if (startup_.firstFrame.time_since_epoch().count() == 0) startup_.firstFrame = std::chrono::steady_clock::now();
    if (onFramePresented) onFramePresented();
}

void MainWindow::OnFrameTick() {
    race_.Clock.Now = clock_.Counter();
    SmoothPositions(race_, FrameTimeParameter(race_.Clock), settings_.SmoothMovement != 0);
    panel_->Render();
    keys_.SetActive(isActiveWindow());
    PollCameraKeys(camera_, race_, settings_, keys_);
    UpdateVisibility(track_.Mesh, camera_);
}

// ------------------------------------------------------------------------ shell

// The caption holds the server's name, which is Windows-1252.
void MainWindow::SetCaption(const std::string& caption) {
    setWindowTitle(QString::fromStdString(Windows1252ToUtf8(caption)));
}

void MainWindow::RepaintNow() { panel_->Render(); }

void MainWindow::LoadTrack(const char* code) { gs::LoadTrack(track_, code, *this); }

void MainWindow::ServerListChanged() {
    if (serverWindow_) serverWindow_->FillGrid();
}

void MainWindow::FatalError(const std::string& text) {
    QMessageBox box(QMessageBox::Critical, "Error", QString::fromStdString(text), QMessageBox::Ok);
    box.exec();
    std::_Exit(EXIT_FAILURE);
}

// ----------------------------------------------------------------- window events

void MainWindow::FitPanelToWindow() {
    // The window keeps a 4:3 outer shape; the outer frame is taken as the
    // client area plus 8 pixels across and 28 down, and the panel fills the
    // client area.
    const int outerWidth = width() + 8;
    const int outerHeight = WindowHeightForWidth(outerWidth);
    const PanelSize panel = PanelForWindow(outerWidth, outerHeight);
    if (height() != panel.height && !resizing_) {
        resizing_ = true;
        resize(width(), panel.height);
        resizing_ = false;
    }
    panel_->Holder().setGeometry(0, 0, panel.width, panel.height);
}

void MainWindow::resizeEvent(QResizeEvent*) { FitPanelToWindow(); }

void MainWindow::closeEvent(QCloseEvent* event) {
    connection_.Disconnect();
    WriteSettings(settings_);
    event->accept();
    QApplication::quit();
}

bool MainWindow::event(QEvent* event) {
    // Tab and Shift+Tab are camera keys here, not focus moves.
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
            keys_.KeyEvent(*key, event->type() == QEvent::KeyPress);
            return true;
        }
    }
    if (event->type() == QEvent::WindowDeactivate) keys_.ReleaseAll();
    return QWidget::event(event);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
    if (!keys_.KeyEvent(*event, true)) QWidget::keyPressEvent(event);
}

void MainWindow::keyReleaseEvent(QKeyEvent* event) {
    if (!keys_.KeyEvent(*event, false)) QWidget::keyReleaseEvent(event);
}

void MainWindow::SetStayOnTop(bool onTop) {
    if (testAttribute(Qt::WA_WState_Created) && windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop) return;
    const bool visible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (visible) show();
}

// ---------------------------------------------------------------------- toolbar

void MainWindow::OnPanelMouseMove(int x, int y) {
    MouseX = x;
    MouseY = y;
}

void MainWindow::OnPanelClick() {
    switch (ToolbarButtonAt(panel_->width(), panel_->height(), MouseX, MouseY)) {
        case tbServerList: GetServerListCommand(); break;
        case tbConnect: ConnectCommand(); break;
        case tbSettings: SettingsCommand(); break;
        case tbAbout: AboutCommand(); break;
        case tbExit: ExitCommand(); break;
        case tbNone: break;
    }
}

void MainWindow::GetServerListCommand() {
    connection_.GetServerListBegin();
    // The disconnect that begins the request reaches the old server and the
    // relay first: they get this long to drop the spectator before the same
    // address asks for the list.
    constexpr unsigned long ListRequestDelayMs = 1000;
    QThread::msleep(ListRequestDelayMs);
    connection_.GetServerListOpen(settings_.ServerIP, settings_.InSimPort);
    if (serverWindow_) serverWindow_->show();
}

void MainWindow::ConnectCommand() {
    connection_.ConnectCommand(settings_.ServerIP, settings_.InSimPort, settings_.AdminPassword);
}

void MainWindow::SettingsCommand() {
    if (settingsForm_) settingsForm_->exec();
    fpsTimer_.setInterval(FrameInterval(settings_));
}

void MainWindow::AboutCommand() {
    if (about_) about_->exec();
}

}  // namespace gs
