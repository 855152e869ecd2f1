// The decoded pixels of a picture being read, shared by the reader of the
// tools' pictures and that of sheets. Internal to this folder.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "font_formats.h"
#include "picture_layout.h"

// Pixels of three bytes (red, green, blue) each, row after row, alpha
// already composited over white.
struct Pixels {
  int width = 0;
  int height = 0;
  const uint8_t* rgb = nullptr;
};

inline Colour pixel(const Pixels& p, int x, int y) {
  const uint8_t* at = p.rgb + (static_cast<size_t>(y) * static_cast<size_t>(p.width) + x) * 3;
  return {at[0], at[1], at[2]};
}

inline int luma(Colour c) { return (299 * c.red + 587 * c.green + 114 * c.blue) / 1000; }

// A set pixel, of a glyph or of a label: darker than the middle grey.
inline bool dark(Colour c) { return luma(c) < 128; }

// `c` is `want`, give or take what a paint program's palette may change.
inline bool near(Colour c, Colour want) {
  return std::abs(c.red - want.red) <= 20 && std::abs(c.green - want.green) <= 20 &&
         std::abs(c.blue - want.blue) <= 20;
}

// Dots that a user painted in part, counted while the cells are read.
struct MixedDots {
  std::vector<uint32_t> codes;  // the glyphs that hold one, the first four
  uint32_t count = 0;           // all of them
};

// Adds glyph `code` to `mixed` when `mixed_here`.
void note_mixed(MixedDots& mixed, uint32_t code, bool mixed_here);

// Appends the warning naming the glyphs of `mixed` to `font`, if any, in
// the colour of its ink.
void warn_mixed(const MixedDots& mixed, Font& font);

// Reads the picture as one that the tools drew, into `font`; false when
// its width and its grid's top line are not where they put them (it may
// then be a sheet), true once it has been read or has failed.
bool read_tool_picture(const Pixels& p, Font& font);

// Why `p` is no picture of the tools that can be read, when it looks like
// one whose grid was moved, cropped or scaled; empty when it does not.
std::string tool_picture_misfit(const Pixels& p);
