// Program entry: the application object, the four forms in their order, and
// the message loop. Gridscope has no command line and reads no environment.
#include <QApplication>
#include <QMessageBox>

#include <exception>

#include "app/Forms.h"
#include "render/GLSurface.h"

int main(int argc, char** argv) {
    gs::SetDefaultSurfaceFormat();

    QApplication app(argc, argv);
    QApplication::setApplicationName("Gridscope 2.0");
    // Ties the windows to the installed menu entry (its icon and name).
    QGuiApplication::setDesktopFileName(GRIDSCOPE_APP_ID);
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
