// Hex fonts: a glyph a line, "CODE:DIGITS", CODE in hexadecimal and DIGITS
// the rows top to bottom, two hexadecimal digits a row of 8 columns with the
// leftmost in the top bit. 16 digits make an 8x8 glyph, the only size that
// converts; 32 digits are 8x16 and 64 digits 16x16, which a font of mostly
// 8x8 glyphs may hold too: those are skipped. Blank lines and lines that
// start with '#' are skipped; lines end in LF or CR LF.
#include <string>

#include "codes.h"
#include "font_formats.h"
#include "parse_common.h"

namespace {

// Reads one glyph line; false after failing the font.
bool read_glyph(Font& font, std::string_view text, uint64_t line) {
  // One to eight digits of code, a colon, then digits up to the end.
  std::string_view rest = text;
  uint64_t code = 0;
  bool good =
      read_hex_digits(rest, code) && text.size() - rest.size() <= 8 && rest.substr(0, 1) == ":";
  std::string_view code_text = text.substr(0, text.size() - rest.size());
  std::string_view digits = good ? rest.substr(1) : std::string_view{};
  rest = digits;
  uint64_t value = 0;
  good = good && read_hex_digits(rest, value) && rest.empty();
  if (!good)
    return fail_font(font, line, "not a line of a hex font: expected CODE:HEXDIGITS"), false;
  std::string name = "glyph " + std::string(code_text);
  if (digits.size() == 32 || digits.size() == 64) {
    font.warnings.push_back({line, name + " is " + (digits.size() == 32 ? "8x16" : "16x16") +
                                       ": only 8x8 glyphs convert; skipped"});
    ++font.count;
    return true;
  }
  if (digits.size() != 16) {
    return fail_font(font, line,
                     name + " has " + std::to_string(digits.size()) +
                         " hexadecimal digits: only 8x8 glyphs of 16 digits convert"),
           false;
  }
  FontGlyph glyph{static_cast<uint32_t>(code), font.count++, {}};
  for (size_t r = 0; r < 8; ++r) glyph.rows[r] = hex_byte(&digits[2 * r]);
  font.glyphs.push_back(glyph);
  return true;
}

}  // namespace

Font parse_hex_font(std::string_view text) {
  Font font;
  font.format = "hex";
  uint64_t line = 0;
  while (!text.empty()) {
    std::string_view current = next_line(text);
    ++line;
    if (current.empty() || current[0] == '#') continue;
    if (!read_glyph(font, current, line)) return font;
  }
  return font;
}
