// GLInit and ResizeGLScene on a real (Mesa) context.
#include "render/GLSurface.h"

#include <cmath>

#include "TestSupport.h"

namespace gs::test {
namespace {

class GLSurfaceTest : public GLFixture {
protected:
    struct Projection {
        double Aspect, Near, Far;
    };
    // Reads aspect and planes back from a gluPerspective matrix.
    static Projection CurrentProjection() {
        GLdouble m[16];
        glGetDoublev(GL_PROJECTION_MATRIX, m);
        const double n = m[14] / (m[10] - 1.0), f = m[14] / (m[10] + 1.0);
        EXPECT_NEAR(m[5], 1.0 / std::tan(22.5 * M_PI / 180.0), 1e-6);  // 45 degrees
        return {m[5] / m[0], n, f};
    }
    static bool ModelViewIsSelectedIdentity() {
        GLint mode = 0;
        glGetIntegerv(GL_MATRIX_MODE, &mode);
        GLdouble m[16];
        glGetDoublev(GL_MODELVIEW_MATRIX, m);
        for (int i = 0; i < 16; ++i)
            if (m[i] != (i % 5 == 0 ? 1.0 : 0.0)) return false;
        return mode == GL_MODELVIEW;
    }
    RecordingReporter reporter_;
};

TEST_F(GLSurfaceTest, InitSetsStateAndProjection) {
    glEnable(GL_BLEND);
    glEnable(GL_DEPTH_TEST);
    glClearColor(1, 1, 1, 1);
    glMatrixMode(GL_MODELVIEW);
    glTranslatef(1, 2, 3);
    glMatrixMode(GL_TEXTURE);

    ASSERT_TRUE(GLInit(&context_, 800, 600, reporter_.Function()));
    EXPECT_TRUE(reporter_.Reports.empty());
    EXPECT_FALSE(glIsEnabled(GL_BLEND));
    EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
    GLfloat clear[4];
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_EQ(clear[0] + clear[1] + clear[2] + clear[3], 0.0f);
    GLint shade = 0, hint = 0;
    glGetIntegerv(GL_SHADE_MODEL, &shade);
    glGetIntegerv(GL_PERSPECTIVE_CORRECTION_HINT, &hint);
    EXPECT_EQ(shade, GL_SMOOTH);
    EXPECT_EQ(hint, GL_NICEST);

    const Projection p = CurrentProjection();
    EXPECT_NEAR(p.Aspect, 800.0 / 600.0, 1e-6);
    EXPECT_NEAR(p.Near, 0.01, 1e-6);
    EXPECT_NEAR(p.Far, 600.0, 1.0);  // read back through float rounding
    EXPECT_TRUE(ModelViewIsSelectedIdentity());
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(GLSurfaceTest, ResizeWithHeightZeroUsesHeightOne) {
    ResizeGLScene(100, 0);
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[0], 0);
    EXPECT_EQ(viewport[1], 0);
    EXPECT_EQ(viewport[2], 100);
    EXPECT_EQ(viewport[3], 1);
    EXPECT_NEAR(CurrentProjection().Aspect, 100.0, 1e-4);

    ResizeGLScene(792, 572);
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[2], 792);
    EXPECT_EQ(viewport[3], 572);
    const Projection p = CurrentProjection();
    EXPECT_NEAR(p.Aspect, 792.0 / 572.0, 1e-6);
    EXPECT_NEAR(p.Near, 0.1, 1e-6);
    EXPECT_TRUE(ModelViewIsSelectedIdentity());
}

TEST_F(GLSurfaceTest, MissingContextIsReportedAndNothingIsSet) {
    EXPECT_FALSE(GLInit(nullptr, 800, 600, reporter_.Function()));
    QOpenGLContext neverCreated;
    EXPECT_FALSE(GLInit(&neverCreated, 800, 600, reporter_.Function()));
    EXPECT_EQ(reporter_.Reports, (std::vector<Report>{{"", "Creating Rendering Context failed."},
                                                      {"", "Creating Rendering Context failed."}}));
}

TEST_F(GLSurfaceTest, ContextThatCannotBeMadeCurrentIsReported) {
    QOpenGLContext other;
    other.setFormat(QSurfaceFormat::defaultFormat());
    ASSERT_TRUE(other.create());
    QOffscreenSurface notCreated;  // no native surface behind it
    EXPECT_FALSE(GLInit(&other, 800, 600, reporter_.Function(), &notCreated));
    EXPECT_FALSE(GLInit(&other, 800, 600, reporter_.Function()));  // never current anywhere
    EXPECT_EQ(reporter_.Reports, (std::vector<Report>{{"", "MakeCurrent of rendering context failed."},
                                                      {"", "MakeCurrent of rendering context failed."}}));

    // Given a usable surface, GLInit makes the context current itself.
    reporter_.Reports.clear();
    EXPECT_TRUE(GLInit(&other, 640, 480, reporter_.Function(), &surface_));
    EXPECT_EQ(QOpenGLContext::currentContext(), &other);
    EXPECT_TRUE(reporter_.Reports.empty());
    EXPECT_NEAR(CurrentProjection().Aspect, 640.0 / 480.0, 1e-6);
    ASSERT_TRUE(context_.makeCurrent(&surface_));
}

}  // namespace
}  // namespace gs::test
