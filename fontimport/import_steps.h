// Steps that both importers take. Each prints its own error or warning line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>

// Opens the font file at `path` for reading, with no translation of any byte,
// hands it to `read` and closes it. False after "Failed to open font file",
// or after "Failed to read font file" when `read` fails with errno set.
bool read_font_file(const char* path, const std::function<bool(FILE*)>& read);

// Size of the image, for its growth warning; -1 after "Failed to write ROM
// image" when it cannot be learnt.
int64_t rom_size_for_patch(FILE* rom);

// Tells, as a warning of `path` at `line`, when writing up to `new_end` makes
// the image of `old_size` bytes grow.
void warn_of_growth(int64_t old_size, int64_t new_end, const char* path, uint64_t line);
