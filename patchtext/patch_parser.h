// The font-patch text, read: bytes in, glyph rows and warnings out. Like
// every parser here it touches no file and prints nothing, so it can be
// tested, fuzzed and measured on its own; what is wrong with a line comes
// back as a warning of that line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Set in PatchGlyph::rows[i] when the patch gives row i; the low seven bits
// are the row's columns and bit 7 of a written byte is always 0.
constexpr uint8_t kRowGiven = 0x80;
constexpr uint8_t kRowBits = 0x7F;

// The rows that a patch gives for one code.
struct PatchGlyph {
  uint32_t code;    // 1 to kCodeLimit - 1
  uint32_t line;    // line of its header (capped at UINT32_MAX)
  uint8_t rows[8];  // row i is given when rows[i] & kRowGiven
};

// A warning about one line of a patch.
struct PatchWarning {
  uint64_t line;
  std::string text;
};

// What a patch holds.
struct PatchText {
  std::vector<PatchGlyph> glyphs;      // complete or cut-short glyphs, in file order
  std::vector<PatchWarning> warnings;  // in line order
};

// Sets `chunk` to the next bytes of a patch, which stay as they are until
// the next call; false at the end of the input.
using PatchChunks = std::function<bool(std::string_view& chunk)>;

// Parses the patch that `next` hands over chunk by chunk, a line running
// across any number of them, up to their end or a Ctrl-Z byte. `size`, the
// input's size when it is known (else 0), makes room for its glyphs at once.
PatchText parse_patch_chunks(const PatchChunks& next, int64_t size = 0);

// Parses a whole patch held in memory.
PatchText parse_font_patch(std::string_view text);

// Sorts the glyphs by code and folds each repeated code into its first
// glyph, row by row, the later rows winning; warns of each repeat.
void merge_patch_glyphs(PatchText& patch);
