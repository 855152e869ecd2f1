// Reading back a picture that zenpo-dump or zenpo-convert drew: its grid is
// found from the picture's width (which tells the label band's width) and
// checked line by line, its codes are read from the row labels, and its
// cells give the glyphs.
#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "codes.h"
#include "parse_common.h"
#include "picture_pixels.h"

namespace {

// The grid of a picture: its left line and its rows of cells.
struct Grid {
  int left = 0;
  int rows = 0;
  std::vector<uint32_t> codes;  // the label of each row
};

std::string num(int value) { return std::to_string(value); }

int cell_top(int row) { return kPictureTop + 1 + row * kCellPitch; }

int cell_left(const Grid& g, int column) { return g.left + 1 + column * kCellPitch; }

bool is_grid(const Pixels& p, int x, int y) { return near(pixel(p, x, y), kGrid); }

// Where a line of the grid starts, and which way it runs.
struct Line {
  int x, y;
  bool down;
};

// The line of `length` pixels from `from` is a grid line: most of it, as an
// edit may have painted over a few of its pixels.
bool line_there(const Pixels& p, Line from, int length) {
  int found = 0;
  for (int i = 0; i < length; ++i) {
    if (is_grid(p, from.down ? from.x : from.x + i, from.down ? from.y + i : from.y)) ++found;
  }
  return found * 4 >= length * 3;
}

// A label band ends at `left`: room for 2 to 8 digits.
bool label_band(int left) {
  return left >= picture_left(0) && left <= picture_left(UINT32_MAX) &&
         (left - picture_left(0)) % kDigitAdvance == 0;
}

// The digit drawn with its top left at (x, y); -1 when blank, -2 when it
// is no digit.
int read_digit(const Pixels& p, int x, int y) {
  unsigned bits = 0;
  for (int bit = 0; bit < 15; ++bit) {
    int dark_pixels = 0;
    for (int k = 0; k < kDigitScale * kDigitScale; ++k) {
      if (dark(pixel(p, x + bit % 3 * kDigitScale + k % kDigitScale,
                     y + bit / 3 * kDigitScale + k / kDigitScale)))
        ++dark_pixels;
    }
    if (dark_pixels * 2 > kDigitScale * kDigitScale) bits |= 1u << (14 - bit);
  }
  if (bits == 0) return -1;
  const uint16_t* found = std::find(kDigits, kDigits + 16, bits);
  return found == kDigits + 16 ? -2 : static_cast<int>(found - kDigits);
}

// The code of the label of row `row`, right-aligned against the grid; false
// when it is no code of a row's first cell, as the tools write it.
bool read_label(const Pixels& p, const Grid& g, int row, uint32_t& code) {
  int y = cell_top(row) + (kCellPixels - 5 * kDigitScale) / 2;
  int room = (g.left - kMargin - kLabelGap) / kDigitAdvance;
  int digits = 0;
  uint64_t value = 0;
  for (; digits < room; ++digits) {
    int digit = read_digit(p, g.left - kLabelGap - (digits + 1) * kDigitAdvance, y);
    if (digit == -2) return false;
    if (digit == -1) break;
    value |= uint64_t{static_cast<unsigned>(digit)} << (4 * digits);
  }
  code = static_cast<uint32_t>(value);
  return digits >= 2 && label_digits(code) == digits && (code & 0xF) == 0;
}

// Counts the rows from the length of the grid's left line and checks that
// the height holds them and what may lie under them; the reason if not.
std::string count_rows(const Pixels& p, Grid& g) {
  int length = 0;
  while (kPictureTop + length < p.height && is_grid(p, g.left, kPictureTop + length)) ++length;
  if ((length - 1) % kCellPitch != 0) {
    return "its grid's left line, at x = " + num(g.left) + ", is " + num(length) +
           " pixels long: no whole number of rows of cells, " + num(kCellPitch) + " pixels each";
  }
  g.rows = (length - 1) / kCellPitch;
  if (g.rows > static_cast<int>(kMostPictureRows))
    return "its grid has " + num(g.rows) + " rows of cells, more than the tools draw";
  int under = p.height - picture_height(g.rows, 0, false);
  int under_legend = under - kLegendHeight;
  if (under % kSampleLinePitch == 0 || (under_legend >= 0 && under_legend % kSampleLinePitch == 0))
    return "";
  return "it is " + num(p.height) + " pixels high, where a picture of " + num(g.rows) +
         " rows of cells is " + num(picture_height(g.rows, 0, false)) + ", or more by " +
         num(kSampleLinePitch) + " for each line of samples and by " + num(kLegendHeight) +
         " for the legend";
}

// Checks every line of the grid; the reason when one is missing.
std::string check_lines(const Pixels& p, const Grid& g) {
  int length = grid_bottom(g.rows) - kPictureTop;
  for (int c = 0; c <= 16; ++c) {
    int x = g.left + c * kCellPitch;
    if (!line_there(p, {x, kPictureTop, true}, length))
      return "no grid line at x = " + num(x) + ", where its grid has one";
  }
  for (int r = 0; r <= g.rows; ++r) {
    int y = kPictureTop + r * kCellPitch;
    if (!line_there(p, {g.left, y, false}, kGridWidth))
      return "no grid line at y = " + num(y) + ", where its grid has one";
  }
  return "";
}

// Reads the codes of the rows and checks the column labels; the reason
// when one cannot be read or they do not fit the grid.
std::string read_labels(const Pixels& p, Grid& g) {
  for (int r = 0; r < g.rows; ++r) {
    uint32_t code = 0;
    if (!read_label(p, g, r, code))
      return "the label of row " + num(r + 1) + " cannot be read left of x = " + num(g.left);
    if (!g.codes.empty() && code <= g.codes.back()) {
      return "its row labels do not ascend: " + hex_text(code) + " comes after " +
             hex_text(g.codes.back());
    }
    g.codes.push_back(code);
  }
  int widest = picture_left(g.codes.empty() ? 0 : g.codes.back());
  if (widest != g.left) {
    return "its last row label needs its grid at x = " + num(widest) +
           ", but it is at x = " + num(g.left);
  }
  int inset = (kCellPixels - 3 * kDigitScale) / 2;
  for (int c = 0; c < 16; ++c) {
    if (read_digit(p, cell_left(g, c) + inset, kColumnLabelTop) != c)
      return "the column label " + hex_text(static_cast<uint32_t>(c)) + " is not over its column";
  }
  return "";
}

// A slot without a glyph: all of its cell grey.
bool empty_slot(const Pixels& p, int x, int y) {
  for (int dy = 0; dy < kCellPixels; ++dy) {
    for (int dx = 0; dx < kCellPixels; ++dx)
      if (!near(pixel(p, x + dx, y + dy), kNoGlyph)) return false;
  }
  return true;
}

// A pixel of a marked column: red, or, in a picture saved as grey, of the
// levels that its colours turn into (lighter than ink, darker than paper).
bool marked_tint(Colour c) {
  if (c.red - std::max(c.green, c.blue) >= 16) return true;
  if (std::max({c.red, c.green, c.blue}) - std::min({c.red, c.green, c.blue}) > 8) return false;
  int level = luma(c);
  return (level >= 30 && level <= 120) || (level >= 215 && level <= 250);
}

// Pixels of each cell column seen red or pale red, and seen otherwise.
struct MarkVotes {
  std::array<uint64_t, 8> tinted{};
  std::array<uint64_t, 8> plain{};
};

// Reads the cell at (x, y) into `glyph`, dot by dot; true when a dot is
// painted in part.
bool read_cell(const Pixels& p, int x, int y, FontGlyph& glyph, MarkVotes& votes) {
  bool mixed = false;
  for (int dot = 0; dot < 64; ++dot) {
    int dark_pixels = 0;
    int tinted = 0;
    for (int k = 0; k < kDotPixels * kDotPixels; ++k) {
      Colour c = pixel(p, x + dot % 8 * kDotPixels + k % kDotPixels,
                       y + dot / 8 * kDotPixels + k / kDotPixels);
      dark_pixels += dark(c) ? 1 : 0;
      tinted += marked_tint(c) ? 1 : 0;
    }
    int all = kDotPixels * kDotPixels;
    if (dark_pixels * 2 > all) glyph.rows[dot / 8] |= static_cast<uint8_t>(0x80 >> dot % 8);
    mixed = mixed || (dark_pixels != 0 && dark_pixels != all);
    votes.tinted[dot % 8] += static_cast<uint64_t>(tinted);
    votes.plain[dot % 8] += static_cast<uint64_t>(all - tinted);
  }
  return mixed;
}

// The column that most glyphs show marked, first or last: 0x80, 0x01 or 0.
uint8_t marked_column(const MarkVotes& v) {
  bool first = v.tinted[0] > v.plain[0];
  bool last = v.tinted[7] > v.plain[7];
  // Both at once is no picture of the tools; the more clearly marked wins.
  if (first && last) return v.tinted[0] * v.plain[7] >= v.tinted[7] * v.plain[0] ? 0x80 : 0x01;
  return first ? 0x80 : last ? 0x01 : 0;
}

void read_cells(const Pixels& p, const Grid& g, Font& font) {
  MixedDots mixed;
  MarkVotes votes;
  for (int r = 0; r < g.rows; ++r) {
    for (int c = 0; c < 16; ++c) {
      if (empty_slot(p, cell_left(g, c), cell_top(r))) continue;
      FontGlyph glyph{g.codes[static_cast<size_t>(r)] + static_cast<uint32_t>(c),
                      static_cast<uint32_t>(font.glyphs.size()),
                      {}};
      note_mixed(mixed, glyph.code, read_cell(p, cell_left(g, c), cell_top(r), glyph, votes));
      font.glyphs.push_back(glyph);
    }
  }
  font.count = static_cast<uint32_t>(font.glyphs.size());
  font.marked = marked_column(votes);
  bool last_column =
      std::any_of(font.glyphs.begin(), font.glyphs.end(), [](const FontGlyph& glyph) {
        return std::any_of(glyph.rows, glyph.rows + 8, [](uint8_t row) { return row & 1; });
      });
  font.width = font.marked != 0 || last_column ? 8 : 7;
  warn_mixed(mixed, font);
}

std::string misfit(const std::string& why) {
  return "the picture's grid is not where zenpo-dump and zenpo-convert draw it: " + why +
         " (was the picture moved, cropped or scaled?)";
}

}  // namespace

bool read_tool_picture(const Pixels& p, Font& font) {
  Grid g;
  g.left = p.width - kGridWidth - kMargin;
  if (!label_band(g.left) || p.height < picture_height(0, 0, false)) return false;
  if (!line_there(p, {g.left, kPictureTop, false}, kGridWidth) ||
      is_grid(p, g.left - 1, kPictureTop) || is_grid(p, g.left + kGridWidth, kPictureTop)) {
    return false;
  }
  font.format = "PNG picture";
  std::string why = count_rows(p, g);
  if (why.empty()) why = check_lines(p, g);
  if (why.empty()) why = read_labels(p, g);
  if (!why.empty()) {
    fail_font(font, 0, misfit(why));
    return true;
  }
  read_cells(p, g, font);
  return true;
}

std::string tool_picture_misfit(const Pixels& p) {
  // The first long run of grid grey, from the top: the grid's top line.
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      int run = 0;
      while (x + run < p.width && is_grid(p, x + run, y)) ++run;
      if (run < kGridWidth / 2) {
        x += run;
        continue;
      }
      int left = p.width - kGridWidth - kMargin;
      if (run != kGridWidth) {
        return misfit("its grid's top line is " + num(run) + " pixels long, not " +
                      num(kGridWidth));
      }
      if (y != kPictureTop)
        return misfit("its grid's top line is at y = " + num(y) + ", not " + num(kPictureTop));
      if (x != left) {
        return misfit("it is " + num(p.width) + " pixels wide, which puts its grid at x = " +
                      num(left) + ", but the grid is at x = " + num(x));
      }
      if (!label_band(x))
        return misfit("its grid is at x = " + num(x) + ", where no band of row labels ends");
      return misfit("it is " + num(p.height) + " pixels high, too few for its grid");
    }
  }
  return "";
}
