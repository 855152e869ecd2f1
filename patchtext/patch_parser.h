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

// Parses a whole patch held in memory. `plain` reads it byte by byte, with
// none of the faster paths: the reference that they must agree with.
PatchText parse_font_patch(std::string_view text, bool plain = false);

// A large patch is cut at header lines into parts that parse side by side:
// a line that starts with '@' starts a glyph whatever came before it, so a
// part's glyphs and warnings are those of the whole text but for the number
// of the lines before it and the warning of a drawn row, given once a file.

// What a part of a patch holds.
struct PatchPart {
  PatchText text;        // lines numbered from the part's first, 1
  uint64_t lines = 0;    // the line ends in it
  bool ended = false;    // a Ctrl-Z ended the text in it: later parts hold none
  int64_t drawing = -1;  // index of its warning of a row drawn with '.', '-', '_' or ' '
};

// True when a patch that starts with the bytes `start` may be cut into parts:
// it is not UTF-16. False for fewer than two bytes.
bool patch_splits(std::string_view start);

// Where in `bytes`, which lie within a patch that splits, a part may start:
// the first '@' after a LF; npos when there is none.
size_t next_header_line(std::string_view bytes);

// Is handed the glyphs that a parse has found so far after each chunk, so
// that memory stays bounded however long the patch: `take` may move them
// away, clearing the vector, and those found later then follow them in file
// order; or it may leave them, to be kept with the rest. The parse makes
// room for no more than `room` glyphs at first.
struct GlyphSink {
  size_t room = 0;
  std::function<void(std::vector<PatchGlyph>& glyphs)> take;
};

// Parses one part of a patch from `next` as parse_patch_chunks, `first` when
// it starts the patch; any later one starts at next_header_line(). Glyphs
// go to `sink` as it asks, between chunks.
PatchPart parse_patch_part(const PatchChunks& next, int64_t size, bool first,
                           const GlyphSink& sink = {});

// Runs task(0) to task(count - 1), side by side where it can, and returns
// once all are done.
using PatchTasks = std::function<void(size_t count, const std::function<void(size_t)>& task)>;

// Runs the tasks one after another.
void run_in_turn(size_t count, const std::function<void(size_t)>& task);

// The patch of its parts, in order: what parse_patch_chunks gives for the
// whole, but that the glyphs are sorted by code, those of one code in file
// order. The sort runs for all parts side by side on `run`.
PatchText join_patch_parts(std::vector<PatchPart> parts, const PatchTasks& run = run_in_turn);

// Sorts glyphs by code, keeping the order of those of one code.
void sort_patch_glyphs(std::vector<PatchGlyph>& glyphs);

// Sorts the glyphs by code and folds each repeated code into its first
// glyph, row by row, the later rows winning; warns of each repeat. The
// glyphs of one code must come in file order; others in any.
void merge_patch_glyphs(PatchText& patch);
