#include "font_io.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// The whole content of `file`.
std::string contents(FILE* file) {
  std::string bytes;
  std::rewind(file);
  for (int c; (c = std::fgetc(file)) != EOF;) bytes += static_cast<char>(c);
  return bytes;
}

TEST(WriteGlyphRows, SplitsRunsLongerThanItsBuffer) {
  // 300 000 whole glyphs in a row make 2.4 MB: more than one run's buffer.
  std::vector<PatchGlyph> glyphs;
  std::string expected(8, '\x55');
  for (uint32_t code = 1; code <= 300000; ++code) {
    PatchGlyph g{code, code, {}};
    for (int r = 0; r < 8; ++r) {
      g.rows[r] = static_cast<uint8_t>(kRowGiven | ((code * 8 + r) % 127));
      expected += static_cast<char>((code * 8 + r) % 127);
    }
    glyphs.push_back(g);
  }
  FILE* rom = std::tmpfile();
  ASSERT_NE(rom, nullptr);
  ASSERT_EQ(std::fwrite(expected.data(), 1, 8, rom), 8u);
  EXPECT_TRUE(write_glyph_rows(rom, glyphs));
  EXPECT_TRUE(contents(rom) == expected);
  (void)std::fclose(rom);
}

TEST(WriteRomStart, ReplacesTheStartAndNeverTruncates) {
  FILE* rom = std::tmpfile();
  ASSERT_NE(rom, nullptr);
  ASSERT_GE(std::fputs("0123456789", rom), 0);
  EXPECT_TRUE(write_rom_start(rom, "ab\x1A\r\n", 5));
  EXPECT_EQ(contents(rom), "ab\x1A\r\n56789");
  EXPECT_EQ(rom_size(rom), 10);
  EXPECT_TRUE(write_rom_start(rom, "ABCDEFGHIJKL", 12));
  EXPECT_EQ(contents(rom), "ABCDEFGHIJKL");
  (void)std::fclose(rom);
}

TEST(ReadFontBytes, ReadsAFileOfAnySize) {
  for (size_t size : {size_t{0}, size_t{1}, size_t{65536}, size_t{200001}}) {
    FILE* font = std::tmpfile();
    ASSERT_NE(font, nullptr);
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, size, font), size);
    std::rewind(font);
    std::vector<char> read;
    EXPECT_TRUE(read_font_bytes(font, read));
    EXPECT_EQ(std::string(read.begin(), read.end()), bytes);
    (void)std::fclose(font);
  }
}

}  // namespace
