#include "picture_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "codes.h"
#include "glyph_picture.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace {

// `font` in one line: "FORMAT WxH marked M: CODE/INDEX=ROWS..." and its warnings, or its error.
std::string describe(const Font& font) {
  if (font.failed) return "error: " + font.error.text;
  std::string out = font.format + " " + std::to_string(font.width) + "x" +
                    std::to_string(font.height) + " marked " + hex_text(font.marked) + ":";
  for (const FontGlyph& g : font.glyphs) {
    out += " " + hex_text(g.code) + "/" + hex_text(g.index) + "=";
    for (uint8_t row : g.rows) out += hex_text(row, 2);
  }
  for (const FontMessage& w : font.warnings) out += "; " + w.text;
  return out;
}

// `p` as a PNG of 1 (grey), 3 (RGB) or 4 channels (RGBA, its paper transparent black).
std::string png_of(const Picture& p, int channels = 3) {
  std::vector<uint8_t> px;
  for (size_t i = 0; i < p.rgb.size(); i += 3) {
    const uint8_t* c = &p.rgb[i];
    bool clear = channels == 4 && c[0] + c[1] + c[2] == 3 * 255;
    if (channels == 1) px.push_back(uint8_t((299 * c[0] + 587 * c[1] + 114 * c[2]) / 1000));
    for (int k = 0; k < channels && channels > 1; ++k) px.push_back(clear ? 0 : k < 3 ? c[k] : 255);
  }
  std::string png;
  // NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the encoder's callback
  auto append = [](void* out, void* data, int size) {
    static_cast<std::string*>(out)->append(static_cast<const char*>(data),
                                           static_cast<size_t>(size));
  };
  stbi_write_png_to_func(append, &png, p.width, p.height, channels, px.data(), p.width * channels);
  return png;
}

// The glyphs 0x41 and 0x1234, in rows labelled with 2 and 4 digits, and `more`.
Picture drawn(uint8_t marked, std::vector<PictureGlyph> more = {}) {
  more.insert(more.end(), {{0x41, {0x82, 0x40, 0, 0, 0, 0, 0x02, 0xFE}},
                           {0x1234, {0x80, 0, 0, 0, 0, 0, 0, 0x3C}}});
  std::sort(more.begin(), more.end(), [](auto& a, auto& b) { return a.code < b.code; });
  Picture p;
  EXPECT_TRUE(draw_glyph_picture(more, marked, p));
  return p;
}

// A rectangle of a picture, in pixels.
struct Box {
  int x, y, width, height;
};

// A picture of `to`'s size whose pixel (x, y) is (x / scale + to.x, y / scale + to.y) of `from`,
// paper where that is outside it.
Picture moved(const Picture& from, Box to, int scale = 1) {
  Picture p{to.width, to.height, {}};
  for (int i = 0; i < to.width * to.height * 3; ++i) {
    int x = i / 3 % to.width / scale + to.x;
    int y = i / 3 / to.width / scale + to.y;
    bool inside = x >= 0 && x < from.width && y >= 0 && y < from.height;
    p.rgb.push_back(inside ? from.rgb[(size_t(y) * from.width + x) * 3 + i % 3] : 255);
  }
  return p;
}

// Paints `box` of `p` in grey `level`.
void paint(Picture& p, Box box, uint8_t level) {
  for (int i = 0; i < box.width * box.height; ++i) {
    size_t at = size_t(box.y + i / box.width) * p.width + box.x + i % box.width;
    std::fill_n(&p.rgb[at * 3], 3, level);
  }
}

TEST(ReadGlyphPicture, ToolPicturesInEveryColourType) {
  struct Case {
    uint8_t marked;
    uint8_t last_column;  // 0x4F drawn again with it in row 0
    const char* want;
  } cases[] = {
      {0x80, 0, "8x8 marked 80: 41/0=82400000000002FE 4F/1=7E00000000000000"},
      {0x01, 1, "8x8 marked 1: 41/0=82400000000002FE 4F/1=7F00000000000000"},
      {0, 0, "7x8 marked 0: 41/0=82400000000002FE 4F/1=7E00000000000000"},
      {0, 1, "8x8 marked 0: 41/0=82400000000002FE 4F/1=7F00000000000000"},
  };
  for (const Case& c : cases) {
    for (int channels : {1, 3, 4}) {
      EXPECT_EQ(
          describe(read_glyph_picture(
              png_of(drawn(c.marked, {{0x4F, {uint8_t(0x7E | c.last_column)}}}), channels), {})),
          std::string("PNG picture ") + c.want + " 1234/2=800000000000003C")
          << channels;
    }
  }
}

TEST(ReadGlyphPicture, EditedCells) {
  Picture p = drawn(0x80, {{0x4F, {0x7E}}, {0x50, {0x18}}, {0x51, {}}});  // its grid at x = 40
  paint(p, {41 + 33, 19, 32, 32}, 255);                                   // 0x41 erased
  paint(p, {41 + 2 * 33, 19, 32, 32}, 0);  // 0x42 drawn in a slot without a glyph, not in red
  paint(p, {41 + 15 * 33, 23, 1, 1}, 0);   // a pixel of a clear dot of 0x4F
  EXPECT_EQ(describe(read_glyph_picture(png_of(p), {})),
            "PNG picture 8x8 marked 80: 41/0=0000000000000000 42/1=FFFFFFFFFFFFFFFF "
            "4F/2=7E00000000000000 50/3=1800000000000000 51/4=0000000000000000 "
            "1234/5=800000000000003C; 1 glyphs have dots painted only in "
            "part, each read as set where most of its pixels are dark: 0x4F");
}

TEST(ReadGlyphPicture, RefusesWhatDoesNotLineUp) {
  Picture p = drawn(0x80);  // 573x89, its grid at x = 40
  Picture no_label = p;
  paint(no_label, {30, 19 + 33 + 11, 10, 10}, 255);
  std::string whole = png_of(p);
  struct Case {
    std::string png;
    const char* error;
  } cases[] = {
      {png_of(moved(p, {1, 0, 572, 89})), "grid is at x = 39, where no band of row labels ends"},
      {png_of(moved(p, {0, 0, 572, 89})), "572 pixels wide, which puts its grid at x = 39, but"},
      {png_of(moved(p, {-1, 0, 573, 89})), "grid at x = 40, but the grid is at x = 41"},
      {png_of(moved(p, {0, -1, 573, 89})), "its grid's top line is at y = 19, not 18"},
      {png_of(moved(p, {0, 0, 1146, 178}, 2)), "its grid's top line is 1058 pixels long, not 529"},
      {png_of(moved(p, {0, 0, 573, 88})),
       "88 pixels high, where a picture of 2 rows of cells is 89"},
      {png_of(no_label), "the label of row 2 cannot be read left of x = 40"},
      {png_of(moved(p, {0, 0, 130, 128})), "; for a sheet of another layout, give it"},
      {whole.substr(0, whole.size() / 2), "the PNG cannot be decoded: "},
      // No more than a header, declaring 60000x60000 RGBA pixels.
      {std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\xEA\x60\0\0\xEA\x60\x08\x06\0\0\0", 29),
       "the picture is 60000x60000 pixels: no picture of glyphs"},
  };
  for (const Case& c : cases) {
    EXPECT_NE(describe(read_glyph_picture(c.png, {})).find(c.error), std::string::npos) << c.error;
  }
}

// A sheet laid out as `s` says, `rows` rows of cells and a pixel of paper right of them and under
// them, row r of cell i being i * 7 + r * 37.
Picture sheet(const SheetOptions& s, int rows) {
  int pitch_x = s.cell_width * s.scale + s.gap_x;
  int pitch_y = s.cell_height * s.scale + s.gap_y;
  Picture p{s.margin_x + s.columns * pitch_x - s.gap_x + 1,
            s.margin_y + rows * pitch_y - s.gap_y + 1,
            {}};
  for (int i = 0; i < p.width * p.height; ++i) {
    int x = i % p.width - s.margin_x;
    int y = i / p.width - s.margin_y;
    int column = x % pitch_x / s.scale;
    int row = y % pitch_y / s.scale;
    bool ink = x >= 0 && y >= 0 && x / pitch_x < s.columns && y / pitch_y < rows &&
               column < s.cell_width && row < s.cell_height &&
               (((y / pitch_y * s.columns + x / pitch_x) * 7 + row * 37) << column & 0x80) != 0;
    p.rgb.insert(p.rgb.end(), 3, ink ? 0 : 255);
  }
  return p;
}

// The layout of the options in `text`, "NAME VALUE..."; the first option's error in `error`.
SheetOptions parsed(const std::string& text, std::string& error) {
  SheetOptions s;
  std::istringstream in(text);
  std::string name;
  std::string value;
  while (error.empty() && in >> name >> value) {
    bool ok = parse_sheet_option(name, value, s, error);
    EXPECT_TRUE(ok == error.empty() && ok == s.given) << name;
  }
  return s;
}

TEST(ReadGlyphPicture, Sheets) {
  Picture common = moved(sheet({}, 16), {0, 0, 128, 128});
  Picture odd = sheet({5, 7, 1, 1, 2, 2, 2, 3, 0x20, true}, 2);
  const char* odd_layout = "--cell 5x7 --margin 1 --gap 2 --scale 2 --columns 3 --first 0x20";
  struct Case {
    const Picture& picture;
    std::string options;
    const char* want;  // in the font read, or the error
  } cases[] = {
      {common, "", "PNG sheet 8x8 marked 0: 0/0=00254A6F94B9DE03 1/1=072C51769BC0E50A"},
      {common, "", " FF/FF=F91E43688DB2D7FC"},  // the last of 256
      {common, "--margin 0 --gap 0x0", " FF/FF=F91E43688DB2D7FC"},
      {odd, odd_layout,
       "PNG sheet 5x7 marked 0: 20/0=0020486890B8D800 21/1=0028507098C0E000 22/2=08305878A0C0E800 "
       "23/3=10385880A8C8F000 24/4=18406088B0D0F800 25/5=20486890B0D80000"},
      {odd, odd_layout + std::string(" --columns 4"),
       "4 columns of 10-pixel cells with a margin of 1 and gaps of 2 take 47"},
      {odd, odd_layout + std::string(" --cell 9x7"),
       "the cells are 9x7: only glyphs of up to 8 rows"},
      {common, "--cell 8,8", "--cell takes WIDTHxHEIGHT in pixels, as 8x8, not '8,8'"},
      {common, "--margin 70000", "--margin takes a number of pixels, or XxY for across and down"},
      {common, "--columns 0", "--columns takes a whole number from 1 up, not '0'"},
      {common, "--first 100000000", "--first takes a hexadecimal code"},
      {common, "--size 8", "'--size' is no sheet option"},
  };
  for (const Case& c : cases) {
    std::string error;
    SheetOptions s = parsed(c.options, error);
    std::string got = error.empty() ? describe(read_glyph_picture(png_of(c.picture), s)) : error;
    EXPECT_NE(got.find(c.want), std::string::npos) << got.substr(0, 200);
  }
}

}  // namespace
