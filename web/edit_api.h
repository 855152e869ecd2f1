// The glyph editor page's C API over the libraries of the tools: the page
// keeps the image here, edits it glyph by glyph, brings fonts in and writes
// them out through these functions only. One image at a time, held in this
// module; results wait here until the next call of their kind. A failure
// returns 0 or -1 with the tools' own message text in zp_message().
#pragma once

#include <cstdint>

extern "C" {

// Room for an image of `size` bytes, zeroed, replacing the one held; the
// caller copies the file's bytes in, then calls zp_image_opened(). Null
// (message set) when the image is too large for the page.
uint8_t* zp_image_reserve(uint32_t size);

// Keeps the image's bytes as opened or saved, what Export patch compares with.
void zp_image_opened();

// The image's bytes and their count; glyph C lies at bytes 8C to 8C+7.
uint8_t* zp_image();
uint32_t zp_image_size();

// The codes of the image's whole slots: 0 to zp_glyph_count() - 1.
uint32_t zp_glyph_count();

// The 8 bytes of glyph `code` as opened or last saved; null past the slots.
const uint8_t* zp_opened_glyph(uint32_t code);

// Writes the 8 bytes at `rows` into glyph `code`; 0 past the slots.
int zp_put_glyph(uint32_t code, const uint8_t* rows);

// What zp_edit_glyph() does to a glyph: pixels are bits 6 (column 1) to 0
// (column 7) of a row, and bit 7 its own column.
enum ZpEdit {
  ZP_TOGGLE = 0,      // the bit `bit` of row `row`
  ZP_SET = 1,         // set it
  ZP_CLEAR_BIT = 2,   // clear it
  ZP_SHIFT_UP = 3,    // the 7 columns move one row up, a blank row coming in below
  ZP_SHIFT_DOWN = 4,  // one row down
  ZP_SHIFT_LEFT = 5,  // one column left, column 1 lost; bit 7 stays
  ZP_SHIFT_RIGHT = 6,
  ZP_FLIP_ACROSS = 7,  // columns 1 to 7 mirrored
  ZP_FLIP_DOWN = 8,    // rows 0 to 7 mirrored
  ZP_INVERT = 9,       // the 7 columns inverted; bit 7 stays
  ZP_CLEAR = 10,       // all 8 bytes 0
};

// Changes glyph `code` as `edit` says (`row` 0-7 and `bit` 0-7 for the
// pixel edits); 1 when its bytes changed, 0 when not or past the slots.
int zp_edit_glyph(uint32_t code, int edit, int row, int bit);

// Reads the font `bytes` (`size` of them) of file `name` as zenpo-convert
// does, through the map `map` (ranges as -m takes them, several separated
// by spaces; empty for the default) and the column `drop` ("", "left",
// "right"), or a font patch when `name` ends in ".txt". The glyphs it puts
// into the image, with the bytes they get there (given rows as zenpo writes
// them: bit 7 clear, the rows a patch leaves out as they are), wait in
// zp_import_codes() and zp_import_rows(); the image is not changed. Returns
// their count, or -1 with the error; warnings in zp_message() either way.
int zp_import(const uint8_t* bytes, uint32_t size, const char* name, const char* map,
              const char* drop);
const uint32_t* zp_import_codes();
const uint8_t* zp_import_rows();  // 8 bytes a glyph

// What zp_export() writes.
enum ZpFormat { ZP_PATCH = 0, ZP_PNG = 1, ZP_BDF = 2, ZP_PSF = 3, ZP_HEX = 4 };

// Writes the image `name` as `format` into zp_output(): a patch of the
// glyphs that differ from the image as opened, or codes 01 to FF as
// zenpo-dump -o writes them, a PNG with `sample` under its glyphs. Returns
// 1, or 0 with the error; a note (rows whose bit 7 the patch loses) in
// zp_message().
int zp_export(int format, const char* name, const char* sample);
const uint8_t* zp_output();
uint32_t zp_output_size();

// The text of the last error or warnings, lines ending in LF; empty when none.
const char* zp_message();
}
