#include <gtest/gtest.h>

#include <string>

#include "glyph_picture.h"

namespace {

TEST(DrawGlyphPicture, CellsInRowsOf16UnderTheirCodes) {
  Picture p;
  ASSERT_TRUE(
      draw_glyph_picture({{0x41, {0x81, 0x40, 0, 0, 0, 0, 0, 0xFF}}, {0x1234, {0x80}}}, 0x80, p));
  EXPECT_EQ(p.width * 1000 + p.height, 573089);  // four digits of row label
  // Every pixel, labels included, as checked by eye once.
  uint64_t hash = 14695981039346656037u;
  for (uint8_t byte : p.rgb) hash = (hash ^ byte) * 1099511628211u;
  EXPECT_EQ(hash, 4945216450554091721u);
}

TEST(DrawGlyphPicture, AtMost1024RowsOf16) {
  std::vector<PictureGlyph> glyphs(1024);
  for (uint32_t i = 0; i < glyphs.size(); ++i) glyphs[i].code = 16 * i + 16;
  Picture p;
  EXPECT_TRUE(draw_glyph_picture(glyphs, 0, p));
  glyphs.push_back({16 * 2000, {}});
  EXPECT_FALSE(draw_glyph_picture(glyphs, 0, p));
}

TEST(DrawGlyphPicture, SampleLinesAndLegendUnderTheGrid) {
  Picture p;
  // 'A' sets columns 1 and 8 of row 0; column 1 is marked, so the machine shows only column 8.
  std::string sample(kSampleLineGlyphs, 'A');
  sample[1] = 'B';  // no glyph
  ASSERT_TRUE(draw_glyph_picture({{0x41, {0x81}}}, 0x80, p, {sample + "A", "R:"}));
  ASSERT_EQ(p.height, picture_height(1, 2, true));
  int left = picture_left(0x40);
  auto pixel = [&](int x, int y) {  // as 0xRRGGBB
    size_t at = static_cast<size_t>(y) * p.width + x;
    return uint32_t{p.rgb[at * 3]} << 16 | p.rgb[at * 3 + 1] << 8 | p.rgb[at * 3 + 2];
  };
  int top = grid_bottom(1) + 8;
  const std::pair<std::pair<int, int>, uint32_t> dots[] = {
      {{left, top}, 0xFFFFFFu},                      // column 1: not shown
      {{left + 6 * 4, top}, 0u},                     // column 8, the seventh shown
      {{left + 6 * 4 + 3, top - 1}, 0xFFFFFFu},      // its first pixel, no higher
      {{left + 28 + 6 * 4, top}, 0xD0D0D0u},         // 'B': grey
      {{left + 6 * 4, top + kSampleLinePitch}, 0u},  // the glyph after a full line
      {{left + 28 + 6 * 4, top + kSampleLinePitch}, 0xFFFFFFu},
      {{left, top + kSampleLinePitch + kCellPixels + 6}, 0xD01010u},  // the legend's 'R', red
      {{left + 8 + 2, top + kSampleLinePitch + kCellPixels + 6 + 2}, 0x303030u}};  // its ':'
  for (const auto& [at, colour] : dots)
    EXPECT_EQ(pixel(at.first, at.second), colour) << at.first << "," << at.second;
}

}  // namespace
