// The files of an import: the font file read, the ROM image written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "font_patch.h"

// Opens a font file for reading, with no translation of any byte; null on
// failure, with errno set.
FILE* open_font_file(const char* path);

// Reads the rest of `font` into `bytes`; false on a read error, errno set.
bool read_font_bytes(FILE* font, std::vector<char>& bytes);

// Size of the image in bytes; -1 on failure, errno set.
int64_t rom_size(FILE* rom);

// Tells, as a warning of `path` at `line`, when writing up to `new_end` makes
// the image grow; false after "Failed to write ROM image" when its size
// cannot be learnt.
bool warn_of_growth(FILE* rom, int64_t new_end, const char* path, uint64_t line);

// Writes the given rows of `glyphs`, sorted by code, into the image and
// flushes it; false after "Failed to write ROM image".
bool write_glyph_rows(FILE* rom, const std::vector<PatchGlyph>& glyphs);

// Writes `size` bytes over the start of the image and flushes it; false
// after "Failed to write ROM image".
bool write_rom_start(FILE* rom, const char* data, size_t size);
