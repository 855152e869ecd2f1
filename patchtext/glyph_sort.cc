// Sorting by code in linear time: stable counting passes, from the lowest
// digit. The parts of a patch are sorted into one array by their highest
// digit first, each part on a core of its own, and then each bucket of
// that digit, which is small enough to stay in the cache, by the others.
#include "glyph_sort.h"

#include <algorithm>
#include <utility>

#include "files.h"

namespace {

// Bits of a digit: its 2048 buckets are few enough that every pass writes
// to cached lines.
constexpr int kDigitBits = 11;
constexpr size_t kBuckets = size_t{1} << kDigitBits;

// Fewer glyphs than this are sorted by insertion.
constexpr size_t kFewGlyphs = 32;

// A digit of the codes: `width` bits from bit `shift`.
struct Digit {
  int shift;
  int width;
};

// The number of bits that `code` takes.
int bit_width(uint32_t code) {
  int bits = 0;
  while (bits < 32 && (code >> bits) != 0) ++bits;
  return bits;
}

// One stable counting pass of the `n` glyphs at `from` into `to` by digit
// `d`; false, moving nothing, when all have the same digit.
bool counting_pass(const PatchGlyph* from, size_t n, PatchGlyph* to, Digit d) {
  size_t starts[kBuckets];
  const uint32_t mask = (1u << d.width) - 1;
  std::fill_n(starts, mask + 1, 0);
  for (size_t i = 0; i < n; ++i) ++starts[(from[i].code >> d.shift) & mask];
  size_t sum = 0;
  for (size_t b = 0; b <= mask; ++b) {
    if (starts[b] == n) return false;
    sum += std::exchange(starts[b], sum);
  }
  for (size_t i = 0; i < n; ++i) to[starts[(from[i].code >> d.shift) & mask]++] = from[i];
  return true;
}

// Sorts the `n` glyphs at `first` by code, stably, moving each glyph past
// the larger ones before it.
void insertion_sort(PatchGlyph* first, size_t n) {
  for (size_t i = 1; i < n; ++i) {
    PatchGlyph g = first[i];
    size_t j = i;
    for (; j > 0 && first[j - 1].code > g.code; --j) first[j] = first[j - 1];
    first[j] = g;
  }
}

// What a part holds: its largest code, and whether its glyphs are in code order.
struct PartScan {
  uint32_t largest = 0;
  bool sorted = true;
};

// The parts' glyphs being put into one array in code order.
struct PartsSort {
  std::vector<std::vector<PatchGlyph>>& parts;
  const std::vector<uint64_t>& lines;  // lines before each part, added to its glyphs'
  std::vector<PartScan> scans{};
  int shift = 0;                              // a glyph's bucket is its code >> shift
  std::vector<std::vector<size_t>> starts{};  // where each part's next glyph of a bucket goes
  std::vector<size_t> ends{};                 // where each bucket ends in `sorted`
  std::vector<PatchGlyph> sorted{};
};

// Counts the lines of part `k`'s glyphs from the start of the patch, and
// looks at its codes.
void scan_part(PartsSort& s, size_t k) {
  std::vector<PatchGlyph>& glyphs = s.parts[k];
  uint64_t before = s.lines[k];
  uint32_t largest = 0;
  bool descends = false;  // without a branch: shuffled codes make it a coin toss
  for (size_t i = 0; i < glyphs.size(); ++i) {
    PatchGlyph& g = glyphs[i];
    g.line = static_cast<uint32_t>(std::min<uint64_t>(g.line + before, UINT32_MAX));
    largest = std::max(largest, g.code);
    descends |= i > 0 && glyphs[i - 1].code > g.code;
  }
  s.scans[k] = PartScan{largest, !descends};
}

// True when each part is in code order and its codes come after those of
// the parts before, as an ascending patch's are: one after the other they
// are sorted.
bool in_order(const PartsSort& s) {
  for (size_t k = 0; k < s.parts.size(); ++k) {
    if (!s.scans[k].sorted) return false;
    if (k > 0 && !s.parts[k].empty() && !s.parts[k - 1].empty() &&
        s.parts[k].front().code < s.parts[k - 1].back().code) {
      return false;
    }
  }
  return true;
}

// The parts one after another in the first one's array, which has room
// for them all.
std::vector<PatchGlyph> append_parts(PartsSort& s) {
  std::vector<PatchGlyph> whole = std::move(s.parts[0]);
  size_t total = whole.size();
  for (size_t k = 1; k < s.parts.size(); ++k) total += s.parts[k].size();
  whole.reserve(total);
  for (size_t k = 1; k < s.parts.size(); ++k) {
    whole.insert(whole.end(), s.parts[k].begin(), s.parts[k].end());
    s.parts[k] = {};
  }
  return whole;
}

void count_part(PartsSort& s, size_t k) {
  std::vector<size_t>& counts = s.starts[k];
  counts.assign(kBuckets, 0);
  for (const PatchGlyph& g : s.parts[k]) ++counts[g.code >> s.shift];
}

// Makes room for all the glyphs (task 0 of two) and counts the glyphs of
// each bucket in every part (task 1); a single task does both.
void make_room_and_count(PartsSort& s, size_t task, size_t tasks) {
  if (task == 0) {
    size_t total = 0;
    for (const std::vector<PatchGlyph>& part : s.parts) total += part.size();
    // Side by side with the counts: the system clears each page of a new
    // array as it is first written.
    s.sorted.reserve(total);
    advise_huge_pages(s.sorted.data(), total * sizeof(PatchGlyph));
    s.sorted.resize(total);
  }
  if (task == 1 || tasks == 1) {
    for (size_t k = 0; k < s.parts.size(); ++k) count_part(s, k);
  }
}

// Turns the counts of each part into where its glyphs go: bucket by bucket,
// the glyphs of the parts one after another.
void place_buckets(PartsSort& s) {
  size_t at = 0;
  s.ends.resize(kBuckets);
  for (size_t b = 0; b < kBuckets; ++b) {
    for (std::vector<size_t>& starts : s.starts) at += std::exchange(starts[b], at);
    s.ends[b] = at;
  }
}

void move_part(PartsSort& s, size_t k) {
  std::vector<size_t>& starts = s.starts[k];
  for (const PatchGlyph& g : s.parts[k]) s.sorted[starts[g.code >> s.shift]++] = g;
  s.parts[k] = {};
}

// Sorts the buckets of one of `halves` stretches of them by their low bits.
void sort_buckets(PartsSort& s, size_t half, size_t halves) {
  std::vector<PatchGlyph> spare;
  for (size_t b = kBuckets * half / halves; b < kBuckets * (half + 1) / halves; ++b) {
    size_t begin = b == 0 ? 0 : s.ends[b - 1];
    size_t n = s.ends[b] - begin;
    if (spare.size() < n) spare.resize(n);
    sort_by_low_bits(s.sorted.data() + begin, n, s.shift, spare.data());
  }
}

}  // namespace

void sort_by_low_bits(PatchGlyph* glyphs, size_t n, int bits, PatchGlyph* spare) {
  if (n < kFewGlyphs) {
    insertion_sort(glyphs, n);
    return;
  }
  if (bits == 0) return;
  // Digits of no more buckets than glyphs, unless that takes more passes
  // than 4 bits a pass would: clearing and summing the counts of a pass
  // then costs no more than counting the glyphs.
  int most = kDigitBits;
  while (most > 4 && (size_t{1} << most) > n) --most;
  int passes = (bits + most - 1) / most;
  int width = (bits + passes - 1) / passes;
  PatchGlyph* sorted = glyphs;  // where the glyphs are, in the order of the passes so far
  PatchGlyph* other = spare;
  for (int shift = 0; shift < bits; shift += width) {
    if (counting_pass(sorted, n, other, {shift, std::min(width, bits - shift)})) {
      std::swap(sorted, other);
    }
  }
  if (sorted != glyphs) std::copy(sorted, sorted + n, glyphs);
}

void sort_patch_glyphs(std::vector<PatchGlyph>& glyphs) {
  auto by_code = [](const PatchGlyph& a, const PatchGlyph& b) { return a.code < b.code; };
  if (std::is_sorted(glyphs.begin(), glyphs.end(), by_code)) return;
  std::vector<PatchGlyph> spare;
  spare.reserve(glyphs.size());
  advise_huge_pages(spare.data(), spare.capacity() * sizeof(PatchGlyph));
  spare.resize(glyphs.size());
  int bits = bit_width(std::max_element(glyphs.begin(), glyphs.end(), by_code)->code);
  sort_by_low_bits(glyphs.data(), glyphs.size(), bits, spare.data());
}

std::vector<PatchGlyph> sort_parts(std::vector<std::vector<PatchGlyph>>& parts,
                                   const std::vector<uint64_t>& lines, const PatchTasks& run) {
  if (parts.empty()) return {};
  PartsSort s{parts, lines, std::vector<PartScan>(parts.size())};
  run(parts.size(), [&](size_t k) { scan_part(s, k); });
  if (in_order(s)) return append_parts(s);
  uint32_t largest = 0;
  for (const PartScan& scan : s.scans) largest = std::max(largest, scan.largest);
  s.shift = std::max(0, bit_width(largest) - kDigitBits);
  s.starts.resize(parts.size());
  size_t tasks = std::min<size_t>(parts.size(), 2);
  run(tasks, [&](size_t task) { make_room_and_count(s, task, tasks); });
  place_buckets(s);
  run(parts.size(), [&](size_t k) { move_part(s, k); });
  run(parts.size(), [&](size_t half) { sort_buckets(s, half, parts.size()); });
  return std::move(s.sorted);
}
