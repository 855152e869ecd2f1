// Fuzzes the font-patch parser. A patch fed in pieces must parse exactly as it
// does whole, wherever the pieces end, and merging must fold repeated codes as
// writing their rows in file order would.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "font_patch.h"
#include "fuzz_common.h"

namespace {

// Feeds `data` in pieces of 1 to 16 bytes, some with an empty piece before
// them; each length comes from the byte the piece starts at and its position.
// Every piece is a buffer of its own size, so a read past it is caught.
PatchParser parse_in_pieces(const uint8_t* data, size_t size) {
  PatchParser p;
  for (size_t at = 0, length = 0; at < size; at += length) {
    uint32_t h = ((data[at] + 1u) * 0x9E3779B1u ^ static_cast<uint32_t>(at) * 0x85EBCA6Bu) >> 8;
    length = std::min<size_t>(size - at, 1 + h % 16);
    std::vector<char> piece(data + at, data + at + length);
    if (h & 0x100) parse_patch_chunk(p, piece.data(), 0);
    parse_patch_chunk(p, piece.data(), length);
  }
  finish_patch_parse(p);
  return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  PatchParser p = parse_font_patch(std::string_view(reinterpret_cast<const char*>(data), size));
  check(same_parse(p, parse_in_pieces(data, size)), "a patch parses differently in pieces");

  std::vector<PatchGlyph> folded = fold_in_file_order(p.glyphs);
  size_t warnings = p.warnings.size() + p.glyphs.size() - folded.size();
  merge_patch_glyphs(p);
  check(p.glyphs == folded, "merged glyphs differ from their rows in file order");
  check(p.warnings.size() == warnings, "not one warning per repeated code");
  check(std::is_sorted(p.warnings.begin(), p.warnings.end(),
                       [](const auto& a, const auto& b) { return a.line < b.line; }),
        "warnings are out of line order");
  return 0;
}
