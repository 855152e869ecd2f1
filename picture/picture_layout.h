// Where everything lies in a picture of glyphs, and its colours: shared by
// the code that draws a picture and the code that reads one back.
//
// From the top: a band of column labels (0 to F), then the grid, rows of 16
// cells with a grid line of one pixel around each cell and the code of each
// row's first cell in hexadecimal at its left. Under the grid: the sample
// lines, if any, then the legend, if any, then the bottom margin.
#pragma once

#include <cstddef>
#include <cstdint>

// A colour of the picture.
struct Colour {
  uint8_t red, green, blue;
};

constexpr Colour kPaper{255, 255, 255};    // margins and clear pixels
constexpr Colour kInk{0, 0, 0};            // set pixels
constexpr Colour kLabel{48, 48, 48};       // the codes along the edges, the legend
constexpr Colour kGrid{160, 160, 160};     // lines between cells
constexpr Colour kNoGlyph{208, 208, 208};  // a slot without a glyph
constexpr Colour kMarkedSet{208, 16, 16};  // a set pixel of a marked (red) column
constexpr Colour kMarkedClear{255, 224, 224};

// Hexadecimal digits of 3x5 pixels, row 0 in bits 14 to 12, drawn twice as large.
constexpr uint16_t kDigits[16] = {0x7B6F, 0x2C97, 0x73E7, 0x73CF, 0x5BC9, 0x79CF, 0x79EF, 0x7249,
                                  0x7BEF, 0x7BCF, 0x2BED, 0x6BAE, 0x3923, 0x6B6E, 0x79A7, 0x79A4};
constexpr int kDigitScale = 2;
constexpr int kDigitAdvance = 4 * kDigitScale;  // 3 columns and a gap

constexpr int kCellPixels = 32;              // a cell, 8 columns of 4 pixels each
constexpr int kDotPixels = kCellPixels / 8;  // one pixel of a glyph
constexpr int kCellPitch = kCellPixels + 1;  // a cell and the grid line before it
constexpr int kGridWidth = 16 * kCellPitch + 1;
constexpr int kPictureTop = 18;  // the band of column labels; the grid's top line
constexpr int kColumnLabelTop = 4;
constexpr int kLabelGap = 4;                 // between a row label's right edge and the grid
constexpr int kMargin = 4;                   // right of the grid and at the bottom
constexpr uint32_t kMostPictureRows = 1024;  // rows of 16 cells in one picture

// Under the grid: each sample line is glyphs of 7 columns, side by side as
// the machine shows them, from the grid's left line on.
constexpr int kSampleGlyphPixels = 7 * kDotPixels;
constexpr int kSampleLinePitch = 8 + kCellPixels;  // a gap, then the glyphs
constexpr int kSampleLineGlyphs = kGridWidth / kSampleGlyphPixels;
constexpr int kLegendHeight = 6 + 5 * kDigitScale;  // a gap, then one line of letters
constexpr size_t kMostSampleBytes = 1024;           // about 57 lines

// The lines that a sample of `bytes` bytes fills.
constexpr int sample_line_count(size_t bytes) {
  return static_cast<int>((bytes + kSampleLineGlyphs - 1) / kSampleLineGlyphs);
}

// The label band's width when the highest row starts at `last_row_code`:
// where the grid's left line is.
int picture_left(uint32_t last_row_code);

// Number of hexadecimal digits of a row label for `code`: at least 2.
int label_digits(uint32_t code);

// The y of the line under the grid of `rows` rows: the first pixel past it.
constexpr int grid_bottom(int rows) { return kPictureTop + rows * kCellPitch + 1; }

// The picture's width with its grid's left line at `left`.
constexpr int picture_width(int left) { return left + kGridWidth + kMargin; }

// The picture's height: `rows` rows of cells, `sample_lines` lines of sample
// text and a legend when `legend`.
constexpr int picture_height(int rows, int sample_lines, bool legend) {
  return grid_bottom(rows) + sample_lines * kSampleLinePitch + (legend ? kLegendHeight : 0) +
         kMargin;
}
