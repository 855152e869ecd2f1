// A patch of more glyphs than memory holds, applied a range of codes at a
// time. Its output is that of a patch held whole: the same warnings in the
// same order, the same rows written, and the same undo, which here keeps the
// old bytes of the whole stretch that the patch changes.
#include "spilled_text.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <utility>

#include "console.h"
#include "files.h"
#include "import_steps.h"
#include "rom_guard.h"
#include "rom_image.h"

namespace {

// What a first look at every range found.
struct RangesSeen {
  bool any = false;          // a glyph to write
  PatchGlyph last{};         // the glyph of the highest code
  int64_t from = INT64_MAX;  // the stretch of the image that changes
  int64_t to = 0;
  bool read = true;  // the image could be read; else the errno in `error`
  int error = 0;
};

// Moves what the parts hold of the patch's glyphs into their stores, after
// those spilled, and drops the parts after one that a Ctrl-Z ended.
void gather_stores(std::vector<PatchPart>& parts, std::vector<GlyphStore>& stores) {
  uint64_t before = 0;
  bool ended = false;
  for (size_t k = 0; k < parts.size(); ++k) {
    GlyphStore& s = stores[k];
    if (ended) {
      close_glyph_store(s);
      s = GlyphStore{};
      continue;
    }
    ended = parts[k].ended;
    spill_glyphs(s, parts[k].text.glyphs, kGlyphSpillFolder);
    // What no spill file took; else the room that the parse made goes.
    s.rest = std::move(parts[k].text.glyphs);
    if (s.rest.empty()) s.rest = std::vector<PatchGlyph>();
    s.before = before;
    before += parts[k].lines;
  }
}

// Reads each range of the patch for its warnings, added to `warnings`, and
// for what of the image of `size` bytes (-1 when unknown) it changes;
// false after "Failed to read font file" when a spill file cannot be read.
bool look_at_ranges(FILE* rom, int64_t size, const std::vector<GlyphStore>& stores,
                    const std::vector<CodeSpan>& ranges, size_t held,
                    std::vector<PatchWarning>& warnings, RangesSeen& seen) {
  PatchText range_text;
  for (CodeSpan range : ranges) {
    if (!gather_code_range(stores, range, held, range_text)) {
      report_error("Failed to read font file");
      return false;
    }
    std::move(range_text.warnings.begin(), range_text.warnings.end(), std::back_inserter(warnings));
    if (range_text.glyphs.empty()) continue;
    seen.any = true;
    seen.last = range_text.glyphs.back();
    if (size < 0 || !seen.read) continue;
    std::vector<RomExtent> extents;
    if (!drop_unchanged_glyphs(rom, size, range_text.glyphs, extents)) {
      seen.read = false;
      seen.error = errno;
    } else if (!extents.empty()) {
      seen.from = std::min(seen.from, extents.front().offset);
      seen.to = std::max(seen.to, extents.back().offset + extents.back().size);
    }
  }
  return true;
}

// Writes the changed rows of each range into the image of `size` bytes;
// false after its own error line, as a RomWriter.
bool write_ranges(FILE* rom, int64_t size, const std::vector<GlyphStore>& stores,
                  const std::vector<CodeSpan>& ranges, size_t held) {
  PatchText range_text;
  for (CodeSpan range : ranges) {
    if (!gather_code_range(stores, range, held, range_text)) {
      report_error("Failed to read font file");
      return false;
    }
    std::vector<RomExtent> extents;
    if (!drop_unchanged_glyphs(rom, size, range_text.glyphs, extents)) {
      report_error("Failed to read ROM image");
      return false;
    }
    if (!write_glyph_rows(rom, range_text.glyphs)) return report_rom_write_failure();
  }
  return true;
}

}  // namespace

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the image's name, then the font's
bool patch_spilled_text(FILE* rom, const char* rom_name, const char* path,
                        std::vector<PatchPart>& parts, std::vector<GlyphStore>& stores,
                        size_t held) {
  gather_stores(parts, stores);
  // The parts' warnings, their lines counted from the patch's start.
  PatchText patch = join_patch_parts(std::move(parts));
  std::vector<CodeSpan> ranges = plan_code_ranges(stores, held);
  int64_t size = stream_size(rom);  // a failure is told where the size is needed
  RangesSeen seen;
  if (!look_at_ranges(rom, size, stores, ranges, held, patch.warnings, seen)) return false;
  auto by_line = [](const PatchWarning& a, const PatchWarning& b) { return a.line < b.line; };
  std::stable_sort(patch.warnings.begin(), patch.warnings.end(), by_line);
  for (const PatchWarning& w : patch.warnings) report_warning(path, w.line, w.text);
  if (!seen.any) {
    report_warning(path, 0, "no glyph in it can be written: the image is unchanged");
    return true;
  }
  size = rom_size_for_patch(rom);
  if (size < 0) return false;
  warn_of_growth(size, glyph_end(seen.last), path, seen.last.line);
  if (!seen.read) {
    errno = seen.error;
    report_error("Failed to read ROM image");
    return false;
  }
  std::vector<RomExtent> changed;
  if (seen.from < seen.to) changed.push_back({seen.from, seen.to - seen.from});
  return write_rom_guarded(rom, rom_name, size, changed, [&](FILE* image) {
    return write_ranges(image, size, stores, ranges, held);
  });
}
