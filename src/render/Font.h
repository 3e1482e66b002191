// The 3-D outline font and the one text output of the program.
//
// OutlineFont::Build turns the outlines of "Arial" (through fontconfig, usually the
// metric-compatible Liberation Sans) into 256 display lists of solid,
// extruded glyphs, one per character code, in em units: the font's em
// height is 1.0 and every caller scales and places text itself. Strings are
// Windows-1252 bytes, as servers send them; each byte calls its code's list.
#pragma once

#include <array>
#include <string_view>

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
constexpr float FontExtrusion = 0.08f;  // depth of the solid letters, toward -z

// The outline font of one GL context: its 256 display lists and the metrics
// of every code. Built in a context and released in the same one, by the
// GL panel that owns it.
class OutlineFont {
public:
    OutlineFont() = default;
    OutlineFont(const OutlineFont&) = delete;
    OutlineFont& operator=(const OutlineFont&) = delete;

    // Builds the lists and the metrics in the current GL context. Needs the
    // GUI application object (the font database) and a current context.
    void Build();
    // Deletes the lists; the context they were built in must be current.
    void Release();

    // First of the 256 consecutive display lists (0 until Build ran).
    unsigned int Base() const { return base_; }
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

private:
    unsigned int base_ = 0;
    std::array<GlyphMetric, FontGlyphCount> metrics_{};
};

}  // namespace gs
