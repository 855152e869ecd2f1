// What the unit tests of fonts share: a font written out in one line.
#pragma once

#include <string>

#include "codes.h"
#include "font_formats.h"

// `font` in one line: "FORMAT WIDTHxHEIGHT COUNT[ U][ marked M][ light ink]", its glyphs as
// CODE/INDEX=ROWS (unless `all`, only the first and the last, with "(n)" for those between), then
// "; LINE: warning" each; or "LINE: error" when it failed.
inline std::string describe(const Font& font, bool all = false) {
  if (font.failed) return std::to_string(font.error.line) + ": " + font.error.text;
  std::string out = font.format + " " + std::to_string(font.width) + "x" +
                    std::to_string(font.height) + " " + std::to_string(font.count) +
                    (font.unicode_table ? " U" : "") +
                    (font.marked ? " marked " + hex_text(font.marked) : "") +
                    (font.light_ink ? " light ink" : "");
  for (size_t i = 0; i < font.glyphs.size(); ++i) {
    if (!all && i == 1 && font.glyphs.size() > 2)
      out += " (" + std::to_string(font.glyphs.size() - 2) + ")";
    if (!all && i > 0 && i + 1 < font.glyphs.size()) continue;
    const FontGlyph& g = font.glyphs[i];
    out += " " + hex_text(g.code) + "/" + hex_text(g.index) + "=";
    for (uint8_t row : g.rows) out += hex_text(row, 2);
  }
  for (const FontMessage& w : font.warnings) out += "; " + std::to_string(w.line) + ": " + w.text;
  return out;
}
