// Font import: turns a font file into bytes of an open ROM image.
#pragma once

#include <cstdio>

// The kind of a font file, decided by its extension.
enum class FontKind { none, text, binary };

// Applies the font-patch text at `path` to `rom`, which stays open. Warnings
// and errors go to standard error; false after an error line, with nothing
// written when the font file could not be opened or read.
bool patch_text_font(FILE* rom, const char* path);

// Copies the binary font image at `path` over the start of `rom`, which stays
// open; false after an error line, as patch_text_font.
bool patch_binary_font(FILE* rom, const char* path);
