// The text import: reads and parses the whole patch, then writes it.
#include <cstdio>
#include <memory>
#include <vector>

#include "console.h"
#include "font_io.h"
#include "font_patch.h"
#include "fontimport.h"

namespace {

// Feeds `font` to the parser block by block, up to its end or a Ctrl-Z;
// false on a read error, errno set.
bool parse_font_file(FILE* font, PatchParser& parser) {
  reserve_glyphs(font, parser.glyphs);
  // Left uninitialised: only the pages that a read fills are ever touched.
  constexpr size_t kBlock = 1 << 18;
  std::unique_ptr<char[]> block(new char[kBlock]);
  while (!parser.ended) {
    size_t got = std::fread(block.get(), 1, kBlock, font);
    parse_patch_chunk(parser, block.get(), got);
    if (got < kBlock) return std::ferror(font) == 0;
  }
  return true;
}

// Offset just past the last row that the sorted glyphs give.
int64_t end_of_rows(const std::vector<PatchGlyph>& glyphs) {
  const PatchGlyph& last = glyphs.back();
  int r = 7;
  while (!(last.rows[r] & kRowGiven)) --r;
  return int64_t{last.code} * 8 + r + 1;
}

}  // namespace

bool patch_text_font(FILE* rom, const char* path) {
  PatchParser parser;
  if (!read_font_file(path, [&](FILE* font) { return parse_font_file(font, parser); })) {
    return false;
  }
  finish_patch_parse(parser);
  merge_patch_glyphs(parser);
  for (const PatchWarning& w : parser.warnings) report_warning(path, w.line, w.text);
  if (parser.glyphs.empty()) return true;
  const PatchGlyph& last = parser.glyphs.back();
  if (!warn_of_growth(rom, end_of_rows(parser.glyphs), path, last.line)) return false;
  return write_glyph_rows(rom, parser.glyphs);
}
