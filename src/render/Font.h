// The 3-D outline font and the one text output of the program.
//
// BuildFont turns the outlines of "Arial" (through fontconfig, usually the
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

// First of the 256 consecutive display lists (0 until BuildFont ran).
extern unsigned int FontBase;
// Metrics of every code; codes without a glyph (no mapping in the font, the
// C1 controls 128..159, and 255) keep all zeros and draw nothing.
extern std::array<GlyphMetric, FontGlyphCount> GlyphMetrics;

// Builds the lists and GlyphMetrics in the current GL context. Needs the GUI
// application object (the font database) and a current context.
void BuildFont();

// Sum of the cell increments of the text's bytes: the pen advance of
// drawing it.
float TextWidth(std::string_view text);

// Draws the printf-formatted text (cut at 255 characters) at the current
// model-view position; when `centred`, shifted left by half its width. The
// caller's matrix is unchanged. A null format draws nothing.
void PrintText(bool centred, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Draws the text as it stands (the caller cuts it) the way PrintText does.
void DrawString(bool centred, std::string_view text);

}  // namespace gs
