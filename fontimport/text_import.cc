// The text import: reads and parses the whole patch, then writes what of it
// the image does not hold yet. A large patch is read and parsed in two
// parts side by side, each on a core of its own; one of more glyphs than
// memory should hold has them moved to spill files as they come, and is
// then read back and written a range of codes at a time.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <functional>
#include <memory>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "console.h"
#include "files.h"
#include "fontimport.h"
#include "glyph_spill.h"
#include "import_steps.h"
#include "patch_parser.h"
#include "rom_guard.h"
#include "rom_image.h"
#include "spilled_text.h"

namespace {

// A patch smaller than this is parsed in one part: a second thread costs
// more than it saves.
constexpr int64_t kSplitFrom = 4 << 20;

// Bytes after the middle of a patch searched for a header line to cut at.
constexpr size_t kCutWindow = 1 << 16;

// One part of the patch, read from its own stream.
struct PartRead {
  FILE* font;
  int64_t length;  // bytes of the part, -1 for all to the end of the file
  bool first;      // the part that starts the patch
  int64_t size;    // bytes to make room for glyphs of, 0 when unknown
  size_t held;     // glyphs kept in memory at most; more go to `store`
  GlyphStore& store;
  PatchPart part;
  bool failed = false;
  int error = 0;  // errno of the failed read
};

// Parses the part block by block, up to its end or a Ctrl-Z; a read error
// sets `failed` and `error`.
void read_part(PartRead& r) {
  // Left uninitialised: only the pages that a read fills are ever touched.
  constexpr size_t kBlock = 1 << 18;
  std::unique_ptr<char[]> block(new char[kBlock]);
  bool more = true;
  auto next = [&](std::string_view& chunk) {
    if (!more) return false;
    size_t want = r.length < 0 ? kBlock : static_cast<size_t>(std::min<int64_t>(r.length, kBlock));
    size_t got = std::fread(block.get(), 1, want, r.font);
    if (got < want && std::ferror(r.font)) {
      r.failed = true;
      r.error = errno;  // before any other call can change it
    }
    more = got == want && (r.length < 0 || (r.length -= static_cast<int64_t>(got)) > 0);
    chunk = std::string_view(block.get(), got);
    return true;
  };
  GlyphSink sink{r.held, [&](std::vector<PatchGlyph>& glyphs) {
                   spill_glyphs(r.store, glyphs, kRomBackupPlace.folder);
                 }};
  r.part = parse_patch_part(next, r.size, r.first, sink);
}

// Where the second part of the patch of `size` bytes open as `font` starts,
// read through `other`, another stream of the same file; 0 when the patch
// does not split there, -1 with errno set when `other` cannot be read.
int64_t find_cut(FILE* font, FILE* other, int64_t size) {
  FileIdentity a = identity_of(font);
  FileIdentity b = identity_of(other);
  if (!a.known || !b.known || a.device != b.device || a.file != b.file) return 0;
  std::vector<char> window(kCutWindow);
  size_t got = std::fread(window.data(), 1, 2, other);
  bool splits = patch_splits(std::string_view(window.data(), got));
  int64_t middle = size / 2;
  if (splits && seek_file(other, middle, SEEK_SET)) {
    got = std::fread(window.data(), 1, window.size(), other);
  }
  // A read error is the file's, whichever stream met it.
  if (std::ferror(other)) return -1;
  size_t at =
      splits ? next_header_line(std::string_view(window.data(), got)) : std::string_view::npos;
  if (at == std::string_view::npos) return 0;
  int64_t cut = middle + static_cast<int64_t>(at);
  return seek_file(other, cut, SEEK_SET) ? cut : 0;
}

// Runs the tasks side by side, each but the first on a thread of its own;
// a task that gets no thread runs here after the first.
void run_side_by_side(size_t count, const std::function<void(size_t)>& task) {
  std::vector<std::thread> threads;
  threads.reserve(count);
  std::vector<size_t> here{0};
  for (size_t k = 1; k < count; ++k) {
    try {
      threads.emplace_back(task, k);
    } catch (const std::system_error&) {
      // Only an exception tells that the system gives no thread.
      here.push_back(k);
    }
  }
  for (size_t k : here) task(k);
  for (std::thread& thread : threads) thread.join();
}

// Parses the patch at `path`, open as `font`, in two parts, keeping `held`
// glyphs in memory at most; false when it does not split, having read
// nothing of `font`.
bool parse_in_parts(FILE* font, const char* path, size_t held, std::vector<PatchPart>& parts,
                    std::vector<GlyphStore>& stores, bool& read) {
  int64_t size = regular_file_size(font);
  if (size < kSplitFrom || std::thread::hardware_concurrency() < 2) return false;
  FILE* other = open_for_reading(path);
  if (!other) return false;
  int64_t cut = find_cut(font, other, size);
  int error = errno;
  stores.resize(2);
  PartRead first{font, cut, true, size, held / 2, stores[0], {}};
  PartRead second{other, -1, false, size - cut, held / 2, stores[1], {}};
  if (cut > 0) {
    run_side_by_side(2, [&](size_t k) { read_part(k == 0 ? first : second); });
  }
  (void)std::fclose(other);  // read only: a failed close loses nothing
  if (cut < 0) {
    read = false;
    errno = error;
    return true;
  }
  if (cut == 0) return false;
  // A read error after a Ctrl-Z is none: the text ended before it.
  PartRead& failed = first.failed || first.part.ended ? first : second;
  read = !failed.failed;
  errno = failed.error;
  parts.push_back(std::move(first.part));
  parts.push_back(std::move(second.part));
  return true;
}

// Parses `font` block by block, up to its end or a Ctrl-Z, into one part or
// two, each with its store of the glyphs past `held`; false on a read error,
// errno set.
bool parse_font_file(FILE* font, const char* path, size_t held, std::vector<PatchPart>& parts,
                     std::vector<GlyphStore>& stores) {
  bool read = true;
  if (parse_in_parts(font, path, held, parts, stores, read)) return read;
  stores.resize(1);
  PartRead whole{font, -1, true, regular_file_size(font), held, stores[0], {}};
  read_part(whole);
  parts.push_back(std::move(whole.part));
  errno = whole.error;
  return !whole.failed;
}

// What the image holds, looked at before the parts of a patch are joined.
struct EarlyDrop {
  bool done = false;  // the parts were looked at
  bool read = true;   // and the image could be read; else the errno in `error`
  int error = 0;
  std::vector<RomExtent> extents{};  // left to write
  PatchGlyph last{};                 // the glyph of the highest code, its line from the start
};

// True when the codes of a patch in two parts, one after the other, only
// ascend: then each glyph is as it will be written.
bool only_ascend(const std::vector<PatchPart>& parts) {
  if (parts.size() != 2 || parts[0].ended) return false;
  bool ascend[2];
  run_side_by_side(2, [&](size_t k) {
    const std::vector<PatchGlyph>& g = parts[k].text.glyphs;
    auto not_above = [](const PatchGlyph& a, const PatchGlyph& b) { return a.code >= b.code; };
    ascend[k] = std::adjacent_find(g.begin(), g.end(), not_above) == g.end();
  });
  const std::vector<PatchGlyph>& a = parts[0].text.glyphs;
  const std::vector<PatchGlyph>& b = parts[1].text.glyphs;
  return ascend[0] && ascend[1] && (a.empty() || b.empty() || a.back().code < b.front().code);
}

// Drops the glyphs that the image holds from each part of a patch whose codes
// only ascend, side by side, before the parts are joined: what the image
// holds is then never copied, nor sorted. Done when the patch is of that kind.
EarlyDrop drop_early(FILE* rom, std::vector<PatchPart>& parts) {
  EarlyDrop d;
  int64_t size = stream_size(rom);  // a failure is told where the size is needed
  if (size < 0 || !only_ascend(parts)) return d;
  bool second = !parts[1].text.glyphs.empty();
  const std::vector<PatchGlyph>& top = parts[second ? 1 : 0].text.glyphs;
  if (top.empty()) return d;
  d.done = true;
  d.last = top.back();
  uint64_t before = second ? parts[0].lines : 0;
  d.last.line = static_cast<uint32_t>(std::min<uint64_t>(d.last.line + before, UINT32_MAX));
  std::vector<RomExtent> own[2];
  bool read[2];
  int error[2];
  run_side_by_side(2, [&](size_t k) {
    read[k] = drop_unchanged_glyphs(rom, size, parts[k].text.glyphs, own[k]);
    error[k] = errno;
  });
  d.read = read[0] && read[1];
  d.error = read[0] ? error[1] : error[0];
  d.extents = std::move(own[0]);
  for (const RomExtent& e : own[1]) {
    if (!d.extents.empty() && d.extents.back().offset + d.extents.back().size == e.offset) {
      d.extents.back().size += e.size;
    } else {
      d.extents.push_back(e);
    }
  }
  return d;
}

// Applies the patch at `path`, parsed into `parts` that all fit in memory.
bool patch_held_text(FILE* rom, const char* path, std::vector<PatchPart>& parts) {
  EarlyDrop early = drop_early(rom, parts);
  PatchText patch = join_patch_parts(std::move(parts), run_side_by_side);
  merge_patch_glyphs(patch);
  for (const PatchWarning& w : patch.warnings) report_warning(path, w.line, w.text);
  if (patch.glyphs.empty() && !early.done) {
    // Nothing to write is worth saying: the file may be no patch at all.
    report_warning(path, 0, "no glyph in it can be written: the image is unchanged");
    return true;
  }
  int64_t size = rom_size_for_patch(rom);
  if (size < 0) return false;
  const PatchGlyph& last = early.done ? early.last : patch.glyphs.back();
  warn_of_growth(size, glyph_end(last), path, last.line);
  // Rows that the image holds already need no write, nor their old bytes kept.
  std::vector<RomExtent> extents = std::move(early.extents);
  DropOptions options;
  options.run = run_side_by_side;
  if (early.done ? !early.read
                 : !drop_unchanged_glyphs(rom, size, patch.glyphs, extents, options)) {
    errno = early.done ? early.error : errno;
    report_error("Failed to read ROM image");
    return false;
  }
  return write_rom_guarded(rom, size, extents, [&](FILE* image) {
    return write_glyph_rows(image, patch.glyphs) || report_rom_write_failure();
  });
}

}  // namespace

bool patch_text_font(FILE* rom, const char* path, size_t held) {
  std::vector<PatchPart> parts;
  std::vector<GlyphStore> stores;
  bool done = read_font_file(
      path, [&](FILE* font) { return parse_font_file(font, path, held, parts, stores); });
  auto spilled = [](const GlyphStore& s) { return s.spilled > 0; };
  if (done) {
    done = std::any_of(stores.begin(), stores.end(), spilled)
               ? patch_spilled_text(rom, path, parts, stores, held)
               : patch_held_text(rom, path, parts);
  }
  for (GlyphStore& s : stores) close_glyph_store(s);
  return done;
}
