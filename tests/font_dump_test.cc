#include "font_dump.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "font_patch.h"
#include "font_png.h"

namespace {

TEST(AppendGlyphText, WritesAPictureThatParsesBackToTheSameRows) {
  const uint8_t rows[8] = {0x08, 0x14, 0x22, 0xA2, 0x3E, 0x22, 0x7F, 0x00};
  std::string text;
  EXPECT_EQ(append_glyph_text(text, 0x41, rows), 1);
  EXPECT_EQ(text,
            "; row 3 of 0x41 is 0xA2: bit 7 cannot be written back\n"
            "@41\n0001000\n0010100\n0100010\n0100010\n0111110\n0100010\n1111111\n0000000\n");

  std::mt19937 random(5);
  text.clear();
  uint8_t all[64 * 8];
  for (uint8_t& byte : all) byte = static_cast<uint8_t>(random() % 128);
  for (uint32_t code = 1; code <= 64; ++code)
    append_glyph_text(text, code * 977, &all[size_t{code - 1} * 8]);
  PatchParser parser = parse_font_patch(text);
  EXPECT_TRUE(parser.warnings.empty());
  ASSERT_EQ(parser.glyphs.size(), 64u);
  for (uint32_t i = 0; i < 64; ++i) {
    EXPECT_EQ(parser.glyphs[i].code, (i + 1) * 977);
    for (int r = 0; r < 8; ++r) EXPECT_EQ(parser.glyphs[i].rows[r], kRowGiven | all[i * 8 + r]);
  }
}

// The colour of a pixel as 0xRRGGBB.
uint32_t colour(const Picture& p, int x, int y) {
  const uint8_t* rgb = &p.rgb[(static_cast<size_t>(y) * p.width + x) * 3];
  return uint32_t{rgb[0]} << 16 | rgb[1] << 8 | rgb[2];
}

TEST(DrawGlyphPicture, CellsInRowsOf16UnderTheirCodes) {
  Picture p;
  ASSERT_TRUE(
      draw_glyph_picture({{0x41, {0x81, 0x40, 0, 0, 0, 0, 0, 0xFF}}, {0x1234, {0x80}}}, 0x80, p));
  int left = picture_left(0x1230);  // four digits of row label
  ASSERT_EQ(left, 40);
  EXPECT_EQ(p.width * 1000 + p.height, (left + 16 * 33 + 5) * 1000 + 18 + 2 * 33 + 5);
  auto cell = [&](int row, int column, int y, int x) {  // pixel (x, y) of a 32-pixel cell
    return colour(p, left + 1 + column * 33 + x, 18 + 1 + row * 33 + y);
  };
  // 0x41: its first column is marked, set in row 0 and clear in row 1.
  EXPECT_EQ(cell(0, 1, 0, 0), 0xD01010u);
  EXPECT_EQ(cell(0, 1, 4, 3), 0xFFE0E0u);
  EXPECT_EQ(cell(0, 1, 7, 4), 0x000000u);
  EXPECT_EQ(cell(0, 1, 0, 31), 0x000000u);
  EXPECT_EQ(cell(0, 1, 3, 28), 0x000000u);
  EXPECT_EQ(cell(0, 1, 4, 8), 0xFFFFFFu);
  EXPECT_EQ(cell(0, 1, 31, 31), 0x000000u);
  EXPECT_EQ(cell(0, 1, 31, 32), 0xA0A0A0u);  // the grid line after it
  EXPECT_EQ(cell(0, 0, 0, 0), 0xD0D0D0u);    // no glyph 0x40
  EXPECT_EQ(cell(1, 4, 0, 0), 0xD01010u);    // 0x1234, in the row of 0x1230
  EXPECT_EQ(cell(1, 5, 31, 31), 0xD0D0D0u);
  // Every pixel, labels included, as checked by eye once.
  uint64_t hash = 14695981039346656037u;
  for (uint8_t byte : p.rgb) hash = (hash ^ byte) * 1099511628211u;
  EXPECT_EQ(hash, 4945216450554091721u);
  std::string png = encode_png(p);
  EXPECT_EQ(png.substr(0, 24),
            std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\x02\x3d\0\0\0\x59", 24));
}

TEST(DrawGlyphPicture, AtMost1024RowsOf16) {
  std::vector<PictureGlyph> glyphs(1024);
  for (uint32_t i = 0; i < glyphs.size(); ++i) glyphs[i].code = 16 * i + 16;
  Picture p;
  EXPECT_TRUE(draw_glyph_picture(glyphs, 0, p));
  glyphs.push_back({16 * 2000, {}});
  EXPECT_FALSE(draw_glyph_picture(glyphs, 0, p));
}

}  // namespace
