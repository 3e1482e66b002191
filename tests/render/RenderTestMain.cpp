// Test entry for the render layer: a GUI application object (font database,
// image decoding, GL contexts) around the GoogleTest run.
#include <gtest/gtest.h>

#include <QGuiApplication>

#include "render/GLSurface.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Without an X server the bitmap tests still run; the GL tests then fail
    // and say that they need Xvfb.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    gs::SetDefaultSurfaceFormat();
    QGuiApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
