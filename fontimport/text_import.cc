// The text import: reads and parses the whole patch, then writes it.
#include <cstdio>
#include <memory>
#include <string_view>
#include <vector>

#include "console.h"
#include "files.h"
#include "fontimport.h"
#include "import_steps.h"
#include "patch_parser.h"
#include "rom_guard.h"
#include "rom_image.h"

namespace {

// Parses `font` block by block, up to its end or a Ctrl-Z; false on a read
// error, errno set.
bool parse_font_file(FILE* font, PatchText& patch) {
  // Left uninitialised: only the pages that a read fills are ever touched.
  constexpr size_t kBlock = 1 << 18;
  std::unique_ptr<char[]> block(new char[kBlock]);
  bool more = true;
  auto next = [&](std::string_view& chunk) {
    if (!more) return false;
    size_t got = std::fread(block.get(), 1, kBlock, font);
    more = got == kBlock;
    chunk = std::string_view(block.get(), got);
    return true;
  };
  patch = parse_patch_chunks(next, regular_file_size(font));
  return std::ferror(font) == 0;
}

}  // namespace

bool patch_text_font(FILE* rom, const char* path) {
  PatchText patch;
  if (!read_font_file(path, [&](FILE* font) { return parse_font_file(font, patch); })) {
    return false;
  }
  merge_patch_glyphs(patch);
  for (const PatchWarning& w : patch.warnings) report_warning(path, w.line, w.text);
  if (patch.glyphs.empty()) {
    // Nothing to write is worth saying: the file may be no patch at all.
    report_warning(path, 0, "no glyph in it can be written: the image is unchanged");
    return true;
  }
  std::vector<RomExtent> extents = glyph_extents(patch.glyphs);
  int64_t size = rom_size_for_patch(rom);
  if (size < 0) return false;
  warn_of_growth(size, extents.back().offset + extents.back().size, path, patch.glyphs.back().line);
  return write_rom_guarded(rom, size, extents, [&](FILE* image) {
    return write_glyph_rows(image, patch.glyphs) || report_rom_write_failure();
  });
}
