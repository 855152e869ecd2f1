// Bitmap fonts of other programs read into glyphs of an 8-row cell: PSF 1 and
// 2 console fonts (also gzip-compressed), BDF 2.1 and hex fonts. Each parser
// is a pure function from the bytes of a file to a Font: it opens no file
// and prints nothing, and a damaged font comes back failed,
// with the reason and its line in the Font.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One glyph of a font at one of its codes, placed in the image's cell of 8 rows.
struct FontGlyph {
  uint32_t code;    // position (PSF), ENCODING (BDF), code (hex), or code point (PSF with -u)
  uint32_t index;   // its place among the glyphs of the file, from 0
  uint8_t rows[8];  // rows 0 to 7, top to bottom; column 1 of the cell in bit 7
};

// A warning or error; `line` is 0 for a binary font or the file as a whole.
struct FontMessage {
  uint64_t line = 0;
  std::string text;
};

// What a parser makes of a file.
struct Font {
  std::string format;                 // "PSF 1", "PSF 2", "BDF 2.1", "hex"
  int width = 8;                      // columns of the cell, 1 to 8
  int height = 8;                     // rows of the cell, 1 to 8
  uint32_t count = 0;                 // glyphs in the file, those without a code included
  bool unicode_table = false;         // a PSF that carries a Unicode table
  uint8_t marked = 0;                 // a picture's red column, lost to the image: 0x80, 0x01, 0
  bool light_ink = false;             // a sheet drawn light on dark paper
  std::vector<FontGlyph> glyphs;      // a glyph at each of its codes, in file order
  std::vector<FontMessage> warnings;  // in file order
  bool failed = false;                // the file is not a font that converts; see `error`
  FontMessage error;
};

// Reads a PSF 1 or 2 font, a glyph shorter than 8 rows at the top of the
// image's cell; with `unicode`, a glyph takes every code point of its
// Unicode table entry. A damaged or cut-short file, or glyphs taller or
// wider than 8, fail.
Font parse_psf(std::string_view data, bool unicode);

// Reads a BDF font, its baseline where the image's is when the cell allows.
// A missing ENDCHAR or ENDFONT, a bad BITMAP row or a cell taller or wider
// than 8 fails; a glyph with a set pixel outside the cell is skipped
// (warning), one whose box passes the cell by blank pixels taken.
Font parse_bdf(std::string_view text);

// Reads a hex font of CODE:HEXDIGITS lines; an 8x16 or 16x16 glyph is
// skipped (warning), a bad line or a glyph of other digits fails.
Font parse_hex_font(std::string_view text);

// Reads a font of any kind above, told by its first bytes, gzip'd or not;
// fails when the kind is none of them.
Font parse_font(std::string_view data, bool unicode);
