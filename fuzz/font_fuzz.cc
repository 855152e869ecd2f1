// Fuzzes one parser of other programs' fonts, picked when it is built
// (FONT_FUZZ_PSF, FONT_FUZZ_BDF or FONT_FUZZ_HEX): whatever the bytes, it
// must end with a font or a reason why not, and a font's glyphs must lie in
// its cell.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "font_formats.h"
#include "fuzz_common.h"

namespace {

Font parse(std::string_view data) {
#if defined(FONT_FUZZ_PSF)
  // The first byte picks the codes: positions or the Unicode table.
  return data.empty() ? parse_psf(data, false) : parse_psf(data.substr(1), (data[0] & 1) != 0);
#elif defined(FONT_FUZZ_BDF)
  return parse_bdf(data);
#else
  return parse_hex_font(data);
#endif
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Font font = parse(std::string_view(reinterpret_cast<const char*>(data), size));
  check(font.failed == !font.error.text.empty(), "a failure without its reason, or the reverse");
  if (font.failed) return 0;
  check(font.width >= 1 && font.width <= 8, "a cell of no column or more than 8");
  check(font.height >= 1 && font.height <= 8, "a cell of no row or more than 8");
  // A PSF glyph stands at each code of its Unicode entry; other formats give one code a glyph.
  check(font.unicode_table || font.glyphs.size() <= font.count, "more glyphs than the font holds");
  for (const FontGlyph& g : font.glyphs) {
    check(g.index < font.count, "a glyph placed past the font's count");
    for (uint8_t row : g.rows) check((row & (0xFF >> font.width)) == 0, "a pixel outside the cell");
  }
  return 0;
}
