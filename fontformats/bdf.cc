// BDF 2.1 fonts, the text format of X11 bitmap fonts.
//
// Lines of a keyword and its values. The font starts with STARTFONT and
// ends with ENDFONT; FONTBOUNDINGBOX W H X Y gives the cell, W columns and H
// rows whose lower left corner lies at (X, Y) from the origin on the
// baseline. Each glyph runs from STARTCHAR NAME to ENDCHAR: ENCODING CODE
// (-1 for a glyph without a code), BBX W H X Y for its own box, then
// BITMAP and H rows of hexadecimal digits, two a byte, the leftmost column
// in the top bit of the first byte. COMMENT lines and the properties
// between STARTPROPERTIES and ENDPROPERTIES say nothing about the glyphs.
//
// The cell must be at most 8 rows high and 8 columns wide. The image's cell
// has 7 rows above the baseline and 1 below: a shorter cell goes where its
// baseline falls on the image's, moved up or down as little as it must to
// stay inside. A glyph's box is placed in the cell by the two offsets; it
// may reach past the cell by blank rows and columns, as some programs write
// every box a column wider than the cell, but a set pixel outside the cell
// skips the glyph. Lines end in LF or CR LF.
#include <algorithm>
#include <cstdlib>
#include <string>

#include "codes.h"
#include "font_formats.h"
#include "parse_common.h"

namespace {

// The glyph being read.
struct BdfGlyph {
  std::string name;
  int64_t code = -2;  // -2 until ENCODING, -1 for no code
  bool has_box = false;
  bool cut = false;                             // a set pixel lies outside the cell
  int64_t width = 0, height = 0, x = 0, y = 0;  // its BBX, offsets from the cell's corner
  std::string box;                              // the BBX's values, for messages
  uint64_t box_line = 0;
  int64_t rows_read = 0;  // of its BITMAP
  int64_t top = 0;        // image row of its first bitmap row
  uint8_t rows[8] = {};
};

// Where a parse stands.
struct BdfState {
  enum { header, properties, in_glyph, bitmap, ended } part = header;
  bool have_cell = false;
  int64_t cell_x = 0, cell_y = 0;  // FONTBOUNDINGBOX offsets
  int64_t cell_top = 0;            // image row of the cell's top row
  BdfGlyph glyph;
};

// The first word of `line`, which moves past it and the blanks after it.
std::string_view next_word(std::string_view& line) {
  size_t start = line.find_first_not_of(" \t");
  if (start == std::string_view::npos) return line = {}, std::string_view{};
  size_t stop = line.find_first_of(" \t", start);
  std::string_view word = line.substr(start, stop - start);
  line = stop == std::string_view::npos ? std::string_view{} : line.substr(stop);
  return word;
}

// Reads `count` decimal integers from `line`; false when there are fewer.
bool read_numbers(std::string_view line, int64_t* out, int count) {
  for (int i = 0; i < count; ++i) {
    std::string word(next_word(line));
    char* stop = nullptr;
    if (word.empty()) return false;
    out[i] = std::strtoll(word.c_str(), &stop, 10);
    if (*stop || out[i] < INT32_MIN || out[i] > INT32_MAX) return false;
  }
  return true;
}

// The name of the glyph for messages: "'A' (ENCODING 65)".
std::string glyph_name(const BdfGlyph& g) {
  return "'" + g.name + "'" + (g.code >= -1 ? " (ENCODING " + std::to_string(g.code) + ")" : "");
}

// Reads FONTBOUNDINGBOX; false after failing the font.
bool read_cell(Font& font, BdfState& s, std::string_view values, uint64_t line) {
  // The glyphs so far were placed in the first cell: a second one would not hold them.
  if (s.have_cell) return fail_font(font, line, "FONTBOUNDINGBOX is given twice"), false;
  int64_t v[4];
  if (!read_numbers(values, v, 4)) return fail_font(font, line, "bad FONTBOUNDINGBOX"), false;
  if (v[1] < 1 || v[1] > 8 || v[0] < 1 || v[0] > 8) {
    return fail_font(font, line,
                     "the font's cell is " + std::to_string(v[0]) + "x" + std::to_string(v[1]) +
                         ": only fonts of up to 8 rows and 8 columns convert"),
           false;
  }
  font.width = static_cast<int>(v[0]);
  font.height = static_cast<int>(v[1]);
  s.cell_x = v[2];
  s.cell_y = v[3];
  // The cell's ascent is height + Y; the image's baseline lies below its row 6.
  s.cell_top = std::clamp<int64_t>(7 - (v[1] + v[3]), 0, 8 - v[1]);
  s.have_cell = true;
  return true;
}

// Reads BBX: where the glyph's box lies in the cell.
bool read_box(Font& font, BdfState& s, std::string_view values, uint64_t line) {
  int64_t v[4];
  if (!read_numbers(values, v, 4) || v[0] < 0 || v[1] < 0)
    return fail_font(font, line, "bad BBX of glyph " + glyph_name(s.glyph)), false;
  BdfGlyph& g = s.glyph;
  g.width = v[0], g.height = v[1];
  g.x = v[2] - s.cell_x, g.y = v[3] - s.cell_y;
  g.top = s.cell_top + font.height - g.y - g.height;
  g.box = std::to_string(v[0]);
  for (int i = 1; i < 4; ++i) g.box += " " + std::to_string(v[i]);
  g.has_box = true;
  g.box_line = line;
  return true;
}

// Ends the glyph at ENDCHAR: keeps it, or skips it with a warning.
bool end_glyph(Font& font, BdfState& s, uint64_t line) {
  BdfGlyph& g = s.glyph;
  if (g.rows_read < g.height) {
    return fail_font(font, line,
                     "glyph " + glyph_name(g) + " has " + std::to_string(g.rows_read) +
                         " BITMAP rows; its BBX gives " + std::to_string(g.height)),
           false;
  }
  uint32_t index = font.count++;
  s.part = BdfState::header;
  if (g.code < 0 || g.code > UINT32_MAX) return true;  // a glyph without a code is not taken
  if (g.cut) {
    font.warnings.push_back(
        {g.box_line, "glyph " + glyph_name(g) + " has set pixels outside the font's " +
                         std::to_string(font.width) + "x" + std::to_string(font.height) +
                         " cell, where its BBX " + g.box + " puts them; skipped"});
  } else {
    FontGlyph glyph{static_cast<uint32_t>(g.code), index, {}};
    for (int r = 0; r < 8; ++r) glyph.rows[r] = g.rows[r];
    font.glyphs.push_back(glyph);
  }
  return true;
}

// Puts the pixels of BITMAP row `row`, of well-formed digits, where they
// fall in the cell, whose top is image row `cell_top`; one outside it
// marks the glyph cut. BDF pads rows with clear bits: set ones are no pixels.
void place_row(BdfGlyph& g, int64_t cell_top, const Font& font, std::string_view row) {
  int64_t top = g.top + g.rows_read;  // the image row
  bool row_in = top >= cell_top && top < cell_top + font.height;
  for (int64_t column = 0; column < g.width; column += 8) {
    auto bits = static_cast<int>(std::min<int64_t>(g.width - column, 8));  // of this byte
    int byte = hex_byte(row.data() + column / 4) & (0xFF00 >> bits);
    for (int bit = 0; byte != 0; ++bit, byte = byte << 1 & 0xFF) {
      int64_t x = g.x + column + bit;  // the cell's column
      if (!(byte & 0x80)) continue;
      if (row_in && x >= 0 && x < font.width) {
        g.rows[top] |= static_cast<uint8_t>(0x80 >> x);
      } else {
        g.cut = true;
      }
    }
  }
}

// Reads one row of a BITMAP into the glyph.
bool read_bitmap_row(Font& font, BdfState& s, std::string_view row, uint64_t line) {
  BdfGlyph& g = s.glyph;
  size_t digits = static_cast<size_t>((g.width + 7) / 8 * 2);
  while (!row.empty() && (row.back() == ' ' || row.back() == '\t')) row.remove_suffix(1);
  std::string_view rest = row;
  uint64_t value = 0;
  bool hex = row.size() >= digits && row.size() % 2 == 0 &&
             (row.empty() || read_hex_digits(rest, value)) && rest.empty();
  if (!hex) {
    return fail_font(font, line,
                     "bad BITMAP row of glyph " + glyph_name(g) + ": expected " +
                         std::to_string(digits) + " hexadecimal digits"),
           false;
  }
  place_row(g, s.cell_top, font, row);
  ++g.rows_read;
  return true;
}

// Reads one line that lies inside a glyph.
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): a line's keyword, then its values
bool read_glyph_line(Font& font, BdfState& s, std::string_view keyword, std::string_view values,
                     uint64_t line) {
  BdfGlyph& g = s.glyph;
  if (keyword == "ENDCHAR") return end_glyph(font, s, line);
  if (keyword == "STARTCHAR" || keyword == "ENDFONT")
    return fail_font(font, line, "glyph " + glyph_name(g) + " has no ENDCHAR"), false;
  if (s.part == BdfState::bitmap) {
    if (g.rows_read == g.height) {
      return fail_font(font, line,
                       "glyph " + glyph_name(g) + " has more BITMAP rows than the " +
                           std::to_string(g.height) + " of its BBX"),
             false;
    }
    return read_bitmap_row(font, s, keyword, line);
  }
  if (keyword == "ENCODING") {
    int64_t code = 0;
    if (!read_numbers(values, &code, 1))
      return fail_font(font, line, "bad ENCODING of glyph " + glyph_name(g)), false;
    g.code = code < 0 ? -1 : code;
  } else if (keyword == "BBX") {
    return read_box(font, s, values, line);
  } else if (keyword == "BITMAP") {
    if (!g.has_box || g.code == -2) {
      return fail_font(font, line,
                       "glyph " + glyph_name(g) + " has no ENCODING or BBX before BITMAP"),
             false;
    }
    s.part = BdfState::bitmap;
  }
  return true;
}

// Reads one line of the font; false after failing it.
bool read_line(Font& font, BdfState& s, std::string_view values, uint64_t line) {
  std::string_view keyword = next_word(values);
  if (s.part == BdfState::in_glyph || s.part == BdfState::bitmap)
    return read_glyph_line(font, s, keyword, values, line);
  if (s.part == BdfState::properties) {
    if (keyword == "ENDPROPERTIES") s.part = BdfState::header;
    return true;
  }
  if (keyword.empty() || keyword == "COMMENT") return true;
  if (font.format.empty()) {
    if (keyword != "STARTFONT") return fail_font(font, line, "not a BDF font: no STARTFONT"), false;
    font.format = "BDF " + std::string(next_word(values));
  } else if (keyword == "FONTBOUNDINGBOX") {
    return read_cell(font, s, values, line);
  } else if (keyword == "STARTPROPERTIES") {
    s.part = BdfState::properties;
  } else if (keyword == "STARTCHAR") {
    if (!s.have_cell)
      return fail_font(font, line, "no FONTBOUNDINGBOX before the first glyph"), false;
    s.glyph = BdfGlyph{};
    s.glyph.name = std::string(next_word(values));
    s.part = BdfState::in_glyph;
  } else if (keyword == "ENDFONT") {
    s.part = BdfState::ended;
  }
  return true;
}

}  // namespace

Font parse_bdf(std::string_view text) {
  Font font;
  BdfState state;
  uint64_t line = 0;
  while (!text.empty() && state.part != BdfState::ended) {
    if (!read_line(font, state, next_line(text), ++line)) return font;
  }
  if (state.part == BdfState::in_glyph || state.part == BdfState::bitmap)
    return fail_font(font, line, "glyph " + glyph_name(state.glyph) + " has no ENDCHAR");
  if (state.part != BdfState::ended) {
    return fail_font(font, line,
                     font.format.empty() ? "not a BDF font: no STARTFONT"
                                         : "the font has no ENDFONT: it is cut short");
  }
  return font;
}
