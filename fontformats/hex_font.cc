// Hex fonts: a glyph a line, "CODE:DIGITS", CODE in hexadecimal and DIGITS
// the rows top to bottom, two hexadecimal digits a row of 8 columns with the
// leftmost in the top bit. 16 digits make an 8x8 glyph, the only size that
// converts; 32 digits are 8x16 and 64 digits 16x16, which a font of mostly
// 8x8 glyphs may hold too: those are skipped. Blank lines and lines that
// start with '#' are skipped; lines end in LF or CR LF.
#include <string>

#include "font_formats.h"

namespace {

int hex_value(char c) {
  return c >= '0' && c <= '9'   ? c - '0'
         : c >= 'a' && c <= 'f' ? c - 'a' + 10
         : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                : -1;
}

// Reads one glyph line; false after failing the font.
bool read_glyph(Font& font, std::string_view text, uint64_t line) {
  size_t colon = text.find(':');
  uint64_t code = 0;
  bool good = colon != std::string_view::npos && colon > 0 && colon <= 8;
  for (size_t i = 0; good && i < colon; ++i) {
    good = hex_value(text[i]) >= 0;
    code = code << 4 | static_cast<uint64_t>(hex_value(text[i]) & 0xF);
  }
  std::string_view digits = good ? text.substr(colon + 1) : std::string_view{};
  for (char c : digits) good = good && hex_value(c) >= 0;
  if (!good || digits.empty())
    return fail_font(font, line, "not a line of a hex font: expected CODE:HEXDIGITS"), false;
  std::string name = "glyph " + std::string(text.substr(0, colon));
  if (digits.size() == 32 || digits.size() == 64) {
    font.warnings.push_back({line, name + " is " + (digits.size() == 32 ? "8x16" : "16x16") +
                                       ": only 8x8 glyphs convert; skipped"});
    ++font.count;
    return true;
  }
  if (digits.size() != 16)
    return fail_font(font, line,
                     name + " has " + std::to_string(digits.size()) +
                         " hexadecimal digits: only 8x8 glyphs of 16 digits convert"),
           false;
  FontGlyph glyph{static_cast<uint32_t>(code), font.count++, {}};
  for (int r = 0; r < 8; ++r)
    glyph.rows[r] =
        static_cast<uint8_t>(hex_value(digits[2 * r]) << 4 | hex_value(digits[2 * r + 1]));
  font.glyphs.push_back(glyph);
  return true;
}

}  // namespace

Font parse_hex_font(std::string_view text) {
  Font font;
  font.format = "hex";
  uint64_t line = 0;
  while (!text.empty()) {
    size_t end = text.find('\n');
    std::string_view current = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    ++line;
    if (!current.empty() && current.back() == '\r') current.remove_suffix(1);
    if (current.empty() || current[0] == '#') continue;
    if (!read_glyph(font, current, line)) return font;
  }
  return font;
}
