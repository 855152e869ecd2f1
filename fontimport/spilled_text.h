// The text import of a patch whose glyphs went to spill files.
#pragma once

#include <cstddef>
#include <cstdio>
#include <vector>

#include "glyph_spill.h"
#include "patch_parser.h"

// Applies the patch at `path` to the image `rom_name`, parsed into `parts` whose glyphs are in
// `stores` (one each) and the parts themselves, a range of at most `held`
// glyphs at a time: once to learn its warnings and what it changes, once
// more to write that. Prints as patch_text_font() and returns the same.
bool patch_spilled_text(FILE* rom, const char* rom_name, const char* path,
                        std::vector<PatchPart>& parts, std::vector<GlyphStore>& stores,
                        size_t held);
