// The page's C API: what it puts into the image, what it writes out and the
// messages it gives. Built natively into unit_tests and by emscripten into
// edit_api_tests, run under node, where gzip is unpacked by stb.
#include "edit_api.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "patch_parser.h"

namespace {

// A fresh image of `glyphs` slots, row r of glyph c holding c + r.
void open_image(uint32_t glyphs) {
  uint8_t* bytes = zp_image_reserve(glyphs * 8);
  ASSERT_NE(bytes, nullptr);
  for (uint32_t i = 0; i < glyphs * 8; ++i)
    bytes[i] = static_cast<uint8_t>((i >> 3) + (i & 7)) & 0x7F;
  zp_image_opened();
}

// zp_import of the text `font` named `name`: the glyphs as "CODE=ROWS" hex, or the error.
std::string import(const std::string& font, const char* name, const char* map = "",
                   const char* drop = "") {
  // At the very end of an allocation of its size: a read past it shows under the sanitizers.
  std::vector<uint8_t> bytes(font.begin(), font.end());
  int n = zp_import(bytes.data(), static_cast<uint32_t>(bytes.size()), name, map, drop);
  if (n < 0) return zp_message();
  std::string out;
  for (int i = 0; i < n; ++i) {
    char glyph[32];
    const uint8_t* r = zp_import_rows() + static_cast<ptrdiff_t>(i) * 8;
    (void)std::snprintf(glyph, sizeof glyph, "%X=%02X%02X%02X%02X%02X%02X%02X%02X ",
                        zp_import_codes()[i], r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]);
    out += glyph;
  }
  return out + zp_message();
}

// A hex font of one glyph at 41, gzip'd, as a member that zlib and stb both unpack.
constexpr char kGzipHex[] =
    "\x1F\x8B\x08\x00\x00\x00\x00\x00\x02\x03\x33\x31\xB4\x32\x77\x33\x31\x84\x41\x73\x37\x03\x03"
    "\x2E\x00\x8D\xAC\x33\x64\x14\x00\x00\x00";

TEST(EditApi, ImportLandsAsZenpoWritesTheConvertedPatch) {
  open_image(0x80);
  struct Case {
    std::string font;
    const char* name;
    const char* map;
    const char* drop;
    std::string expected;
  } cases[] = {
      // An 8-column glyph loses a column; bit 7 of every row is clear.
      {"41:7F41414141414100\n", "a.hex", "", "", "41=7F41414141414100 "},
      {"41:7F41414141414100\n", "a.hex", "", "right", "41=3F20202020202000 "},
      {"41:0100000000000000\n42:0200000000000000\n", "b.hex", "41=7E 42", "",
       "42=0200000000000000 7E=0100000000000000 "},
      // gzip unpacks the same in both builds; its damage reads as zlib's.
      {std::string(kGzipHex, sizeof kGzipHex - 1), "c.hex.gz", "", "", "41=7F41414141417F00 "},
      {std::string(kGzipHex, 29), "c.hex.gz", "", "",
       "zenpo-convert: c.hex.gz: the gzip data is cut short\n"},
      {std::string(kGzipHex, 20), "c.hex.gz", "", "",
       "zenpo-convert: c.hex.gz: the gzip data is cut short\n"},
      {"\x1F\x8B", "d.gz", "", "", "zenpo-convert: d.gz: the gzip data is cut short\n"},
      // Past the image's slots: left out, as the page does not lengthen it.
      {"81:0100000000000000\n", "e.hex", "81", "",
       "e.hex: warning: 1 glyphs from code 0x81 on lie past the end of the image, which the page "
       "does not lengthen: left out\n"},
      {"41:01\n", "f.hex", "41-", "", "zenpo-convert: -m: '41-' is not a hexadecimal range\n"},
      {"41:01\n", "g.hex", "", "up", "zenpo-convert: --drop: 'up' is neither left nor right\n"},
      {"41:0\n", "h.hex", "", "", "zenpo-convert: h.hex:1: "},
  };
  for (const Case& c : cases) {
    std::string got = import(c.font, c.name, c.map, c.drop);
    EXPECT_EQ(got.substr(0, c.expected.size()), c.expected) << c.name;
  }
}

TEST(EditApi, ImportOfAPatchWritesJustItsRowsWithBit7Clear) {
  open_image(0x80);
  zp_image()[0x41 * 8 + 1] = 0x80;
  // Rows 0 and 2 given; row 1 (bit 7 set in the image) kept as it is.
  EXPECT_EQ(import("@41\n1111111\n", "p.txt"),
            "41=7F80434445464748 p.txt:1: warning: glyph 0x41 ends after 1 of its 8 rows; the "
            "others keep their old bytes\n");
  // A repeated code: its later rows win, as zenpo merges them.
  EXPECT_EQ(import("@41\n1111111\n@41\n0000001\n0000010\n", "p.txt").substr(0, 20),
            "41=0102434445464748 ");
}

TEST(EditApi, ExportedPatchRewritesTheChangedGlyphsButBit7) {
  open_image(0x80);
  ASSERT_EQ(zp_edit_glyph(0x41, ZP_TOGGLE, 0, 6), 1);
  ASSERT_EQ(zp_edit_glyph(0x42, ZP_SET, 3, 7), 1);
  ASSERT_EQ(zp_export(ZP_PATCH, "SUBSYSCG.ROM", ""), 1);
  std::string text(reinterpret_cast<const char*>(zp_output()), zp_output_size());
  EXPECT_STREQ(zp_message(),
               "SUBSYSCG.ROM: warning: 1 rows have bit 7 set, which a patch cannot write: patched "
               "back, they lose it\n");
  PatchText patch = parse_font_patch(text);
  ASSERT_EQ(patch.glyphs.size(), 2u);
  for (const PatchGlyph& g : patch.glyphs) {
    for (int r = 0; r < 8; ++r)
      EXPECT_EQ(g.rows[r] & kRowBits, zp_image()[g.code * 8 + r] & kRowBits) << g.code << " " << r;
  }
  zp_image_opened();
  ASSERT_EQ(zp_export(ZP_PATCH, "SUBSYSCG.ROM", ""), 1);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(zp_output()), zp_output_size()).find('@'),
            std::string::npos);
}

TEST(EditApi, GlyphEditsKeepBit7OutOfTheColumns) {
  struct Case {
    int edit;
    uint8_t rows[8];
  } cases[] = {
      {ZP_SHIFT_UP, {0xC3, 0, 0, 0, 0, 0, 0, 0}},
      {ZP_SHIFT_DOWN, {0x80, 0, 0x43, 0, 0, 0, 0, 0}},
      {ZP_SHIFT_LEFT, {0x80, 0x06, 0, 0, 0, 0, 0, 0}},
      {ZP_SHIFT_RIGHT, {0x80, 0x21, 0, 0, 0, 0, 0, 0}},
      {ZP_FLIP_ACROSS, {0x80, 0x61, 0, 0, 0, 0, 0, 0}},
      {ZP_FLIP_DOWN, {0, 0, 0, 0, 0, 0, 0x43, 0x80}},
      {ZP_INVERT, {0xFF, 0x3C, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F}},
      {ZP_CLEAR, {0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    open_image(1);
    const uint8_t start[8] = {0x80, 0x43, 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(zp_put_glyph(0, start), 1);
    zp_edit_glyph(0, c.edit, 0, 0);
    EXPECT_EQ(std::memcmp(zp_image(), c.rows, 8), 0) << "edit " << c.edit;
  }
  EXPECT_EQ(zp_edit_glyph(1, ZP_CLEAR, 0, 0), 0);  // past the slots
}

}  // namespace
