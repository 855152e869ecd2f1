// Fuzzes the font-patch parser. A patch fed in pieces must parse exactly as it
// does whole, wherever the pieces end, and merging must fold repeated codes as
// writing their rows in file order would.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string_view>
#include <utility>

#include "font_patch.h"

namespace {

void check(bool ok, const char* what) {
  if (ok) return;
  (void)std::fprintf(stderr, "parse_fuzz: %s\n", what);
  std::abort();
}

bool same_glyph(const PatchGlyph& a, const PatchGlyph& b) {
  return a.code == b.code && a.line == b.line && std::memcmp(a.rows, b.rows, sizeof a.rows) == 0;
}

bool same_parse(const PatchParser& a, const PatchParser& b) {
  return a.line == b.line && a.ended == b.ended &&
         std::equal(a.glyphs.begin(), a.glyphs.end(), b.glyphs.begin(), b.glyphs.end(),
                    same_glyph) &&
         std::equal(a.warnings.begin(), a.warnings.end(), b.warnings.begin(), b.warnings.end(),
                    [](const PatchWarning& x, const PatchWarning& y) {
                      return x.line == y.line && x.text == y.text;
                    });
}

bool by_line(const PatchWarning& a, const PatchWarning& b) { return a.line < b.line; }

// Feeds `data` in pieces of 1 to 16 bytes, some with an empty piece before
// them; each length comes from the byte the piece starts at and its position.
// Every piece gets a buffer of its own size, so a read past it is caught.
PatchParser parse_in_pieces(const uint8_t* data, size_t size) {
  PatchParser p;
  for (size_t at = 0; at < size;) {
    uint32_t h = (data[at] + 1u) * 0x9E3779B1u ^ static_cast<uint32_t>(at) * 0x85EBCA6Bu;
    h ^= h >> 15;
    if (h & 0x100) parse_patch_chunk(p, std::make_unique<char[]>(0).get(), 0);
    size_t length = std::min<size_t>(size - at, 1 + h % 16);
    std::unique_ptr<char[]> piece(new char[length]);
    std::memcpy(piece.get(), data + at, length);
    parse_patch_chunk(p, piece.get(), length);
    at += length;
  }
  finish_patch_parse(p);
  return p;
}

// Each glyph has a code that can be patched and rows 0 to n-1 given, n >= 1.
void check_glyphs(const PatchParser& p) {
  for (const PatchGlyph& g : p.glyphs) {
    check(g.code >= 1 && g.code < kCodeLimit, "a glyph has a code that cannot be patched");
    int given = 0;
    while (given < 8 && (g.rows[given] & kRowGiven)) ++given;
    check(given > 0, "a glyph has no rows");
    for (int r = given; r < 8; ++r) check(g.rows[r] == 0, "a glyph has a gap in its rows");
  }
  check(std::is_sorted(p.warnings.begin(), p.warnings.end(), by_line),
        "warnings are out of line order");
}

// Merges `p` and compares it with folding its glyphs by code in file order.
void check_merge(PatchParser p) {
  std::map<uint32_t, PatchGlyph> folded;  // the first header's line, the later rows
  size_t repeats = 0;
  for (const PatchGlyph& g : p.glyphs) {
    auto [it, fresh] = folded.try_emplace(g.code, g);
    if (fresh) continue;
    ++repeats;
    for (int r = 0; r < 8; ++r) {
      if (g.rows[r] & kRowGiven) it->second.rows[r] = g.rows[r];
    }
  }
  size_t warnings = p.warnings.size();
  merge_patch_glyphs(p);
  check(p.glyphs.size() == folded.size(), "merging kept the wrong number of glyphs");
  auto it = folded.begin();
  for (const PatchGlyph& g : p.glyphs) {
    check(same_glyph(g, (it++)->second), "a merged glyph differs from its rows in file order");
  }
  check(p.warnings.size() == warnings + repeats, "not one warning per repeated code");
  check(std::is_sorted(p.warnings.begin(), p.warnings.end(), by_line),
        "merged warnings are out of line order");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PatchParser whole = parse_font_patch(std::string_view(reinterpret_cast<const char*>(data), size));
  check_glyphs(whole);
  check(same_parse(whole, parse_in_pieces(data, size)), "a patch parses differently in pieces");
  check_merge(std::move(whole));
  return 0;
}
