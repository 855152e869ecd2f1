// Fuzzes the reader of pictures of glyphs. Whatever the bytes, it must end
// with a font or a reason why not; a font's glyphs must lie in its cell, in
// ascending codes; and a picture of the tools must read back the same once
// its glyphs are drawn again. An input whose first byte is not that of a
// PNG is a sheet, its layout taken from that byte.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "fuzz_common.h"
#include "glyph_picture.h"
#include "picture_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view png(reinterpret_cast<const char*>(data), size);
  SheetOptions sheet;
  if (size > 0 && data[0] != 0x89) {
    int b = data[0];
    sheet = {b % 8 + 1,  b / 8 % 8 + 1, b / 64,     b / 128, b / 32 % 2,
             b / 16 % 2, b / 64 + 1,    b % 16 + 1, 0,       true};
    png.remove_prefix(1);
  }
  Font font = read_glyph_picture(png, sheet);
  check(font.failed == !font.error.text.empty(), "a failure without its reason, or the reverse");
  if (font.failed) return 0;
  check(font.width >= 1 && font.width <= 8 && font.height >= 1 && font.height <= 8 &&
            (font.marked == 0 || (font.width == 8 && (font.marked == 0x80 || font.marked == 0x01))),
        "a cell of no column or more than 8, or a marked column inside it");
  check(font.count == font.glyphs.size(), "a count that is not the glyphs'");
  for (size_t i = 0; i < font.glyphs.size(); ++i) {
    const FontGlyph& g = font.glyphs[i];
    check(g.index == i && (i == 0 || g.code > font.glyphs[i - 1].code), "glyphs out of order");
    for (int row = 0; row < 8; ++row) {
      check((row < font.height || g.rows[row] == 0) && (g.rows[row] & (0xFF >> font.width)) == 0,
            "a pixel outside the cell");
    }
  }
  if (font.format != "PNG picture") return 0;
  std::vector<PictureGlyph> glyphs = picture_glyphs(font.glyphs);
  Picture picture;
  check(draw_glyph_picture(glyphs, font.marked, picture), "more rows than a picture holds");
  Font again = read_glyph_picture(encode_png(picture), {});
  std::vector<PictureGlyph> back = picture_glyphs(again.glyphs);
  auto same = [](const PictureGlyph& a, const PictureGlyph& b) {
    return a.code == b.code && std::memcmp(a.rows, b.rows, 8) == 0;
  };
  check(!again.failed && again.warnings.empty() && again.marked == font.marked &&
            again.width == font.width &&
            std::equal(glyphs.begin(), glyphs.end(), back.begin(), back.end(), same),
        "a picture drawn again reads back otherwise");
  return 0;
}
