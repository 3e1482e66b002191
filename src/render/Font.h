// The 3-D outline font and the one text output of the program.
//
// OutlineFont::Build turns the outlines of "Arial" (through fontconfig,
// usually the metric-compatible Liberation Sans) into extruded glyphs, a
// front face and side walls, one per character code, in em units: the
// font's em height is 1.0 and every caller scales and places text itself.
// Strings are Windows-1252 bytes, as servers send them; each byte draws its
// code's glyph.
//
// Text is only ever seen from its front (the camera looks straight down on
// the labels, the overlay faces it), so callers cull back faces: the faces
// turned towards the viewer cover all the glyph covers, and the walls on
// the far side are left out.
//
// The glyphs live in one point array in memory and are drawn from it through
// client-side vertex arrays, not display lists: drawing ever new texts
// (names and log lines from the network) through a display list per glyph
// grew the software GL driver's heap by over a hundred megabytes in seconds.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace gs {

// The per-glyph float metrics of one character code, in em units with y up.
struct GlyphMetric {
    float BlackBoxX = 0;  // ink width
    float BlackBoxY = 0;  // ink height
    float OriginX = 0;    // left edge of the ink, from the pen position
    float OriginY = 0;    // top edge of the ink, above the baseline
    float CellIncX = 0;   // pen advance after the glyph
    float CellIncY = 0;
};

constexpr int FontGlyphCount = 256;
constexpr float FontExtrusion = 0.08f;  // depth of the letters' walls, toward -z

// The outline font: the glyphs' points and the metrics of every code. It
// holds no GL objects; the GL panel that owns it builds it with its context
// and releases it with it.
class OutlineFont {
public:
    OutlineFont() = default;
    OutlineFont(const OutlineFont&) = delete;
    OutlineFont& operator=(const OutlineFont&) = delete;

    // Builds the glyphs and the metrics. Needs the GUI application object
    // (the font database).
    void Build();
    // Drops the glyphs and the metrics: text draws nothing until Build.
    void Release();

    bool Built() const { return !points_.empty(); }
    // Metrics of every code; codes without a glyph (no mapping in the font,
    // the five codes Windows-1252 leaves undefined, and 255) keep all zeros
    // and draw nothing.
    const std::array<GlyphMetric, FontGlyphCount>& Metrics() const { return metrics_; }

    // Sum of the cell increments of the text's bytes: the pen advance of
    // drawing it.
    float TextWidth(std::string_view text) const;
    // Draws the printf-formatted text (cut at 255 characters) at the current
    // model-view position; when `centred`, shifted left by half its width.
    // The caller's matrix is unchanged. A null format draws nothing.
    void Print(bool centred, const char* format, ...) const __attribute__((format(printf, 3, 4)));
    // Draws the text as it stands (the caller cuts it) the way Print does.
    void Draw(bool centred, std::string_view text) const;
    // Draws the text's glyphs at the pen and leaves the model-view matrix
    // moved on by the text's advance, as a run of letters would.
    void DrawGlyphs(std::string_view text) const;

private:
    // A code's triangles, front face and walls, as first entry and count
    // in indices_, and the range of points they use.
    struct GlyphRanges {
        int IndexFirst = 0, IndexCount = 0;
        std::uint32_t PointFirst = 0, PointLast = 0;
    };
    std::vector<float> points_;            // x, y, z of every glyph's points
    std::vector<std::uint32_t> indices_;  // every glyph's triangles
    std::array<GlyphRanges, FontGlyphCount> ranges_{};
    std::array<GlyphMetric, FontGlyphCount> metrics_{};
};

}  // namespace gs
