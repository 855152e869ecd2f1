#include <gtest/gtest.h>

#include <string>

#include "font_formats.h"
#include "font_select.h"

namespace {

const char kBdf[] =
    "STARTFONT 2.1\nFONTBOUNDINGBOX 8 8 0 -1\nSTARTCHAR A\nENCODING 65\nBBX 3 2 1 "
    "0\nBITMAP\nE0\nA0\n"
    "ENDCHAR\nENDFONT\n";

TEST(FontFormats, DamagedFontsFailWithTheirLine) {
  struct Case {
    std::string data;
    uint64_t line;
    const char* start;
  } cases[] = {
      {std::string("\x36\x04\x00\x08", 4) + std::string(100, '\0'), 0, "the file is cut short"},
      {std::string("\x36\x04\x00\x10", 4) + std::string(4096, '\0'), 0, "the glyphs are 8x16"},
      {"STARTFONT 2.1\nFONTBOUNDINGBOX 8 16 0 0\n", 2, "the font's cell is 8x16"},
      {"STARTFONT 2.1\nFONTBOUNDINGBOX 8 8 0 0\nSTARTCHAR A\nENCODING 65\nBBX 8 1 0 0\nBITMAP\n"
       "zz\nENDCHAR\nENDFONT\n",
       7, "bad BITMAP row"},
      {"STARTFONT 2.1\nFONTBOUNDINGBOX 8 8 0 0\nSTARTCHAR A\nENCODING 65\nSTARTCHAR B\n", 5,
       "glyph 'A' (ENCODING 65) has no ENDCHAR"},
      {"0041:0011223344556677\n0042:00112233445566778899AABBCCDDEEFF\n", 2, "glyph 0042 has 32"},
      {"PK\x03\x04", 0, "not a font that converts"},
      // Glyphs placed in one cell cannot move to another (found by fuzzing).
      {"STARTFONT 2.1\nFONTBOUNDINGBOX 8 8 0 0\nFONTBOUNDINGBOX 1 8 0 0\n", 3,
       "FONTBOUNDINGBOX is given twice"},
  };
  for (const Case& c : cases) {
    Font font = parse_font(c.data, false);
    EXPECT_TRUE(font.failed) << c.start;
    EXPECT_EQ(font.error.line, c.line) << c.start;
    EXPECT_EQ(font.error.text.rfind(c.start, 0), 0u) << font.error.text;
  }
}

TEST(FontFormats, BdfBoxesSitOnTheBaselineOfTheCell) {
  Font font = parse_font(kBdf, false);
  ASSERT_FALSE(font.failed) << font.error.text;
  ASSERT_EQ(font.glyphs.size(), 1u);
  const uint8_t expected[8] = {0, 0, 0, 0, 0, 0x70, 0x50, 0};
  for (int r = 0; r < 8; ++r) EXPECT_EQ(font.glyphs[0].rows[r], expected[r]) << r;
}

TEST(FontSelect, MapsMoveAndTheFirstRangeWins) {
  Font font;
  font.count = 3;
  font.glyphs = {{0x41, 0, {0xFF}}, {0x42, 1, {0x01}}, {0x43, 2, {0x80}}};
  std::vector<CodeRange> map;
  std::string error;
  ASSERT_TRUE(parse_code_map("41-42>0x61,42,0-41>FFFFFFF", map, error)) << error;
  PatchPlan plan = plan_patch(font, map, DropSide::right);
  std::string codes;
  for (const FontGlyph& g : plan.glyphs) codes += std::to_string(g.code) + " ";
  EXPECT_EQ(codes, "66 97 98 ");
  EXPECT_EQ(plan.left_out, 1u);     // 0x43
  EXPECT_EQ(plan.lost_pixels, 3u);  // counted in the patch: 0x42 lands twice
  EXPECT_EQ(plan.warnings.size(), 1u);
  EXPECT_FALSE(parse_code_map("41-40", map, error));
  EXPECT_FALSE(parse_code_map("41,", map, error));
  EXPECT_EQ(image_row(0xFF, 8, DropSide::left), 0x7F);
  EXPECT_EQ(image_row(0x81, 8, DropSide::right), 0x40);
}

}  // namespace
