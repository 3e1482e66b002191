// Program entry: the application object, the four forms in their order, and
// the message loop. Gridscope has no command line and reads no environment.
#include <QApplication>
#include <QMessageBox>
#include <QSurfaceFormat>

#include <exception>

#include "app/Forms.h"

int main(int argc, char** argv) {
    // A compatibility-profile context for the fixed-function drawing.
    QSurfaceFormat format;
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setDepthBufferSize(16);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    format.setSwapInterval(0);
    QSurfaceFormat::setDefaultFormat(format);

    QApplication app(argc, argv);
    QApplication::setApplicationName("Gridscope 2.0");
    try {
        gs::Forms forms;
        forms.form.show();
        return QApplication::exec();
    } catch (const std::exception& e) {
        QMessageBox::critical(nullptr, "Gridscope", e.what());
    } catch (...) {
        QMessageBox::critical(nullptr, "Gridscope", "");
    }
    return 1;
}
