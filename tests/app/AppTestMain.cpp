// GUI tests need the application object and the compatibility-profile
// default format before any window exists; they run under Xvfb with Mesa.
#include <QApplication>

#include <gtest/gtest.h>

#include "render/GLSurface.h"

int main(int argc, char** argv) {
    gs::SetDefaultSurfaceFormat();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
