// Writing glyphs as the fonts of other programs: BDF 2.1, PSF 2 and hex
// fonts, each read back glyph for glyph by this folder's parsers. Pure
// functions: they open no file and print nothing; a font that a format
// cannot hold comes back with its reason.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "font_formats.h"

// The writers take `glyphs` ascending by code, each code once, codes 0x1 to
// 0xFFFFFFF, each in an 8x8 cell with 7 rows above the baseline and 1 below.

// The glyphs as a BDF 2.1 font of 8x8 character cells, named after the file
// `name` (its folders left out, "unnamed" when empty) in an XLFD name of
// registry FontSpecific.
// Every code is written; X11 holds codes up to 0xFFFF only, so bdftopcf
// leaves out the glyphs past it (the font's COMMENT says so). No glyphs make
// a font of no characters, which bdftopcf refuses.
std::string write_bdf_font(const std::vector<FontGlyph>& glyphs, std::string_view name);

// The last code written to a PSF font: its 4096 glyphs of 8 bytes stay
// within the 64 KiB that the console font tools (kbd) read.
constexpr uint32_t kPsfLastCode = 0xFFF;

// The glyphs as a PSF 2 font, 8x8, no Unicode table: the glyph of code C at
// position C, the other positions blank, 256 positions or as many as the
// highest code needs. Empty, with the reason in `error`, when a code is past
// kPsfLastCode.
std::string write_psf_font(const std::vector<FontGlyph>& glyphs, std::string& error);

// The glyphs as a hex font: a line "CODE:ROWS" each, CODE in at least 4
// upper-case hexadecimal digits, ROWS two digits a row, top to bottom.
std::string write_hex_font(const std::vector<FontGlyph>& glyphs);
