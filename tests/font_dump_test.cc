#include "font_dump.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "font_patch.h"

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

}  // namespace
