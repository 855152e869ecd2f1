// PSF console fonts, as the Linux console loads them.
//
// PSF 1: four header bytes 36 04 MODE HEIGHT, then 256 glyphs (512 when bit
// 0 of MODE is set) of HEIGHT bytes, a byte a row, column 1 in bit 7. With
// bit 1 or 2 of MODE a Unicode table follows: an entry per glyph of 16-bit
// little-endian code points, FFFE before each sequence of code points that
// the glyph also draws, FFFF at the end of the entry.
//
// PSF 2: eight 32-bit little-endian words: magic 72 B5 4A 86, version 0,
// header size, flags (bit 0: a Unicode table follows), glyph count, bytes
// per glyph, height, width. The glyphs start at the header size, each row
// (width + 7) / 8 bytes. The Unicode table has an entry per glyph in UTF-8:
// code points, FE before each sequence, FF at the end of the entry.
//
// With -u a glyph takes every code point of its entry that comes before the
// first sequence; a glyph whose entry has none gets no code. A glyph
// shorter than 8 rows goes at the top of the image's cell: PSF gives no
// baseline.
#include <string>
#include <utility>
#include <vector>

#include "font_formats.h"
#include "parse_common.h"

namespace {

constexpr uint32_t kNoCode = 0xFFFFFFFF;

uint32_t le16(const unsigned char* p) { return p[0] | uint32_t{p[1]} << 8; }

uint32_t le32(const unsigned char* p) { return le16(p) | le16(p + 2) << 16; }

// Bytes of one row of a glyph `width` columns wide: rows are padded to whole bytes.
size_t row_size(int width) { return (static_cast<size_t>(width) + 7) / 8; }

// The size text of a glyph, as "8x16".
std::string size_text(uint32_t width, uint32_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

// Decodes the UTF-8 code point at `p`, before `end`; its byte count in
// `length`, 0 when the bytes are not UTF-8.
uint32_t utf8_code(const unsigned char* p, const unsigned char* end, int& length) {
  length = *p < 0x80 ? 1 : *p >= 0xF8 ? 0 : *p >= 0xF0 ? 4 : *p >= 0xE0 ? 3 : *p >= 0xC0 ? 2 : 0;
  if (length == 0 || end - p < length) return length = 0, kNoCode;
  uint32_t code = length == 1 ? *p : *p & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    if ((p[i] & 0xC0) != 0x80) return length = 0, kNoCode;
    code = code << 6 | (p[i] & 0x3F);
  }
  return code;
}

// A glyph's place in the file and one code point of its table entry.
using GlyphCode = std::pair<uint32_t, uint32_t>;

// Adds code point `code` of glyph `glyph`, unless its entry gave it already:
// some fonts list a code point twice, which is no second glyph.
void add_code(std::vector<GlyphCode>& codes, uint32_t glyph, uint32_t code) {
  for (auto c = codes.rbegin(); c != codes.rend() && c->first == glyph; ++c)
    if (c->second == code) return;
  codes.emplace_back(glyph, code);
}

// The code points of the `count` entries of a PSF 1 table, those of
// sequences left out; false when the table ends early.
bool psf1_table(const unsigned char* p, const unsigned char* end, uint32_t count,
                std::vector<GlyphCode>& codes) {
  for (uint32_t i = 0; i < count; ++i) {
    for (bool sequences = false;;) {
      if (end - p < 2) return false;
      uint32_t value = le16(p);
      p += 2;
      if (value == 0xFFFF) break;
      sequences = sequences || value == 0xFFFE;
      if (!sequences) add_code(codes, i, value);
    }
  }
  return true;
}

// The same for a PSF 2 table in UTF-8.
bool psf2_table(const unsigned char* p, const unsigned char* end, uint32_t count,
                std::vector<GlyphCode>& codes) {
  for (uint32_t i = 0; i < count; ++i) {
    while (p < end && *p != 0xFE && *p != 0xFF) {
      int length = 0;
      uint32_t code = utf8_code(p, end, length);
      if (length == 0) return false;
      add_code(codes, i, code);
      p += length;
    }
    while (p < end && *p != 0xFF) ++p;
    if (p == end) return false;
    ++p;
  }
  return true;
}

// Adds the glyphs of a well-formed file to `font`: at their positions, or
// at each of their `codes` when `unicode`.
void add_glyphs(Font& font, const unsigned char* data, uint32_t bytes_per_glyph, bool unicode,
                const std::vector<GlyphCode>& codes) {
  // Rows are padded to whole bytes with clear bits; a set one is no pixel.
  const auto in_cell = static_cast<unsigned char>(0xFF00 >> font.width);
  const size_t row_bytes = row_size(font.width);
  auto next = codes.begin();
  for (uint32_t i = 0; i < font.count; ++i) {
    FontGlyph glyph{i, i, {}};
    const unsigned char* bits = data + size_t{i} * bytes_per_glyph;
    for (int r = 0; r < font.height; ++r, bits += row_bytes) glyph.rows[r] = *bits & in_cell;
    if (!unicode) font.glyphs.push_back(glyph);
    for (; unicode && next != codes.end() && next->first == i; ++next) {
      glyph.code = next->second;
      font.glyphs.push_back(glyph);
    }
  }
}

// Checks the sizes that the header gives and reads glyphs and table.
Font read_glyphs(Font& font, std::string_view data, uint64_t start, uint32_t bytes_per_glyph,
                 uint32_t height, uint32_t width, bool unicode) {
  if (height == 0 || height > 8 || width == 0 || width > 8) {
    return fail_font(font, 0,
                     "the glyphs are " + size_text(width, height) +
                         ": only glyphs of up to 8 rows and 8 columns convert");
  }
  font.width = static_cast<int>(width);
  font.height = static_cast<int>(height);
  if (bytes_per_glyph < height * row_size(font.width)) {
    return fail_font(font, 0,
                     "the header gives " + std::to_string(bytes_per_glyph) +
                         " bytes a glyph, too few for " + size_text(width, height));
  }
  uint64_t end = start + uint64_t{font.count} * bytes_per_glyph;
  if (end > data.size()) {
    return fail_font(font, 0,
                     "the file is cut short: " + std::to_string(font.count) +
                         " glyphs end at byte " + std::to_string(end) + ", the file has " +
                         std::to_string(data.size()));
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  std::vector<GlyphCode> codes;
  if (unicode && !font.unicode_table) {
    font.warnings.push_back({0, "the font has no Unicode table: codes are glyph positions"});
    unicode = false;
  } else if (unicode) {
    bool whole = font.format == "PSF 1"
                     ? psf1_table(bytes + end, bytes + data.size(), font.count, codes)
                     : psf2_table(bytes + end, bytes + data.size(), font.count, codes);
    if (!whole) return fail_font(font, 0, "the Unicode table is damaged or cut short");
  }
  add_glyphs(font, bytes + start, bytes_per_glyph, unicode, codes);
  return font;
}

}  // namespace

Font parse_psf(std::string_view data, bool unicode) {
  Font font;
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  if (data.size() >= 4 && bytes[0] == 0x36 && bytes[1] == 0x04) {
    font.format = "PSF 1";
    font.count = bytes[2] & 1 ? 512 : 256;
    font.unicode_table = (bytes[2] & 6) != 0;
    return read_glyphs(font, data, 4, bytes[3], bytes[3], 8, unicode);
  }
  if (data.size() < 4 || le32(bytes) != 0x864AB572)
    return fail_font(font, 0, "not a PSF font: the magic number is wrong");
  font.format = "PSF 2";
  if (data.size() < 32) return fail_font(font, 0, "the file is cut short in its header");
  uint32_t version = le32(bytes + 4);
  uint32_t header = le32(bytes + 8);
  if (version != 0)
    return fail_font(font, 0, "PSF 2 version " + std::to_string(version) + " is unknown");
  if (header < 32)
    return fail_font(font, 0, "the header size " + std::to_string(header) + " is below 32");
  font.unicode_table = (le32(bytes + 12) & 1) != 0;
  font.count = le32(bytes + 16);
  return read_glyphs(font, data, header, le32(bytes + 20), le32(bytes + 24), le32(bytes + 28),
                     unicode);
}
