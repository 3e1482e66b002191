// Outline font: glyph outlines from QRawFont, tessellated with GLU into one
// point array; Print and Draw on top.
//
//   Glyph outlines  - flatten at the raw pixel size, then scale to em, y up
//   Tessellation    - GLU, nonzero winding, triangles only
//   Walls           - two triangles per contour edge, facing away from the filled side
//   Build           - per code: front and back points, face and wall triangles
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
#include <cstdint>
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

// Triangles of the glyph's filled area, counter-clockwise seen from +z, as
// indices into the glyph's points: the contours' points in order, then any
// the tessellator adds where contours cross.
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

    // Fills `points` and returns the triangles' indices into it; no
    // triangles when the tessellator fails.
    const std::vector<std::uint32_t>& Run(const std::vector<Contour>& contours, std::vector<Point>& points) {
        triangles_.clear();
        points_ = &points;
        points.clear();
        for (const Contour& c : contours) points.insert(points.end(), c.begin(), c.end());
        failed_ = false;
        if (!tess_) return triangles_;
        // Each vertex's data is its index; the tessellator copies the
        // coordinates.
        std::uintptr_t next = 0;
        gluTessBeginPolygon(tess_, this);
        for (const Contour& c : contours) {
            gluTessBeginContour(tess_);
            for (const Point& p : c) {
                GLdouble xyz[3] = {p.X, p.Y, 0.0};
                gluTessVertex(tess_, xyz, reinterpret_cast<void*>(next++));
            }
            gluTessEndContour(tess_);
        }
        gluTessEndPolygon(tess_);
        if (failed_ || triangles_.size() % 3 != 0) triangles_.clear();
        return triangles_;
    }

private:
    static void Vertex(void* index, void* self) {
        static_cast<Tessellator*>(self)->triangles_.push_back(
            static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(index)));
    }
    static void Combine(GLdouble coords[3], void* [4], GLfloat[4], void** out, void* self) {
        auto* t = static_cast<Tessellator*>(self);
        *out = reinterpret_cast<void*>(static_cast<std::uintptr_t>(t->points_->size()));
        t->points_->push_back({coords[0], coords[1]});
    }
    static void Error(GLenum, void* self) { static_cast<Tessellator*>(self)->failed_ = true; }
    static void EdgeFlag(GLboolean, void*) {}

    GLUtesselator* tess_;
    std::vector<Point>* points_ = nullptr;
    std::vector<std::uint32_t> triangles_;
    bool failed_ = false;
};

void AddPoint(std::vector<float>& points, double x, double y, double z) {
    points.push_back(static_cast<float>(x));
    points.push_back(static_cast<float>(y));
    points.push_back(static_cast<float>(z));
}

// Side walls along every contour edge, facing away from the filled side,
// each a quad of two triangles between an edge's points at the front and
// the same points at the back, `back` indices on. Which side is filled
// comes from the flattened contours' winding number just beside the
// contour's longest edge. `first` is the index of the contours' first point.
void AddWalls(std::vector<std::uint32_t>& indices, const std::vector<Contour>& contours, std::uint32_t first,
              std::uint32_t back) {
    std::uint32_t start = first;  // the contour's first point
    for (const Contour& c : contours) {
        const std::uint32_t n = static_cast<std::uint32_t>(c.size());
        const std::uint32_t base = start;
        start += n;
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

        for (std::uint32_t i = 0; i < n; ++i) {
            std::uint32_t p = i, q = (i + 1) % n;
            if (!filledLeft) std::swap(p, q);  // walk with the filled side on the left
            if (c[p].X == c[q].X && c[p].Y == c[q].Y) continue;
            p += base, q += base;
            indices.insert(indices.end(), {p, p + back, q + back, p, q + back, q});
        }
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
    std::vector<Point> face;
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
        // A glyph's points: the front face's at z = 0, then the contours'
        // points again at the back. It has no back face: a line of sight
        // crosses the back face's plane once, so one that meets the back
        // face also meets the front face or a wall, and the front face with
        // the walls covers every pixel the closed solid would, seen from any
        // side.
        const std::vector<std::uint32_t>& triangles = tessellator.Run(contours, face);
        const auto first = static_cast<std::uint32_t>(points_.size() / 3);
        const auto back = static_cast<std::uint32_t>(face.size());
        for (const Point& p : face) AddPoint(points_, p.X, p.Y, 0);
        for (const Contour& c : contours)
            for (const Point& p : c) AddPoint(points_, p.X, p.Y, -FontExtrusion);
        GlyphRanges& r = ranges_[code];
        r.IndexFirst = static_cast<int>(indices_.size());
        for (const std::uint32_t t : triangles) indices_.push_back(first + t);
        AddWalls(indices_, contours, first, back);
        r.IndexCount = static_cast<int>(indices_.size()) - r.IndexFirst;
        r.PointFirst = first;
        r.PointLast = static_cast<std::uint32_t>(points_.size() / 3) - 1;
    }
    points_.shrink_to_fit();
    indices_.shrink_to_fit();
}

void OutlineFont::Release() {
    points_.clear();
    points_.shrink_to_fit();
    indices_.clear();
    indices_.shrink_to_fit();
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
        if (r.IndexCount > 0)
            glDrawRangeElements(GL_TRIANGLES, r.PointFirst, r.PointLast, r.IndexCount, GL_UNSIGNED_INT,
                                indices_.data() + r.IndexFirst);
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
