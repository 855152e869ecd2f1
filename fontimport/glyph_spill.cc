// Glyphs spilled to a file and read back by ranges of codes.
#include "glyph_spill.h"

#include <algorithm>
#include <cerrno>
#include <memory>

#include "files.h"
#include "spill_file.h"

namespace {

// A bucket holds the codes that share all but their low 12 bits.
constexpr int kBucketBits = 12;

// Glyphs read back from a spill file at a time.
constexpr size_t kReadGlyphs = size_t{1} << 16;

// Adds the glyphs of [g, g + n) to the counts of their buckets, which reach
// as far as the highest code counted.
void count_codes(std::vector<uint64_t>& counts, const PatchGlyph* g, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    size_t bucket = g[i].code >> kBucketBits;
    if (bucket >= counts.size()) counts.resize(bucket + 1);
    ++counts[bucket];
  }
}

// The glyphs of a range of codes being gathered, folded whenever they
// reach `limit`; those of the store read now have `before` lines before it.
struct Gathering {
  CodeSpan range;
  size_t most;
  size_t limit;
  uint64_t before;
  PatchText& text;
};

// Adds the glyphs of [g, g + n) that lie in the range to those gathered.
void take_in_range(Gathering& gather, const PatchGlyph* g, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (g[i].code < gather.range.first || g[i].code >= gather.range.end) continue;
    PatchGlyph glyph = g[i];
    glyph.line = static_cast<uint32_t>(std::min<uint64_t>(glyph.line + gather.before, UINT32_MAX));
    gather.text.glyphs.push_back(glyph);
    if (gather.text.glyphs.size() < gather.limit) continue;
    // Folding keeps the first glyph of each code first, with its line: the
    // glyphs read later then fold into it as if they had all been held.
    merge_patch_glyphs(gather.text);
    gather.limit = std::max(gather.most, 2 * gather.text.glyphs.size());
  }
}

}  // namespace

void spill_glyphs(GlyphStore& store, std::vector<PatchGlyph>& glyphs, const char* folder) {
  if (store.stuck || glyphs.empty()) return;
  if (!store.file) store.file = open_spill_file(folder);
  // Glyphs written in part are not counted: a later read stops before them.
  if (!store.file ||
      !seek_file(store.file, static_cast<int64_t>(store.spilled * sizeof(PatchGlyph)), SEEK_SET) ||
      std::fwrite(glyphs.data(), sizeof(PatchGlyph), glyphs.size(), store.file) != glyphs.size()) {
    store.stuck = true;
    return;
  }
  count_codes(store.counts, glyphs.data(), glyphs.size());
  store.spilled += glyphs.size();
  glyphs.clear();
}

void close_glyph_store(GlyphStore& store) {
  if (store.file) (void)std::fclose(store.file);  // nothing of it is kept
  store.file = nullptr;
}

std::vector<CodeSpan> plan_code_ranges(const std::vector<GlyphStore>& stores, size_t most) {
  std::vector<uint64_t> counts;
  for (const GlyphStore& s : stores) {
    counts.resize(std::max(counts.size(), s.counts.size()));
    for (size_t b = 0; b < s.counts.size(); ++b) counts[b] += s.counts[b];
    count_codes(counts, s.rest.data(), s.rest.size());
  }
  std::vector<CodeSpan> ranges;
  uint64_t held = 0;
  for (size_t b = 0; b < counts.size(); ++b) {
    if (!counts[b]) continue;
    auto first = static_cast<uint32_t>(b << kBucketBits);
    auto end = static_cast<uint32_t>((b + 1) << kBucketBits);
    if (ranges.empty() || held + counts[b] > most) {
      ranges.push_back({first, end});
      held = 0;
    }
    ranges.back().end = end;
    held += counts[b];
  }
  return ranges;
}

bool gather_code_range(const std::vector<GlyphStore>& stores, CodeSpan range, size_t most,
                       PatchText& range_text) {
  range_text = PatchText{};
  Gathering gather{range, most, std::max<size_t>(most, 1), 0, range_text};
  // Room for all at once: a vector that grows would hold its old copy too.
  range_text.glyphs.reserve(gather.limit);
  std::unique_ptr<PatchGlyph[]> block;
  for (const GlyphStore& s : stores) {
    gather.before = s.before;
    if (s.spilled && !block) block.reset(new PatchGlyph[kReadGlyphs]);
    if (s.spilled && !seek_file(s.file, 0, SEEK_SET)) return false;
    for (uint64_t left = s.spilled; left > 0;) {
      auto want = static_cast<size_t>(std::min<uint64_t>(left, kReadGlyphs));
      if (std::fread(block.get(), sizeof(PatchGlyph), want, s.file) != want) {
        if (!std::ferror(s.file)) errno = EIO;  // the file ended before its glyphs
        return false;
      }
      take_in_range(gather, block.get(), want);
      left -= want;
    }
    take_in_range(gather, s.rest.data(), s.rest.size());
  }
  merge_patch_glyphs(range_text);
  return true;
}
