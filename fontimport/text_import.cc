// The text import: reads and parses the whole patch, then writes what of it
// the image does not hold yet. A patch of more glyphs than memory should
// hold is read back from its spill files and written a range of codes at a
// time.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <string_view>
#include <vector>

#include "console.h"
#include "cores.h"
#include "files.h"
#include "fontimport.h"
#include "glyph_spill.h"
#include "import_steps.h"
#include "patch_parser.h"
#include "patch_reading.h"
#include "rom_guard.h"
#include "rom_image.h"
#include "spilled_text.h"

namespace {

// What the image holds, looked at before the parts of a patch are joined.
struct EarlyDrop {
  bool done = false;  // the parts were looked at
  bool read = true;   // and the image could be read; else the errno in `error`
  int error = 0;
  std::vector<RomExtent> extents{};  // left to write
  bool kept = false;                 // a glyph is left to write:
  PatchGlyph last{};                 // the one of the highest code, its line from the start
};

// Drops the glyphs that the image holds from each part of a patch of
// `shapes` whose codes only ascend, side by side, before the parts are
// joined: what the image holds is then never copied, nor sorted. Done when
// the patch is of that kind.
EarlyDrop drop_early(FILE* rom, std::vector<PatchPart>& parts,
                     const std::vector<PartShape>& shapes) {
  EarlyDrop d;
  int64_t size = stream_size(rom);  // a failure is told where the size is needed
  auto any = [](const PartShape& shape) { return shape.any; };
  if (size < 0 || !std::any_of(shapes.begin(), shapes.end(), any) ||
      !patch_ascends(parts, shapes)) {
    return d;
  }
  d.done = true;
  uint64_t before = 0;  // lines before the last part with a glyph left
  uint64_t lines = 0;
  for (const PatchPart& part : parts) {
    if (!part.text.glyphs.empty()) {
      d.kept = true;
      d.last = part.text.glyphs.back();
      before = lines;
    }
    lines += part.lines;
  }
  d.last.line = static_cast<uint32_t>(std::min<uint64_t>(d.last.line + before, UINT32_MAX));
  std::vector<std::vector<RomExtent>> own(parts.size());
  std::vector<int> error(parts.size());  // 0 where the image could be read
  run_on_cores(parts.size(), [&](size_t k) {
    bool read = drop_unchanged_glyphs(rom, size, parts[k].text.glyphs, own[k]);
    error[k] = read ? 0 : errno ? errno : EIO;
  });
  for (size_t k = 0; k < parts.size(); ++k) {
    if (error[k] && d.read) {
      d.read = false;
      d.error = error[k];
    }
    for (const RomExtent& e : own[k]) add_extent(d.extents, e);
  }
  return d;
}

// Applies the patch at `path`, parsed into `parts` that all fit in memory.
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the image's name, then the font's
bool patch_held_text(FILE* rom, const char* rom_name, const char* path,
                     std::vector<PatchPart>& parts, const std::vector<PartShape>& shapes) {
  EarlyDrop early = drop_early(rom, parts, shapes);
  PatchText patch = join_patch_parts(std::move(parts), run_on_cores);
  merge_patch_glyphs(patch);
  for (const PatchWarning& w : patch.warnings) report_warning(path, w.line, w.text);
  if (patch.glyphs.empty() && !early.done) {
    // Nothing to write is worth saying: the file may be no patch at all.
    report_warning(path, 0, "no glyph in it can be written: the image is unchanged");
    return true;
  }
  int64_t size = rom_size_for_patch(rom);
  if (size < 0) return false;
  // Glyphs that the image holds already make it grow no more.
  if (!early.done || early.kept) {
    const PatchGlyph& last = early.done ? early.last : patch.glyphs.back();
    warn_of_growth(size, glyph_end(last), path, last.line);
  }
  // Rows that the image holds already need no write, nor their old bytes kept.
  std::vector<RomExtent> extents = std::move(early.extents);
  DropOptions options;
  options.run = run_on_cores;
  if (early.done ? !early.read
                 : !drop_unchanged_glyphs(rom, size, patch.glyphs, extents, options)) {
    errno = early.done ? early.error : errno;
    report_error("Failed to read ROM image");
    return false;
  }
  return write_rom_guarded(rom, rom_name, size, extents, [&](FILE* image) {
    return write_glyph_rows(image, patch.glyphs) || report_rom_write_failure();
  });
}

}  // namespace

bool patch_text_font(FILE* rom, const char* rom_name, const char* path, size_t held) {
  std::vector<PatchPart> parts;
  std::vector<GlyphStore> stores;
  std::vector<PartShape> shapes;
  int64_t rom_size = stream_size(rom);  // a failure is told where the size is needed
  bool done = read_font_file(path, [&](FILE* font) {
    return parse_font_file(font, held, rom, rom_size, parts, stores, shapes);
  });
  auto spilled = [](const GlyphStore& s) { return s.spilled > 0; };
  if (done) {
    done = std::any_of(stores.begin(), stores.end(), spilled)
               ? patch_spilled_text(rom, rom_name, path, parts, stores, held)
               : patch_held_text(rom, rom_name, path, parts, shapes);
  }
  for (GlyphStore& s : stores) close_glyph_store(s);
  return done;
}
