// The cached text layer on a real (Mesa) context: the copied picture equals
// the glyphs drawn one by one, it is drawn anew exactly when a text, colour,
// place or the projection changes, and the caller's GL state and framebuffer
// are left as they were.
#include "render/TextLayer.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <array>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "render/Font.h"

namespace gs::test {
namespace {

struct Line {
    float x, y, scale;
    std::array<float, 3> colour;
    bool centred;
    std::string text;
};

class TextLayerTest : public GLFixture {
protected:
    void SetUp() override {
        GLFixture::SetUp();
        if (HasFatalFailure()) return;
        font.Build();
        Perspective(45);
        // A white, fully transparent texture bound and enabled, as the log
        // draws its lines with the HUD bar's texture still on: the glyphs
        // keep their colours but write alpha 0.
        glGenTextures(1, &texture_);
        glBindTexture(GL_TEXTURE_2D, texture_);
        const GLubyte white[4] = {255, 255, 255, 0};
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, white);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    }
    void TearDown() override {
        glDeleteTextures(1, &texture_);
        GLFixture::TearDown();
    }
    static void Perspective(double fovy) {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        gluPerspective(fovy, 1.0, 0.1, 600);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
    }

    // A background that is neither black nor one of the text colours, so
    // that the copy must leave every pixel without ink alone.
    static void Background() {
        glClearColor(0.1f, 0.3f, 0.5f, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        glClearColor(0, 0, 0, 0);
    }

    // Draws the lines through `layer` the way the scene does: placed with
    // the model-view matrix, coloured with the current colour.
    void Draw(TextLayer& layer, bool cache, const std::vector<Line>& lines) const {
        Background();
        glEnable(GL_TEXTURE_2D);
        glLoadIdentity();
        glTranslatef(-20, 14, -50);
        layer.Begin(cache, font);
        for (const Line& l : lines) {
            glPushMatrix();
            glTranslatef(l.x, l.y, 0);
            glScalef(l.scale, l.scale, l.scale);
            glColor3f(l.colour[0], l.colour[1], l.colour[2]);
            layer.Add(l.centred, l.text);
            glPopMatrix();
        }
        layer.End();
        glDisable(GL_TEXTURE_2D);
    }

    static std::vector<std::uint8_t> Pixels() {
        std::vector<std::uint8_t> p(Size * Size * 4);
        glFinish();
        glReadPixels(0, 0, Size, Size, GL_RGBA, GL_UNSIGNED_BYTE, p.data());
        return p;
    }
    std::vector<std::uint8_t> Direct(const std::vector<Line>& lines) const {
        TextLayer direct;
        Draw(direct, false, lines);
        return Pixels();
    }
    static int Differing(const std::vector<std::uint8_t>& a, const std::vector<std::uint8_t>& b) {
        int n = 0;
        for (std::size_t i = 0; i < a.size(); i += 4) n += a[i] != b[i] || a[i + 1] != b[i + 1] || a[i + 2] != b[i + 2];
        return n;
    }

    std::vector<Line> lines_{
        {0, 0, 1, {0, 0, 0}, false, "Connected to Server : Gridscope Demo"},
        {0, -1.2f, 0.8f, {1, 0.25f, 0}, false, "Wolfgang Bauer finishes Lap 3 in 1:05.43"},
        {20, -3, 0.7f, {0.2f, 0.9f, 0.4f}, true, "+0:01.50"},
        {3, -5, 1.3f, {1, 1, 1}, false, std::string(300, 'W')},  // cut at 255, runs off the picture
    };
    GLuint texture_ = 0;
    OutlineFont font;
};

TEST_F(TextLayerTest, TheCopiedPictureEqualsTheGlyphsDrawnOneByOne) {
    Background();
    const auto empty = Pixels();
    const std::uint8_t* bg = empty.data();
    const auto direct = Direct(lines_);
    TextLayer layer;
    Draw(layer, true, lines_);  // first seen: glyph by glyph
    const auto first = Pixels();
    EXPECT_EQ(layer.Rebuilds(), 0);
    Draw(layer, true, lines_);  // seen again: drawn into the picture, then copied
    const auto picture = Pixels();
    Draw(layer, true, lines_);  // copied only
    const auto second = Pixels();
    EXPECT_EQ(layer.Rebuilds(), 1);
    EXPECT_EQ(Differing(first, direct), 0);
    EXPECT_EQ(Differing(picture, direct), 0);
    EXPECT_EQ(Differing(second, direct), 0);
    // The lines do show: plenty of ink of each colour, and the background
    // everywhere else.
    int orange = 0, background = 0;
    for (std::size_t i = 0; i < second.size(); i += 4) {
        orange += second[i] == 255 && second[i + 1] == 64 && second[i + 2] == 0;
        background += second[i] == bg[0] && second[i + 1] == bg[1] && second[i + 2] == bg[2];
    }
    EXPECT_GT(orange, 50);
    EXPECT_GT(background, Size * Size / 2);
}

TEST_F(TextLayerTest, APictureIsDrawnAnewExactlyWhenWhatItShowsChanges) {
    TextLayer layer;
    // Each record twice: the second frame makes the picture.
    auto twice = [&](const std::vector<Line>& lines) {
        Draw(layer, true, lines);
        Draw(layer, true, lines);
    };
    twice(lines_);
    ASSERT_EQ(layer.Rebuilds(), 1);

    auto changed = lines_;
    changed[1].text = "Wolfgang Bauer finishes Lap 4 in 1:04.98";
    twice(changed);
    EXPECT_EQ(layer.Rebuilds(), 2) << "text";
    EXPECT_EQ(Differing(Pixels(), Direct(changed)), 0);

    changed[2].colour = {0, 0, 1};
    twice(changed);
    EXPECT_EQ(layer.Rebuilds(), 3) << "colour";
    EXPECT_EQ(Differing(Pixels(), Direct(changed)), 0);

    changed[0].x += 0.01f;
    twice(changed);
    EXPECT_EQ(layer.Rebuilds(), 4) << "place";

    changed.pop_back();
    twice(changed);
    EXPECT_EQ(layer.Rebuilds(), 5) << "a line fewer";
    EXPECT_EQ(Differing(Pixels(), Direct(changed)), 0);

    Perspective(50);
    twice(changed);
    EXPECT_EQ(layer.Rebuilds(), 6) << "projection";
    EXPECT_EQ(Differing(Pixels(), Direct(changed)), 0);

    glViewport(0, 0, Size / 2, Size / 2);
    twice(changed);
    EXPECT_EQ(layer.Rebuilds(), 7) << "viewport";
    EXPECT_EQ(Differing(Pixels(), Direct(changed)), 0);
    glViewport(0, 0, Size, Size);

    // The same record again and again: the picture stays.
    twice(changed);
    twice(changed);
    EXPECT_EQ(layer.Rebuilds(), 8);

    // Text that changes every frame (the log while it is trimmed) never
    // pays for a picture, and shows right each frame.
    for (int frame = 0; frame < 4; ++frame) {
        changed[0].text = "line " + std::to_string(frame);
        Draw(layer, true, changed);
        const auto shown = Pixels();
        EXPECT_EQ(Differing(shown, Direct(changed)), 0) << frame;
    }
    EXPECT_EQ(layer.Rebuilds(), 8);
}

TEST_F(TextLayerTest, TheCallersStateAndFramebufferAreLeftAsTheyWere) {
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(1, 2, -30);
    glColor4f(0.25f, 0.5f, 0.75f, 1);
    glTexCoord2f(0.125f, 0.625f);
    GLint fboBefore = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &fboBefore);
    float modelview[16], projection[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, modelview);
    glGetFloatv(GL_PROJECTION_MATRIX, projection);

    TextLayer layer;
    for (int frame = 0; frame < 3; ++frame) {  // glyphs, the picture made, the copy
        layer.Begin(true, font);
        layer.Add(false, "Pos Driver Car Laps Best Total");
        layer.End();

        GLint fbo = 0, bound = 0, mode = 0, matrixMode = 0, blendSrc = 0;
        glGetIntegerv(GL_FRAMEBUFFER_BINDING, &fbo);
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
        glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &mode);
        glGetIntegerv(GL_MATRIX_MODE, &matrixMode);
        glGetIntegerv(GL_BLEND_SRC, &blendSrc);
        EXPECT_EQ(fbo, fboBefore);
        EXPECT_EQ(bound, static_cast<GLint>(texture_));
        EXPECT_EQ(mode, GL_MODULATE);
        EXPECT_EQ(matrixMode, GL_MODELVIEW);
        EXPECT_EQ(blendSrc, GL_SRC_ALPHA);
        EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
        EXPECT_TRUE(glIsEnabled(GL_BLEND));
        EXPECT_FALSE(glIsEnabled(GL_ALPHA_TEST));
        float colour[4], texCoord[4], mv[16], pr[16];
        glGetFloatv(GL_CURRENT_COLOR, colour);
        glGetFloatv(GL_CURRENT_TEXTURE_COORDS, texCoord);
        EXPECT_FLOAT_EQ(texCoord[0], 0.125f);
        EXPECT_FLOAT_EQ(texCoord[1], 0.625f);
        glGetFloatv(GL_MODELVIEW_MATRIX, mv);
        glGetFloatv(GL_PROJECTION_MATRIX, pr);
        EXPECT_FLOAT_EQ(colour[2], 0.75f);
        EXPECT_EQ(std::vector<float>(mv, mv + 16), std::vector<float>(modelview, modelview + 16));
        EXPECT_EQ(std::vector<float>(pr, pr + 16), std::vector<float>(projection, projection + 16));
    }
    EXPECT_EQ(layer.Rebuilds(), 1);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
    glDisable(GL_BLEND);
    glDisable(GL_TEXTURE_2D);
}

TEST_F(TextLayerTest, AnEmptyRecordDrawsNothing) {
    Background();
    const auto before = Pixels();
    TextLayer layer;
    layer.Begin(true, font);
    layer.End();
    layer.Begin(true, font);
    layer.Add(false, "");
    layer.Add(false, "   ");
    layer.End();
    EXPECT_EQ(Differing(Pixels(), before), 0);
}

}  // namespace
}  // namespace gs::test
