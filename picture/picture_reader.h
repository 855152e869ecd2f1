// Reading a picture of glyphs back: a PNG that zenpo-dump or zenpo-convert
// drew, or a plain font sheet made elsewhere.
//
// The tools' own pictures are found from the picture alone, whatever a
// paint program did to its colour type and chunks: the grid and the codes
// from its size, its grid lines and its row labels. A picture whose grid was
// moved, cropped or scaled is refused, never read at another offset.
//
// Pure functions, like the font parsers: nothing is printed, and a picture
// that cannot be read comes back as a failed Font with the reason (line 0).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "font_formats.h"

// Pictures of more pixels than this are refused before they are decoded:
// the tools' largest, 1024 rows of cells with sample lines under them, has
// about 21 million.
constexpr uint64_t kMostPicturePixels = uint64_t{1} << 25;
constexpr int kMostPictureSide = 1 << 16;  // pixels across or down

// Cells of a sheet taken at most: a sheet of smaller cells is refused.
constexpr uint64_t kMostSheetGlyphs = uint64_t{1} << 16;

// How a sheet made elsewhere lies. Defaults: the common sheet, a 16x16
// grid of 8x8 cells, no margin, no gap, scale 1, codes from 0 in reading
// order. Margins and gaps are in the picture's own pixels; each pixel of a
// cell is `scale` x `scale` of them.
struct SheetOptions {
  int cell_width = 8, cell_height = 8;
  int margin_x = 0, margin_y = 0;  // before the first column and the first row
  int gap_x = 0, gap_y = 0;        // between columns and between rows
  int scale = 1;
  int columns = 16;
  uint32_t first = 0;  // the code of the top left cell
  bool given = false;  // an option was given: the picture is such a sheet
};

// Reads option `name`'s `value` into `sheet`: "--cell" WxH, "--margin" N or
// XxY, "--gap" N or XxY, "--scale" N, "--columns" N, "--first" hex code.
// False, changing nothing, with the reason in `error`.
bool parse_sheet_option(std::string_view name, std::string_view value, SheetOptions& sheet,
                        std::string& error);

// Reads the PNG `png`: a picture drawn by the tools, else with `sheet.given`
// a sheet as `sheet` says, else the common 128x128 sheet. Format "PNG
// picture" or "PNG sheet"; a damaged PNG, or one that is neither, fails. A
// sheet's paper is the commoner colour of its cells: when that is dark, its
// light pixels are the glyphs' and `light_ink` is set.
Font read_glyph_picture(std::string_view png, const SheetOptions& sheet);
