// From the glyphs of a font to those of a patch: which codes are taken and
// where they land (the -m map), and the 8-column cell cut to 7 columns.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "font_formats.h"

// Source codes `first` to `last` of the font, landing from `target` on.
struct CodeRange {
  uint32_t first;
  uint32_t last;
  uint32_t target;
};

// Adds the ranges of the map `text` to `map`: "FIRST-LAST=TARGET" or
// "CODE=TARGET", hexadecimal with or without 0x, "=TARGET" optional, '>'
// for '=' and several ranges joined by ',' also accepted; false, adding
// nothing, with the reason, which quotes the range, in `error`.
bool parse_code_map(std::string_view text, std::vector<CodeRange>& map, std::string& error);

// The codes of `range` as a map names them: "41" or "41-5A", no target.
std::string range_text(const CodeRange& range);

// The map without -m: codes 0x01 to 0xFF, each at its own code.
std::vector<CodeRange> default_code_map();

// The column of an 8-column cell that the image has no room for: the one
// with fewer set pixels in the glyphs of the patch (the rightmost on a tie,
// the leftmost when neither has any), or the one asked for.
enum class DropSide { fewest, right, left };

// Reads the column that --drop names, "left" or "right", into `drop`; false,
// with the reason in `error`, for anything else.
bool parse_drop_side(std::string_view text, DropSide& drop, std::string& error);

// The glyphs that a patch of a font holds.
struct PatchPlan {
  std::vector<FontGlyph> glyphs;      // at their target codes, ascending; rows as in the font
  uint32_t left_out = 0;              // glyphs of the font at no target code
  uint32_t lost_pixels = 0;           // glyphs of the patch that lose set pixels of `dropped`
  uint8_t dropped = 0;                // the cell column that is cut: 0x80, 0x01, or 0 for none
  uint32_t left_pixels = 0;           // set pixels in the leftmost column of the glyphs
  uint32_t right_pixels = 0;          // and in the rightmost
  std::vector<std::string> warnings;  // ranges that select nothing, codes lost, pixels lost
};

// Maps the glyphs of `font` through `map`. Each range takes every glyph of
// its codes, the glyph of FIRST landing on TARGET and the others in order
// after it; a target that two glyphs reach keeps the one of the earlier
// range (of the earlier glyph within a range), with a warning. A glyph is
// left out when none of its codes lands.
PatchPlan plan_patch(const Font& font, const std::vector<CodeRange>& map, DropSide drop);

// "leftmost" or "rightmost": the column that `plan` drops.
const char* dropped_column(const PatchPlan& plan);

// The row of the image, seven columns in bits 6 to 0, from row `row` of a
// cell with column 1 in bit 7, its `dropped` column cut.
uint8_t image_row(uint8_t row, uint8_t dropped);
