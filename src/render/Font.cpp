// Outline font: glyph outlines from QRawFont, tessellated with GLU into one
// point array; Print and Draw on top.
//
//   Glyph outlines  - flatten at the raw pixel size, then scale to em, y up
//   Tessellation    - GLU, nonzero winding, triangles only
//   Walls           - a quad strip per contour, facing away from the filled side
//   Build           - per code: front triangles, then wall strips
//   Print, Draw     - format, centre, draw each code's ranges and advance
#include "render/Font.h"

#include <GL/gl.h>
#include <GL/glu.h>

#include <QFont>
#include <QList>
#include <QPainterPath>
#include <QRawFont>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <vector>

#include "common/Text.h"

namespace gs {

namespace {

// Qt flattens curves to about half a pixel; at this size that is well under
// the 0.01 em chord deviation the glyphs are meant to have.
constexpr int OutlinePixelSize = 64;
// The last code with a glyph; 255 stays empty.
constexpr int LastGlyphCode = 254;

struct Point {
    double X, Y;
};
using Contour = std::vector<Point>;

// The glyph's closed contours in em units, y up, without the repeated
// closing point.
std::vector<Contour> GlyphContours(const QPainterPath& path) {
    std::vector<Contour> contours;
    const double scale = 1.0 / OutlinePixelSize;
    for (const QPolygonF& polygon : path.toSubpathPolygons()) {
        Contour contour;
        contour.reserve(polygon.size());
        for (const QPointF& p : polygon) contour.push_back({p.x() * scale, -p.y() * scale});
        while (contour.size() > 1 && contour.front().X == contour.back().X && contour.front().Y == contour.back().Y)
            contour.pop_back();
        if (contour.size() >= 3) contours.push_back(std::move(contour));
    }
    return contours;
}

// Nonzero winding number of all contours around p.
int WindingNumber(const std::vector<Contour>& contours, Point p) {
    int winding = 0;
    for (const Contour& c : contours) {
        for (std::size_t i = 0; i < c.size(); ++i) {
            const Point a = c[i], b = c[(i + 1) % c.size()];
            const double side = (b.X - a.X) * (p.Y - a.Y) - (p.X - a.X) * (b.Y - a.Y);
            if (a.Y <= p.Y) {
                if (b.Y > p.Y && side > 0) ++winding;
            } else if (b.Y <= p.Y && side < 0) {
                --winding;
            }
        }
    }
    return winding;
}

// Triangles of the glyph's filled area, as x, y pairs, counter-clockwise
// seen from +z.
class Tessellator {
public:
    Tessellator() : tess_(gluNewTess()) {
        if (!tess_) return;
        gluTessProperty(tess_, GLU_TESS_WINDING_RULE, GLU_TESS_WINDING_NONZERO);
        gluTessNormal(tess_, 0, 0, 1);
        gluTessCallback(tess_, GLU_TESS_VERTEX_DATA, reinterpret_cast<_GLUfuncptr>(&Vertex));
        gluTessCallback(tess_, GLU_TESS_COMBINE_DATA, reinterpret_cast<_GLUfuncptr>(&Combine));
        gluTessCallback(tess_, GLU_TESS_ERROR_DATA, reinterpret_cast<_GLUfuncptr>(&Error));
        // An edge-flag callback makes the tessellator emit plain triangles.
        gluTessCallback(tess_, GLU_TESS_EDGE_FLAG_DATA, reinterpret_cast<_GLUfuncptr>(&EdgeFlag));
    }
    ~Tessellator() {
        if (tess_) gluDeleteTess(tess_);
    }
    Tessellator(const Tessellator&) = delete;
    Tessellator& operator=(const Tessellator&) = delete;

    const std::vector<double>& Run(const std::vector<Contour>& contours) {
        triangles_.clear();
        extra_.clear();
        failed_ = false;
        if (!tess_) return triangles_;
        // The tessellator keeps these pointers until the polygon ends.
        input_.clear();
        for (const Contour& c : contours)
            for (const Point& p : c) input_.push_back({p.X, p.Y, 0.0});
        std::size_t next = 0;
        gluTessBeginPolygon(tess_, this);
        for (const Contour& c : contours) {
            gluTessBeginContour(tess_);
            for (std::size_t i = 0; i < c.size(); ++i, ++next)
                gluTessVertex(tess_, input_[next].data(), input_[next].data());
            gluTessEndContour(tess_);
        }
        gluTessEndPolygon(tess_);
        if (failed_ || triangles_.size() % 6 != 0) triangles_.clear();
        return triangles_;
    }

private:
    static void Vertex(void* vertex, void* self) {
        const auto* v = static_cast<const GLdouble*>(vertex);
        auto* t = static_cast<Tessellator*>(self);
        t->triangles_.push_back(v[0]);
        t->triangles_.push_back(v[1]);
    }
    static void Combine(GLdouble coords[3], void* [4], GLfloat[4], void** out, void* self) {
        auto* t = static_cast<Tessellator*>(self);
        t->extra_.push_back({coords[0], coords[1], coords[2]});
        *out = t->extra_.back().data();
    }
    static void Error(GLenum, void* self) { static_cast<Tessellator*>(self)->failed_ = true; }
    static void EdgeFlag(GLboolean, void*) {}

    GLUtesselator* tess_;
    std::vector<std::array<GLdouble, 3>> input_;
    std::deque<std::array<GLdouble, 3>> extra_;  // stable addresses
    std::vector<double> triangles_;
    bool failed_ = false;
};

void AddPoint(std::vector<float>& points, double x, double y, double z) {
    points.push_back(static_cast<float>(x));
    points.push_back(static_cast<float>(y));
    points.push_back(static_cast<float>(z));
}

// The front face, at z = 0 and facing +z. A glyph has no back face: a line
// of sight crosses the back face's plane once, so one that meets the back
// face also meets the front face or a wall, and the front face with the
// walls covers every pixel the closed solid would, seen from any side. The
// back face would be a third of the points to draw.
void AddFrontFace(std::vector<float>& points, const std::vector<double>& triangles) {
    for (std::size_t i = 0; i < triangles.size(); i += 2) AddPoint(points, triangles[i], triangles[i + 1], 0.0);
}

// Side walls along every contour edge, facing away from the filled side:
// one quad strip per contour, each point of the contour at the front and at
// the back, so neighbouring walls share their edge's points. Which side is
// filled comes from the flattened contours' winding number just beside the
// contour's longest edge. Adds each strip's first point and point count.
void AddWalls(std::vector<float>& points, std::vector<std::array<int, 2>>& strips,
              const std::vector<Contour>& contours) {
    const double depth = -FontExtrusion;
    for (const Contour& c : contours) {
        std::size_t longest = 0;
        double longestLength = -1;
        for (std::size_t i = 0; i < c.size(); ++i) {
            const Point a = c[i], b = c[(i + 1) % c.size()];
            const double length = std::hypot(b.X - a.X, b.Y - a.Y);
            if (length > longestLength) longestLength = length, longest = i;
        }
        if (longestLength <= 0) continue;
        const Point a = c[longest], b = c[(longest + 1) % c.size()];
        const double eps = 1e-4 / longestLength;
        const Point mid{(a.X + b.X) / 2, (a.Y + b.Y) / 2};
        const Point left{mid.X - (b.Y - a.Y) * eps, mid.Y + (b.X - a.X) * eps};
        const Point right{mid.X + (b.Y - a.Y) * eps, mid.Y - (b.X - a.X) * eps};
        const bool filledLeft = WindingNumber(contours, left) != 0;
        const bool filledRight = WindingNumber(contours, right) != 0;
        if (filledLeft == filledRight) continue;  // not a boundary of the glyph

        // Walked with the filled side on the left, back to the first point.
        // A repeated point makes a wall of no area, which draws nothing.
        const std::size_t n = c.size();
        const int first = static_cast<int>(points.size() / 3);
        for (std::size_t k = 0; k <= n; ++k) {
            const Point p = c[filledLeft ? k % n : (n - k) % n];
            AddPoint(points, p.X, p.Y, 0);
            AddPoint(points, p.X, p.Y, depth);
        }
        strips.push_back({first, static_cast<int>(points.size() / 3) - first});
    }
}

QRawFont ArialOutlines() {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(OutlinePixelSize);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    font.setHintingPreference(QFont::PreferNoHinting);
    return QRawFont::fromFont(font);
}

}  // namespace

void OutlineFont::Build() {
    Release();
    const QRawFont raw = ArialOutlines();
    if (!raw.isValid()) return;  // no glyphs: text draws nothing
    // Texts come from servers in the Windows-1252 code page: 0x80 is the
    // euro sign, 0x93 a curly quote. The page's five undefined codes get
    // glyph 0, so they stay empty like any code the font has no glyph for.
    QString codes;
    for (int code = 0; code <= LastGlyphCode; ++code)
        codes.append(QChar(static_cast<char16_t>(Windows1252Char(static_cast<unsigned char>(code)))));
    QList<quint32> glyphs = raw.glyphIndexesForString(codes);
    if (glyphs.size() != LastGlyphCode + 1) return;
    for (int code = 1; code <= LastGlyphCode; ++code)
        if (Windows1252Char(static_cast<unsigned char>(code)) == 0) glyphs[code] = 0;
    const QList<QPointF> advances = raw.advancesForGlyphIndexes(glyphs, QRawFont::UseDesignMetrics);

    const double scale = 1.0 / OutlinePixelSize;
    Tessellator tessellator;
    for (int code = 0; code <= LastGlyphCode; ++code) {
        // Index 0 is the font's "missing glyph" box: such codes stay empty.
        if (glyphs[code] == 0) continue;
        const QPainterPath path = raw.pathForGlyph(glyphs[code]);
        const QRectF box = path.boundingRect();
        GlyphMetric& m = metrics_[code];
        m.BlackBoxX = static_cast<float>(box.width() * scale);
        m.BlackBoxY = static_cast<float>(box.height() * scale);
        m.OriginX = static_cast<float>(box.left() * scale);
        m.OriginY = static_cast<float>(-box.top() * scale);
        m.CellIncX = static_cast<float>(advances[code].x() * scale);
        m.CellIncY = static_cast<float>(-advances[code].y() * scale);

        const std::vector<Contour> contours = GlyphContours(path);
        if (contours.empty()) continue;
        GlyphRanges& r = ranges_[code];
        r.FaceFirst = static_cast<int>(points_.size() / 3);
        AddFrontFace(points_, tessellator.Run(contours));
        r.FaceCount = static_cast<int>(points_.size() / 3) - r.FaceFirst;
        r.StripFirst = static_cast<int>(strips_.size());
        AddWalls(points_, strips_, contours);
        r.StripCount = static_cast<int>(strips_.size()) - r.StripFirst;
    }
    points_.shrink_to_fit();
    strips_.shrink_to_fit();
}

void OutlineFont::Release() {
    points_.clear();
    points_.shrink_to_fit();
    strips_.clear();
    strips_.shrink_to_fit();
    ranges_ = {};
    metrics_ = {};
}

float OutlineFont::TextWidth(std::string_view text) const {
    float width = 0;
    for (char c : text) width += metrics_[static_cast<unsigned char>(c)].CellIncX;
    return width;
}

void OutlineFont::DrawGlyphs(std::string_view text) const {
    if (text.empty()) return;
    if (!points_.empty()) {
        glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
        glEnableClientState(GL_VERTEX_ARRAY);
        glVertexPointer(3, GL_FLOAT, 0, points_.data());
    }
    for (char c : text) {
        const auto code = static_cast<unsigned char>(c);
        const GlyphRanges& r = ranges_[code];
        if (r.FaceCount > 0) glDrawArrays(GL_TRIANGLES, r.FaceFirst, r.FaceCount);
        for (int k = r.StripFirst; k < r.StripFirst + r.StripCount; ++k)
            glDrawArrays(GL_QUAD_STRIP, strips_[k][0], strips_[k][1]);
        glTranslatef(metrics_[code].CellIncX, metrics_[code].CellIncY, 0);
    }
    if (!points_.empty()) glPopClientAttrib();
}

void OutlineFont::Draw(bool centred, std::string_view text) const {
    glPushMatrix();
    if (centred) glTranslatef(-TextWidth(text) / 2, 0, 0);
    DrawGlyphs(text);
    glPopMatrix();
}

void OutlineFont::Print(bool centred, const char* format, ...) const {
    if (format == nullptr) return;
    char text[256];
    va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    // Longer texts are cut at 255 characters, the buffer's capacity.
    const std::size_t length =
        written < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(written), sizeof text - 1);
    Draw(centred, {text, length});
}

}  // namespace gs
