// A picture of glyphs as a PNG image: rows of 16 cells in code order, with
// the codes in hexadecimal along the top and left edges, and under them a
// sample line in the font and a legend of the red column when asked for.
//
// Each 8x8 cell is drawn 4 times as large, 32x32 pixels, with a grid line
// of one pixel between cells. A row's label is the code of its first cell,
// a column's the last hexadecimal digit: glyph 0x41 is in the row "40",
// column "1". Rows that hold no glyph are left out; a slot without a glyph
// is grey. Set pixels are black; those of the marked columns, which the
// image cannot keep, are red, and their clear pixels pale red.
//
// All of it happens in memory: nothing is printed, and a failure is the
// return value.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "font_formats.h"
#include "picture_layout.h"

// A glyph to draw: column 1 of its 8 columns in bit 7 of each row.
struct PictureGlyph {
  uint32_t code;
  uint8_t rows[8];
};

// Pixels, three bytes (red, green, blue) each, row after row.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
};

// The glyphs of a font as a picture draws them.
std::vector<PictureGlyph> picture_glyphs(const std::vector<FontGlyph>& glyphs);

// Why --text `sample` (null when not given) cannot be drawn: not into a
// `picture`, or too long; empty when it can.
std::string sample_text_error(const char* sample, bool picture);

// What goes under the grid: a sample line in the font and a legend.
struct PictureText {
  std::string_view sample;  // bytes, each drawn as its glyph; at most kMostSampleBytes
  std::string_view legend;  // capitals, digits and ":,.=-()"; what comes before ':' is red
};

// What a picture of an image's glyphs says of its red column.
constexpr char kBitSevenLegend[] = "RED COLUMN: BIT 7 OF EACH ROW, WHICH A PATCH CANNOT WRITE";

// Draws `glyphs`, ascending by code and each code once, with the columns of
// the bits in `marked` in red, and `text` under them; false, drawing
// nothing, when they need more than kMostPictureRows rows.
bool draw_glyph_picture(const std::vector<PictureGlyph>& glyphs, uint8_t marked, Picture& picture,
                        const PictureText& text = {});

// The picture as the bytes of a PNG file; empty when the encoder fails.
std::string encode_png(const Picture& picture);
