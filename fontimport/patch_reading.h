// Reading a patch file: in one part, or in parts side by side when it is a
// large regular file, the glyphs past those that memory holds moved to
// spill files as they come. Like files.h, these print nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include "glyph_spill.h"
#include "patch_parser.h"

// What the codes of a part are like, its dropped glyphs included.
struct PartShape {
  bool ascend = true;  // each code is above the one before
  bool any = false;    // it has a glyph
  uint32_t first = 0;  // the first code and the last
  uint32_t last = 0;
  size_t dropped = 0;  // glyphs left out as the image holds them already
};

// True when the codes of a patch parsed into `parts` of `shapes` only ascend,
// one part after the other: then each glyph is as it will be written.
bool patch_ascends(const std::vector<PatchPart>& parts, const std::vector<PartShape>& shapes);

// Parses `font` block by block, up to its end or a Ctrl-Z, into one part,
// or into parts side by side when it is a large regular file, each with its
// store of the glyphs past `held` and its shape. When `rom` is given, the
// image of `rom_size` bytes, parts in parts leave out the glyphs that it
// holds already for as long as their codes ascend: they are no matter when
// the whole patch's do, and the patch is parsed again without `rom` when
// not. False on a read error, errno set.
bool parse_font_file(FILE* font, size_t held, FILE* rom, int64_t rom_size,
                     std::vector<PatchPart>& parts, std::vector<GlyphStore>& stores,
                     std::vector<PartShape>& shapes);
