// The glyphs of a patch too large to keep in memory: moved to a spill file
// as they are parsed, then read back a range of codes at a time, each range
// sorted and its repeats folded as the whole patch's would be. These print
// nothing: a failure returns with errno set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "patch_parser.h"

// Where a patch's glyphs spill: beside the image, in the current folder.
inline constexpr char kGlyphSpillFolder[] = ".";

// The glyphs of one part of a patch, in file order: the first `spilled` of
// `file`, then those of `rest`. Their lines count from the part's first.
struct GlyphStore {
  FILE* file = nullptr;  // the spill file, null until glyphs first go there
  uint64_t spilled = 0;
  bool stuck = false;  // no spill file could be made or filled: glyphs stay in memory
  std::vector<PatchGlyph> rest;
  uint64_t before = 0;             // lines of the parts before this one
  std::vector<uint64_t> counts{};  // spilled glyphs of each bucket of codes
};

// Codes from first to end - 1.
struct CodeSpan {
  uint32_t first;
  uint32_t end;
};

// Moves `glyphs` to the end of the spill file of `store`, made in `folder`
// the first time, and clears them; leaves them when no spill file can be
// made or filled, and from then on.
void spill_glyphs(GlyphStore& store, std::vector<PatchGlyph>& glyphs, const char* folder);

// Closes the spill file of `store`, which only this process ever reads.
void close_glyph_store(GlyphStore& store);

// Cuts the codes of the stores' glyphs into ranges of at most `most` glyphs
// each, in order; a range is never narrower than a bucket of 4096 codes,
// which may hold more, as many repeats of a code do.
std::vector<CodeSpan> plan_code_ranges(const std::vector<GlyphStore>& stores, size_t most);

// Sets `range_text` to the glyphs of the stores whose codes lie in `range`,
// their lines counted from the patch's start, sorted by code with each
// repeat folded into the first of its code and warned of, as
// merge_patch_glyphs() does; at most `most` glyphs are held at a time but
// for those of one code each. False with errno set when a spill file cannot
// be read back.
bool gather_code_range(const std::vector<GlyphStore>& stores, CodeSpan range, size_t most,
                       PatchText& range_text);
