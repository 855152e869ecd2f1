// The text import: reads and parses the whole patch, then writes it.
#include <cstdio>
#include <memory>
#include <vector>

#include "console.h"
#include "font_io.h"
#include "font_patch.h"
#include "fontimport.h"
#include "rom_guard.h"

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

}  // namespace

bool patch_text_font(FILE* rom, const char* path) {
  PatchParser parser;
  if (!read_font_file(path, [&](FILE* font) { return parse_font_file(font, parser); })) {
    return false;
  }
  finish_patch_parse(parser);
  merge_patch_glyphs(parser);
  for (const PatchWarning& w : parser.warnings) report_warning(path, w.line, w.text);
  if (parser.glyphs.empty()) {
    // Nothing to write is worth saying: the file may be no patch at all.
    report_warning(path, 0, "no glyph in it can be written: the image is unchanged");
    return true;
  }
  std::vector<RomExtent> extents = glyph_extents(parser.glyphs);
  int64_t size = rom_size_for_patch(rom);
  if (size < 0) return false;
  warn_of_growth(size, extents.back().offset + extents.back().size, path,
                 parser.glyphs.back().line);
  return write_rom_guarded(rom, size, extents, [&](FILE* image) {
    return write_glyph_rows(image, parser.glyphs) ? nullptr : kRomWriteFailed;
  });
}
