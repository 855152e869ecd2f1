// Fuzzes the font-patch text and its import. Whatever the bytes, the text
// must parse the same whole, byte by byte without the fast paths, in pieces
// wherever they end, cut into parts at header lines and joined, and with CR
// LF line ends; merging must fold repeated codes as writing their rows in
// file order would, with one warning each; and imported into a 64-byte image
// on disk, it must leave exactly those rows over the old bytes, size
// included, whether its glyphs are held in memory or spilled to a file, as
// must the writing of the glyphs that an image holding some of them already
// does not hold.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "codes.h"
#include "fontimport.h"
#include "fuzz_common.h"
#include "patch_parser.h"
#include "rom_image.h"

// At global scope, beside the library's types, so that the standard algorithms find them.
inline bool operator==(const PatchGlyph& a, const PatchGlyph& b) {
  return a.code == b.code && a.line == b.line && std::memcmp(a.rows, b.rows, sizeof a.rows) == 0;
}

inline bool operator==(const PatchWarning& a, const PatchWarning& b) {
  return a.line == b.line && a.text == b.text;
}

namespace {

constexpr size_t kOldSize = 64;
// Inputs that write past this are not imported: they would only make large files.
constexpr size_t kLargestOffset = size_t{1} << 20;

bool same_parse(const PatchText& a, const PatchText& b) {
  return a.glyphs == b.glyphs && a.warnings == b.warnings;
}

// Feeds `text` in pieces of 1 to 16 bytes, some with an empty piece before
// them; each length comes from the byte the piece starts at, its position
// and the size of the text.
// Every piece is a buffer of its own size, so a read past it is caught.
PatchText parse_in_pieces(std::string_view text) {
  size_t at = 0;
  std::vector<char> piece(1);
  return parse_patch_chunks([&](std::string_view& chunk) {
    if (at == text.size()) return false;
    uint32_t h = ((static_cast<uint8_t>(text[at]) + 1u) * 0x9E3779B1u ^
                  static_cast<uint32_t>(at + text.size()) * 0x85EBCA6Bu) >>
                 8;
    size_t length =
        (h & 0x100) && !piece.empty() ? 0 : std::min<size_t>(text.size() - at, 1 + h % 16);
    piece = std::vector<char>(text.begin() + at, text.begin() + at + length);
    chunk = {piece.data(), length};
    at += length;
    return true;
  });
}

// The parse with its glyphs in code order, those of one code in the order given.
PatchText by_code(PatchText p) {
  std::stable_sort(p.glyphs.begin(), p.glyphs.end(),
                   [](const PatchGlyph& a, const PatchGlyph& b) { return a.code < b.code; });
  return p;
}

// Where `text` may be cut into parts: its header lines but the first.
std::vector<size_t> header_lines(std::string_view text) {
  std::vector<size_t> lines;
  for (size_t at = 0, next; (next = next_header_line(text.substr(at))) != std::string_view::npos;
       at += next) {
    lines.push_back(at + next);
  }
  return lines;
}

// `text` cut into parts at `cuts`, ascending, each parsed on its own; sorted
// by code when `sorted`, as zenpo sorts them.
std::vector<PatchPart> parse_in_parts(std::string_view text, std::vector<size_t> cuts,
                                      bool sorted) {
  cuts.insert(cuts.begin(), 0);
  cuts.push_back(text.size());
  std::vector<PatchPart> parts;
  for (size_t k = 0; k + 1 < cuts.size(); ++k) {
    std::string part(text.substr(cuts[k], cuts[k + 1] - cuts[k]));
    parts.push_back(parse_patch_part(
        [&, given = false](std::string_view& chunk) mutable {
          chunk = part;
          return !std::exchange(given, true);
        },
        0, k == 0));
    if (sorted) sort_patch_glyphs(parts.back().text.glyphs);
  }
  return parts;
}

// Checks that `text`, whose parse is `p`, parses the same cut at each header
// line, and merges the same cut at up to three of them that `h` picks, the
// glyphs of each part sorted.
void check_parts(std::string_view text, PatchText p, uint32_t h) {
  std::vector<size_t> cuts = header_lines(text);
  std::vector<size_t> picked;
  for (size_t i = 0; i < cuts.size(); ++i) {
    check(same_parse(by_code(join_patch_parts(parse_in_parts(text, {cuts[i]}, false))), by_code(p)),
          "a patch parses differently in parts");
    if ((h >> i % 32) & 1 && picked.size() < 3) picked.push_back(cuts[i]);
  }
  PatchText joined = join_patch_parts(parse_in_parts(text, picked, true));
  merge_patch_glyphs(joined);
  merge_patch_glyphs(p);
  check(same_parse(joined, p), "sorted parts merge differently");
}

// Writes `glyphs`, merged, into an image holding `want`, what they make of
// it, but with some of their rows changed and its end cut by up to 8 bytes;
// the image after, which must be `want`. Checks on the way that the extents
// are those of the glyphs written.
std::string write_changed(std::vector<PatchGlyph> glyphs, const std::string& want, uint32_t h) {
  std::string old = want.substr(0, std::max(kOldSize, want.size() - h % 9));
  for (const PatchGlyph& g : glyphs) {
    size_t at = size_t{g.code} * 8;
    if (at < old.size() && (h = h * 0x9E3779B1u + g.code) >> 31) old[at] ^= '\x80';
  }
  FILE* rom = std::tmpfile();
  check(rom != nullptr && std::fwrite(old.data(), 1, old.size(), rom) == old.size() &&
            std::fflush(rom) == 0,
        "cannot make the image");
  std::vector<RomExtent> extents;
  DropOptions options{1 + h % 3, run_in_turn, 1 + h % 8};
  check(drop_unchanged_glyphs(rom, static_cast<int64_t>(old.size()), glyphs, extents, options),
        "the image cannot be read");
  int64_t rows = 0;
  int64_t extent_rows = 0;
  for (const PatchGlyph& g : glyphs) rows += glyph_end(g) - int64_t{g.code} * 8;
  for (size_t i = 0; i < extents.size(); ++i) {
    check(i == 0 || extents[i].offset > extents[i - 1].offset + extents[i - 1].size,
          "extents that touch or are out of order");
    extent_rows += extents[i].size;
  }
  check(rows == extent_rows && write_glyph_rows(rom, glyphs),
        "extents other than the rows written");
  std::string image(want.size() + 1, '\0');
  std::rewind(rom);
  image.resize(std::fread(image.data(), 1, image.size(), rom));
  (void)std::fclose(rom);
  return image;
}

// The glyphs in code order, each with the line of its first header and, row
// by row, the last rows given for its code. Checks on the way that every
// glyph can be patched and gives rows 0 to n-1, n >= 1, and no others.
std::vector<PatchGlyph> fold_in_file_order(std::vector<PatchGlyph> glyphs) {
  std::vector<PatchGlyph> folded;
  std::stable_sort(glyphs.begin(), glyphs.end(),
                   [](const PatchGlyph& a, const PatchGlyph& b) { return a.code < b.code; });
  for (const PatchGlyph& g : glyphs) {
    check(g.code >= 1 && g.code < kCodeLimit, "a glyph has a code that cannot be patched");
    int given = 0;
    while (given < 8 && (g.rows[given] & kRowGiven)) ++given;
    check(given > 0 && std::count(g.rows, g.rows + 8, 0) == 8 - given,
          "a glyph's rows do not run from row 0 without a gap");
    if (folded.empty() || folded.back().code != g.code) folded.push_back(g);
    std::copy(g.rows, g.rows + given, folded.back().rows);
  }
  return folded;
}

// Imports `text` from a file into an image of `old` bytes, holding `held`
// glyphs in memory at most; the image after.
std::string import_into(std::string_view text, const std::string& old, size_t held) {
  // The font file is opened again by name, as zenpo opens it.
  FILE* font = std::tmpfile();
  FILE* rom = std::tmpfile();
  check(font != nullptr && rom != nullptr &&
            std::fwrite(text.data(), 1, text.size(), font) == text.size() &&
            std::fflush(font) == 0 && std::fwrite(old.data(), 1, old.size(), rom) == old.size() &&
            std::fflush(rom) == 0,
        "cannot make the font file and the image");
  std::string path = "/dev/fd/" + std::to_string(fileno(font));
  // A nameless image: no journal, as no name could be put beside it.
  check(patch_text_font(rom, nullptr, path.c_str(), held), "the import failed");
  std::string image(kLargestOffset + 1, '\0');
  std::rewind(rom);
  image.resize(std::fread(image.data(), 1, image.size(), rom));
  (void)std::fclose(font);
  (void)std::fclose(rom);
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // The import warns of nearly every input. The fuzzer writes to the stream
  // that stderr named at start-up and the sanitizers to descriptor 2, so
  // pointing stderr elsewhere silences only the import; freopen would change
  // that very stream.
  stderr = std::fopen("/dev/null", "w");
  check(stderr != nullptr, "cannot open /dev/null");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  PatchText p = parse_font_patch(text);
  check(same_parse(p, parse_font_patch(text, true)), "the fast paths parse differently");
  check(same_parse(p, parse_in_pieces(text)), "a patch parses differently in pieces");
  uint32_t h = size ? data[size / 2] * 0x01000193u + static_cast<uint32_t>(size) : 0;
  if (patch_splits(text)) check_parts(text, p, h);
  std::string crlf;
  for (char c : text) crlf += c == '\n' ? std::string_view("\r\n") : std::string_view(&c, 1);
  // A byte-order mark's bytes would change meaning with a CR among them.
  bool marked = size > 0 && (data[0] == 0xEF || data[0] == 0xFE || data[0] == 0xFF);
  check(marked || same_parse(parse_font_patch(crlf), p), "CR LF parses differently from LF");
  // Each byte as a character: in UTF-16 after its mark, the text of its UTF-8.
  std::string utf8;
  std::string utf16 = "\xFF\xFE";
  for (uint8_t c : text) {
    utf8 += c < 0x80 ? std::string(1, static_cast<char>(c))
                     : std::string{static_cast<char>(0xC0 | c >> 6),
                                   static_cast<char>(0x80 | (c & 0x3F))};
    utf16 += {static_cast<char>(c), '\0'};
  }
  check(same_parse(parse_font_patch(utf16), parse_font_patch(utf8)),
        "UTF-16 parses differently from its UTF-8");

  std::vector<PatchGlyph> folded = fold_in_file_order(p.glyphs);
  size_t warnings = p.warnings.size() + p.glyphs.size() - folded.size();
  merge_patch_glyphs(p);
  check(p.glyphs == folded, "merged glyphs differ from their rows in file order");
  check(p.warnings.size() == warnings, "not one warning per repeated code");
  check(std::is_sorted(p.warnings.begin(), p.warnings.end(),
                       [](const auto& a, const auto& b) { return a.line < b.line; }),
        "warnings are out of line order");

  // The old bytes have bit 7 set, which no row has; a gap reads as zeros.
  std::string old(kOldSize, '\0');
  for (size_t i = 0; i < kOldSize; ++i) old[i] = static_cast<char>(0x80 | (i * 37 + 11));
  std::string want = old;
  for (const PatchGlyph& g : folded) {
    for (size_t r = 0; r < 8 && (g.rows[r] & kRowGiven); ++r) {
      size_t offset = size_t{g.code} * 8 + r;
      if (offset >= kLargestOffset) return 0;
      if (offset >= want.size()) want.resize(offset + 1, '\0');
      want[offset] = static_cast<char>(g.rows[r] & kRowBits);
    }
  }
  check(import_into(text, old, kGlyphsHeld) == want,
        "the image is not the rows written one by one");
  // A quarter of the inputs: the spill files cost more than the rest of a run.
  if (h % 4 == 0) {
    check(import_into(text, old, h / 4 % 4) == want, "glyphs past those held import differently");
  }
  check(write_changed(folded, want, h) == want, "writing what the image lacks misses some");
  return 0;
}
