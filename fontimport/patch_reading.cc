// Reading a patch file in parts side by side.
#include "patch_reading.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <deque>
#include <memory>
#include <mutex>
#include <string_view>
#include <system_error>
#include <thread>

#include "cores.h"
#include "files.h"
#include "rom_image.h"

namespace {

// A patch smaller than this is parsed in one part: a second thread costs
// more than it saves.
constexpr int64_t kSplitFrom = 4 << 20;

// A thread that is free cuts off half of what another has left to read, when
// that is at least this much.
constexpr int64_t kCutFrom = 2 << 20;

// Bytes read at a time.
constexpr size_t kBlock = 1 << 18;

// Bytes after a cut searched for a header line to cut at.
constexpr size_t kCutWindow = 1 << 16;

// The glyphs that all parts hold in memory, and how many they may.
struct Held {
  std::atomic<size_t> glyphs{0};
  size_t most;
};

// A stretch of a patch that one thread reads, a block at a time; another
// may cut off what it has not read yet.
struct Stretch {
  int64_t taken;  // up to where its reader has read or is reading
  int64_t end;
};

// One part of the patch.
struct PartRead {
  FILE* font;
  bool first;    // the part that starts the patch
  int64_t size;  // bytes to make room for glyphs of, 0 when unknown
  Held& held;
  GlyphStore& store;  // where the glyphs go past those held
  // Where in the file the part lies, when it is read at an offset and the
  // threads share the lock that guards it; else it is read on from where the
  // stream stands, to its end.
  Stretch stretch = {-1, -1};
  std::mutex* lock = nullptr;
  // The image whose glyphs the part leaves out while its codes ascend; null
  // for none.
  FILE* rom = nullptr;
  int64_t rom_size = -1;
  size_t block = kBlock;  // bytes read at a time
  PatchPart part{};
  PartShape shape{};
  size_t seen = 0;  // of the glyphs it holds, those in `held` and its shape
  bool failed = false;
  int error = 0;  // errno of the failed read
};

// Reads up to r.block bytes of the part into `block`; their count, 0 at its
// end or on a read error, which sets `failed` and `error`.
size_t read_block(PartRead& r, char* block) {
  if (!r.lock) {
    size_t got = std::fread(block, 1, r.block, r.font);
    if (got < r.block && std::ferror(r.font)) {
      r.failed = true;
      r.error = errno;  // before any other call can change it
    }
    return got;
  }
  int64_t at;
  size_t want;
  {
    std::lock_guard<std::mutex> hold(*r.lock);
    at = r.stretch.taken;
    want = static_cast<size_t>(std::min<int64_t>(r.stretch.end - at, kBlock));
    r.stretch.taken += static_cast<int64_t>(want);
  }
  if (!read_file_at(r.font, at, block, want)) {
    r.failed = true;
    r.error = errno;
    return 0;
  }
  return want;
}

// Adds the codes of the glyphs found since those seen to the part's shape.
void note_shape(PartRead& r, const std::vector<PatchGlyph>& glyphs) {
  PartShape& shape = r.shape;
  for (size_t i = r.seen; i < glyphs.size(); ++i) {
    uint32_t code = glyphs[i].code;
    if (!shape.any) shape.first = code;
    shape.ascend = shape.ascend && (!shape.any || code > shape.last);
    shape.any = true;
    shape.last = code;
  }
}

// Leaves out of the glyphs found since those seen, which ascend, those whose
// rows the image holds already.
void drop_held_glyphs(PartRead& r, std::vector<PatchGlyph>& glyphs) {
  std::vector<PatchGlyph> found(glyphs.begin() + static_cast<ptrdiff_t>(r.seen), glyphs.end());
  std::vector<RomExtent> extents;  // learnt again of all the glyphs kept
  if (!drop_unchanged_glyphs(r.rom, r.rom_size, found, extents)) {
    r.rom = nullptr;  // reading the image is tried again later, and told then
    return;
  }
  r.shape.dropped += glyphs.size() - r.seen - found.size();
  glyphs.resize(r.seen);
  glyphs.insert(glyphs.end(), found.begin(), found.end());
}

// Takes the glyphs that the part has found since the last chunk: notes
// their shape, leaves out those that the image holds while the codes
// ascend, and counts the rest among those held; once all parts hold more
// than they may, moves the part's to its spill file.
void take_glyphs(PartRead& r, std::vector<PatchGlyph>& glyphs) {
  note_shape(r, glyphs);
  if (r.rom && r.shape.ascend && glyphs.size() > r.seen) drop_held_glyphs(r, glyphs);
  size_t added = glyphs.size() - r.seen;
  r.seen = glyphs.size();
  if (r.held.glyphs.fetch_add(added) + added <= r.held.most) return;
  spill_glyphs(r.store, glyphs, kGlyphSpillFolder);
  if (!glyphs.empty()) return;  // no spill file took them: they stay
  r.held.glyphs.fetch_sub(r.seen);
  r.seen = 0;
}

// Parses the part block by block through `block`, of r.block bytes, up to its
// end or a Ctrl-Z; a read error sets `failed` and `error`.
void read_part(PartRead& r, char* block) {
  bool more = true;
  auto next = [&](std::string_view& chunk) {
    if (!more) return false;
    size_t got = read_block(r, block);
    more = got == r.block;
    chunk = std::string_view(block, got);
    return true;
  };
  GlyphSink sink{r.held.most, [&](std::vector<PatchGlyph>& glyphs) { take_glyphs(r, glyphs); }};
  r.part = parse_patch_part(next, r.size, r.first, sink);
  note_shape(r, r.part.text.glyphs);  // the last glyph comes after the last chunk
  if (!r.lock) return;
  // After a Ctrl-Z or a read error what is left is no text: nobody cuts it off.
  std::lock_guard<std::mutex> hold(*r.lock);
  r.stretch.end = r.stretch.taken;
}

// A patch of `size` bytes, open as `font`, read in parts side by side.
struct PartsRead {
  FILE* font;
  int64_t size;
  Held& held;
  FILE* rom;  // the image whose glyphs the parts leave out, or null
  int64_t rom_size;
  std::mutex lock{};             // guards the stretches and the lists
  std::deque<PartRead> reads{};  // in the order they were cut off
  std::deque<GlyphStore> stores{};
};

// Cuts off the second half of what the part with the most left to read has
// left, at a header line, for a new part; null when none has kCutFrom left
// or no header line lies near its middle.
PartRead* cut_part(PartsRead& p) {
  PartRead* from = nullptr;
  int64_t middle = 0;
  {
    std::lock_guard<std::mutex> hold(p.lock);
    for (PartRead& r : p.reads) {
      int64_t left = r.stretch.end - r.stretch.taken;
      if (left >= kCutFrom && (!from || left > from->stretch.end - from->stretch.taken)) from = &r;
    }
    if (!from) return nullptr;
    middle = from->stretch.taken + (from->stretch.end - from->stretch.taken) / 2;
  }
  std::vector<char> window(kCutWindow);
  // A read error here is none: the part meets it all the same.
  if (!read_file_at(p.font, middle, window.data(), window.size())) return nullptr;
  size_t at = next_header_line(std::string_view(window.data(), window.size()));
  if (at == std::string_view::npos) return nullptr;
  int64_t cut = middle + static_cast<int64_t>(at);
  std::lock_guard<std::mutex> hold(p.lock);
  // Its reader may have gone on meanwhile.
  if (cut <= from->stretch.taken || cut >= from->stretch.end) return nullptr;
  p.stores.emplace_back();
  p.reads.push_back({p.font,
                     false,
                     from->stretch.end - cut,
                     p.held,
                     p.stores.back(),
                     {cut, from->stretch.end},
                     &p.lock,
                     p.rom,
                     p.rom_size});
  from->stretch.end = cut;
  return &p.reads.back();
}

// Parses the patch `p` in parts on two threads: this one starts at once with
// all of it, the other cuts off half of what is left when it starts, and
// whichever is free cuts again, so that neither waits long for the other.
void parse_side_by_side(PartsRead& p) {
  p.stores.emplace_back();
  p.reads.push_back(
      {p.font, true, p.size, p.held, p.stores.back(), {0, p.size}, &p.lock, p.rom, p.rom_size});
  run_on_cores(2, [&](size_t k) {
    std::unique_ptr<char[]> block(new char[kBlock]);  // only the pages read into are touched
    for (PartRead* r = k == 0 ? &p.reads.front() : cut_part(p); r; r = cut_part(p)) {
      read_part(*r, block.get());
    }
  });
}

}  // namespace

bool patch_ascends(const std::vector<PatchPart>& parts, const std::vector<PartShape>& shapes) {
  bool any = false;
  uint32_t highest = 0;  // of the parts before
  for (size_t k = 0; k < parts.size(); ++k) {
    const PartShape& shape = shapes[k];
    if (!shape.ascend || (any && shape.any && shape.first <= highest)) return false;
    // A Ctrl-Z ends the text in a part: the glyphs of those after it are none.
    if (parts[k].ended && k + 1 < parts.size()) return false;
    if (shape.any) highest = shape.last;
    any = any || shape.any;
  }
  return true;
}

bool parse_font_file(FILE* font, size_t held, FILE* rom, int64_t rom_size,
                     std::vector<PatchPart>& parts, std::vector<GlyphStore>& stores,
                     std::vector<PartShape>& shapes) {
  Held in_memory;
  in_memory.most = held;
  int64_t size = regular_file_size(font);
  char start[2];
  bool in_parts = size >= kSplitFrom && std::thread::hardware_concurrency() >= 2 &&
                  read_file_at(font, 0, start, 2) && patch_splits(std::string_view(start, 2));
  PartsRead p{font, size, in_memory, in_parts && rom_size >= 0 ? rom : nullptr, rom_size};
  if (in_parts) {
    parse_side_by_side(p);
  } else {
    p.stores.emplace_back();
    p.reads.push_back({font, true, size, in_memory, p.stores.back()});
    // A small file's bytes in one read, with no more room than they need.
    PartRead& whole = p.reads.front();
    if (size >= 0 && size < static_cast<int64_t>(kBlock))
      whole.block = static_cast<size_t>(size) + 1;
    std::unique_ptr<char[]> block(new char[whole.block]);
    read_part(whole, block.get());
  }
  // The parts in file order, each with its store: each ends where the next starts.
  std::vector<size_t> order(p.reads.size());
  for (size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return p.reads[a].stretch.end < p.reads[b].stretch.end; });
  errno = 0;
  bool read = true;
  bool ended = false;
  size_t dropped = 0;
  for (size_t k : order) {
    // A read error after a Ctrl-Z is none: the text ended before it.
    if (p.reads[k].failed && !ended && read) {
      read = false;
      errno = p.reads[k].error;
    }
    ended = ended || p.reads[k].part.ended;
    dropped += p.reads[k].shape.dropped;
    parts.push_back(std::move(p.reads[k].part));
    stores.push_back(std::move(p.stores[k]));
    shapes.push_back(p.reads[k].shape);
  }
  if (!read || dropped == 0 || patch_ascends(parts, shapes)) return read;
  // A code comes again: its first glyph matters, left out or not.
  for (GlyphStore& store : stores) close_glyph_store(store);
  parts.clear();
  stores.clear();
  shapes.clear();
  return parse_font_file(font, held, nullptr, -1, parts, stores, shapes);
}
