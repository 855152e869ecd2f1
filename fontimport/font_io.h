// The files of an import: the font file read, the ROM image written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include "font_patch.h"

// Opens the font file at `path` for reading, with no translation of any byte,
// hands it to `read` and closes it. False after "Failed to open font file",
// or after "Failed to read font file" when `read` fails with errno set.
bool read_font_file(const char* path, const std::function<bool(FILE*)>& read);

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
