// Font import: turns a font file into bytes of an open ROM image.
#pragma once

#include <cstddef>
#include <cstdio>

// The kind of a font file, decided by its extension.
enum class FontKind { none, text, binary };

// Glyphs of a patch that its import keeps in memory at most (24 MiB, twice
// that while they are sorted); those past them wait in files beside the image.
inline constexpr size_t kGlyphsHeld = size_t{3} << 19;

// Applies the font-patch text at `path` to the image `rom_name`, open as
// `rom`, which stays open, holding `held` glyphs in memory at most; its
// journal goes beside it (none when `rom_name` is null). Warnings and
// errors go to standard error; false after an error line, with nothing
// written when the font file could not be opened or read.
bool patch_text_font(FILE* rom, const char* rom_name, const char* path, size_t held = kGlyphsHeld);

// Copies the binary font image at `path` over the start of the image
// `rom_name`, open as `rom`, which stays open; false after an error line, as
// patch_text_font.
bool patch_binary_font(FILE* rom, const char* rom_name, const char* path);
