// BuildFont and PrintText on a real (Mesa) context: glyph lists, metrics in
// em units, solid glyph geometry, centring, and the text's ink on screen.
#include "render/Font.h"

#include <chrono>
#include <cstdio>
#include <set>
#include <string>

#include "TestSupport.h"

namespace gs::test {
namespace {

struct Vertex {
    float X, Y, Z;
};
using Polygon = std::vector<Vertex>;

class FontTest : public GLFixture {
protected:
    void SetUp() override {
        GLFixture::SetUp();
        if (HasFatalFailure()) return;
        const auto start = std::chrono::steady_clock::now();
        font.Build();
        buildMs_ = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        SetOrtho(-4, 4);
    }
    // Ortho view of x in [left, right] and y in [-4, 4] (z -10..10).
    static void SetOrtho(double left, double right) {
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(left, right, -4, 4, -10, 10);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        glColor3f(1, 1, 1);
    }
    static double PixelToEmX(int x) { return (x + 0.5) / (Size / 8.0) - 4.0; }

    // Polygons that `draw` sends to the rasteriser, in window coordinates.
    template <typename Draw>
    static std::vector<Polygon> Feedback(Draw draw) {
        std::vector<GLfloat> buffer(1 << 21);
        glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_3D, buffer.data());
        glRenderMode(GL_FEEDBACK);
        draw();
        const GLint count = glRenderMode(GL_RENDER);
        EXPECT_GE(count, 0) << "feedback buffer overflow";
        std::vector<Polygon> polygons;
        for (GLint i = 0; i < count;) {
            const auto token = static_cast<GLint>(buffer[i]);
            EXPECT_EQ(token, GL_POLYGON_TOKEN);
            if (token != GL_POLYGON_TOKEN) break;
            const auto n = static_cast<GLint>(buffer[i + 1]);
            Polygon p;
            for (GLint k = 0; k < n; ++k)
                p.push_back({buffer[i + 2 + 3 * k], buffer[i + 3 + 3 * k], buffer[i + 4 + 3 * k]});
            polygons.push_back(std::move(p));
            i += 2 + 3 * n;
        }
        return polygons;
    }
    std::vector<Polygon> GlyphPolygons(int code) const {
        return Feedback([this, code] { font.DrawGlyphs(std::string(1, static_cast<char>(code))); });
    }

    OutlineFont font;
    double buildMs_ = 0;
};

TEST_F(FontTest, MetricsAreInEmUnits) {
    std::printf("BuildFont: %.1f ms\n", buildMs_);
    // Liberation Sans is metric-compatible with Arial: 'A' advances 1366/2048
    // em, the space 569/2048, and the capitals stand 1409/2048 em tall.
    const GlyphMetric& a = font.Metrics()['A'];
    EXPECT_NEAR(a.CellIncX, 1366.0 / 2048, 0.002);
    EXPECT_EQ(a.CellIncY, 0.0f);
    EXPECT_NEAR(a.BlackBoxY, 1409.0 / 2048, 0.01);
    EXPECT_NEAR(a.OriginY, 1409.0 / 2048, 0.01);  // top of the ink above the baseline
    EXPECT_GT(a.BlackBoxX, 0.6f);
    EXPECT_NEAR(font.Metrics()[' '].CellIncX, 569.0 / 2048, 0.002);
    EXPECT_EQ(font.Metrics()[' '].BlackBoxX, 0.0f);
    EXPECT_LT(font.Metrics()['g'].OriginY - font.Metrics()['g'].BlackBoxY, -0.1f);  // descender
    for (int code = '!'; code <= '~'; ++code) EXPECT_GT(font.Metrics()[code].CellIncX, 0.1f) << code;
    for (int code = 160; code <= 254; ++code) EXPECT_GT(font.Metrics()[code].CellIncX, 0.1f) << code;
}

TEST_F(FontTest, GlyphsDrawSolidLettersAndAdvance) {
    EXPECT_TRUE(font.Built());
    for (int code : {int('A'), int('g'), int('@'), 0xC9, 0xE9, 0xFE})
        EXPECT_GT(GlyphPolygons(code).size(), 10u) << code;
    EXPECT_TRUE(GlyphPolygons(' ').empty());

    // Each list leaves the pen moved on by its cell increment.
    for (int code : {int('A'), int('W'), int(' '), 0xE9}) {
        glLoadIdentity();
        font.DrawGlyphs(std::string(1, static_cast<char>(code)));
        GLfloat m[16];
        glGetFloatv(GL_MODELVIEW_MATRIX, m);
        EXPECT_FLOAT_EQ(m[12], font.Metrics()[code].CellIncX) << code;
    }

    // Released, the glyphs are gone and the metrics cleared.
    font.Release();
    EXPECT_FALSE(font.Built());
    EXPECT_TRUE(GlyphPolygons('A').empty());
    EXPECT_EQ(font.Metrics()['A'].CellIncX, 0.0f);
}

// Server texts are Windows-1252: 0x80 to 0x9F hold the euro sign, curly
// quotes, dashes and letters, except five codes the page leaves undefined.
TEST_F(FontTest, CodesOfTheWindowsCodePageDrawAndUndefinedOnesStayEmpty) {
    const std::set<int> undefined = {0x81, 0x8D, 0x8F, 0x90, 0x9D};
    for (int code = 0x80; code <= 0x9F; ++code) {
        glLoadIdentity();  // each list moves the pen on by its advance
        if (undefined.count(code)) {
            EXPECT_TRUE(GlyphPolygons(code).empty()) << code;
            EXPECT_EQ(font.Metrics()[code].CellIncX, 0.0f) << code;
            EXPECT_EQ(font.Metrics()[code].BlackBoxX, 0.0f) << code;
        } else {
            EXPECT_FALSE(GlyphPolygons(code).empty()) << code;
            EXPECT_GT(font.Metrics()[code].CellIncX, 0.2f) << code;
        }
    }
    // The euro sign is not the Latin-1 control it shares a code with, and
    // 0x93/0x94 are the curly quotes, narrower than a capital.
    EXPECT_NEAR(font.Metrics()[0x80].CellIncX, 1139.0 / 2048, 0.002);
    EXPECT_NEAR(font.Metrics()[0x93].CellIncX, font.Metrics()[0x94].CellIncX, 1e-6);
    EXPECT_LT(font.Metrics()[0x93].CellIncX, font.Metrics()['A'].CellIncX);
    EXPECT_TRUE(GlyphPolygons(255).empty());
    EXPECT_EQ(font.Metrics()[255].CellIncX, 0.0f);
    EXPECT_EQ(font.Metrics()[255].BlackBoxX, 0.0f);
    EXPECT_EQ(font.TextWidth("a\xFF\x81\x9D"), font.TextWidth("a"));

    glLoadIdentity();
    font.Print(false, "%s", "\xFF\x81\x8D\x8F\x90\x9D");
    EXPECT_EQ(ReadInk().Count, 0);
    font.Print(false, "%s", "\x80\x80\x80");
    EXPECT_GT(ReadInk().Count, 0);
}

TEST_F(FontTest, TheFrontFacesTheViewerAndEveryWallFacesOutwards) {
    // Head-on with back faces culled, the front face (window z of eye z 0)
    // shows; there is no back face (eye z -0.08) to show.
    glEnable(GL_CULL_FACE);
    glCullFace(GL_BACK);
    for (int code : {'O', 'A', '8', 'e'}) {
        int front = 0, back = 0;
        for (const Polygon& p : GlyphPolygons(code)) {
            bool allFront = true, allBack = true;
            for (const Vertex& v : p) {
                allFront = allFront && std::abs(v.Z - 0.5f) < 1e-4f;
                allBack = allBack && std::abs(v.Z - 0.504f) < 1e-4f;
            }
            front += allFront;
            back += allBack;
        }
        EXPECT_GT(front, 0) << code;
        EXPECT_EQ(back, 0) << code;
    }

    // Seen at an angle from the front, the faces turned towards the viewer
    // cover all that the glyph covers only if every wall, holes included,
    // faces outwards.
    for (int code : {'O', '8', 'A', 'B'}) {
        for (float turn : {25.0f, -35.0f}) {
            int inked[2];
            for (bool cull : {false, true}) {
                glClear(GL_COLOR_BUFFER_BIT);
                cull ? glEnable(GL_CULL_FACE) : glDisable(GL_CULL_FACE);
                glLoadIdentity();
                glScalef(6, 6, 6);
                glRotatef(-70, 1, 0, 0);
                glRotatef(turn, 0, 1, 0);
                glTranslatef(-0.35f, -0.35f, 0.04f);
                font.DrawGlyphs(std::string(1, static_cast<char>(code)));
                inked[cull] = ReadInk().Count;
            }
            EXPECT_GT(inked[0], 500) << code << " turned " << turn;
            EXPECT_NEAR(inked[1], inked[0], inked[0] * 0.01) << code << " turned " << turn;
        }
    }
    glDisable(GL_CULL_FACE);
}

TEST_F(FontTest, CentredTextIsShiftedByHalfItsWidth) {
    const GlyphMetric &a = font.Metrics()['a'], &b = font.Metrics()['b'];
    const double width = a.CellIncX + b.CellIncX;
    const double inkLeft = a.OriginX, inkRight = a.CellIncX + b.OriginX + b.BlackBoxX;
    const double pixel = 8.0 / Size;

    font.Print(false, "a%c", 'b');
    const Ink plain = ReadInk();
    ASSERT_GT(plain.Count, 100);
    EXPECT_NEAR(PixelToEmX(plain.Left), inkLeft, 1.5 * pixel);
    EXPECT_NEAR(PixelToEmX(plain.Right), inkRight, 1.5 * pixel);

    glClear(GL_COLOR_BUFFER_BIT);
    font.Print(true, "%s", "ab");
    const Ink centred = ReadInk();
    EXPECT_NEAR(centred.Count, plain.Count, plain.Count * 0.05);
    EXPECT_NEAR(PixelToEmX(centred.Left), inkLeft - width / 2, 1.5 * pixel);
    EXPECT_NEAR(PixelToEmX(centred.Right), inkRight - width / 2, 1.5 * pixel);
    // Ink from the baseline up to the top of 'b', in the rows around y = 0.
    EXPECT_NEAR(centred.Bottom, Size / 2, 2);
    EXPECT_NEAR(centred.Top, Size / 2 + b.OriginY * Size / 8.0, 2);
}

TEST_F(FontTest, PrintTextLeavesMatrixAndListBaseAlone) {
    glTranslatef(0.5f, 0.25f, 0);
    glListBase(7);
    GLfloat before[16], after[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, before);
    font.Print(true, "%d laps", 12);
    const char* absent = nullptr;
    font.Print(false, absent);
    glGetFloatv(GL_MODELVIEW_MATRIX, after);
    for (int i = 0; i < 16; ++i) EXPECT_EQ(before[i], after[i]);
    GLint base = 0, depth = 0;
    glGetIntegerv(GL_LIST_BASE, &base);
    glGetIntegerv(GL_MODELVIEW_STACK_DEPTH, &depth);
    EXPECT_EQ(base, 7);
    EXPECT_EQ(depth, 1);
    EXPECT_GT(ReadInk().Count, 0);
}

TEST_F(FontTest, LongTextIsCutAt255Characters) {
    SetOrtho(-1, 200);
    const auto dots = [this](int n) {
        return Feedback([this, n] { font.Print(false, "%s", std::string(n, '.').c_str()); }).size();
    };
    const std::size_t perDot = dots(1);
    ASSERT_GT(perDot, 0u);
    EXPECT_EQ(dots(255), 255 * perDot);
    EXPECT_EQ(dots(300), 255 * perDot);
}

}  // namespace
}  // namespace gs::test
