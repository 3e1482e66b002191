// GL state set-up and projection; see GLSurface.h.
#include "render/GLSurface.h"

#include <QSurfaceFormat>

#include <GL/gl.h>
#include <GL/glu.h>

#include <QOpenGLContext>
#include <QSurface>

namespace gs {

namespace {

void SetProjection(int width, int height, double nearPlane) {
    if (height <= 0) height = 1;
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    gluPerspective(FieldOfViewDegrees, static_cast<double>(width) / height, nearPlane, FarPlane);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

}  // namespace

bool GLInit(QOpenGLContext* context, int width, int height, const ErrorReporter& report, QSurface* surface) {
    if (context == nullptr || !context->isValid()) {
        if (report) report("", "Creating Rendering Context failed.");
        return false;
    }
    if (QOpenGLContext::currentContext() != context) {
        if (surface == nullptr) surface = context->surface();
        if (surface == nullptr || !context->makeCurrent(surface)) {
            if (report) report("", "MakeCurrent of rendering context failed.");
            return false;
        }
    }

    glDisable(GL_DEPTH_TEST);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClearDepth(1.0);
    glShadeModel(GL_SMOOTH);
    glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
    glDisable(GL_BLEND);

    SetProjection(width, height, InitNearPlane);
    return true;
}

void ResizeGLScene(int width, int height) {
    if (height <= 0) height = 1;
    glViewport(0, 0, width, height);
    SetProjection(width, height, ResizeNearPlane);
}

}  // namespace gs

namespace gs {

void SetDefaultSurfaceFormat() {
    QSurfaceFormat format;
    format.setRenderableType(QSurfaceFormat::OpenGL);
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setDepthBufferSize(16);
    format.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    format.setSwapInterval(0);
    QSurfaceFormat::setDefaultFormat(format);
}

}  // namespace gs
