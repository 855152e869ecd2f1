#include "picture_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "codes.h"
#include "glyph_picture.h"
#include "test_fonts.h"

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace {

// `p` as a PNG of 1 (grey), 3 (RGB) or 4 channels (RGBA, its paper transparent black).
std::string png_of(const Picture& p, int channels = 3) {
  std::vector<uint8_t> px;
  for (size_t i = 0; i < p.rgb.size(); i += 3) {
    const uint8_t* c = &p.rgb[i];
    bool clear = channels == 4 && c[0] + c[1] + c[2] == 3 * 255;
    if (channels == 1) px.push_back(uint8_t((299 * c[0] + 587 * c[1] + 114 * c[2]) / 1000));
    for (int k = 0; k < channels && channels > 1; ++k) px.push_back(clear ? 0 : k < 3 ? c[k] : 255);
  }
  int size = 0;
  uint8_t* png =
      stbi_write_png_to_mem(px.data(), p.width * channels, p.width, p.height, channels, &size);
  std::string bytes(reinterpret_cast<char*>(png), static_cast<size_t>(size));
  STBIW_FREE(png);
  return bytes;
}

// The glyphs 0x41 and 0x1234, in rows labelled with 2 and 4 digits, and `more` between them.
Picture drawn(uint8_t marked, std::vector<PictureGlyph> more = {}) {
  more.insert(more.begin(), {0x41, {0x82, 0x40, 0, 0, 0, 0, 0x02, 0xFE}});
  more.push_back({0x1234, {0x80, 0, 0, 0, 0, 0, 0, 0x3C}});
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
  // The column drawn red, row 0 of 0x4F (its last column set or not), and the cell read.
  const std::tuple<uint8_t, uint8_t, const char*> cases[] = {{0x80, 0x7E, "8x8 3 marked 80"},
                                                             {0x01, 0x7F, "8x8 3 marked 1"},
                                                             {0, 0x7E, "7x8 3"},
                                                             {0, 0x7F, "8x8 3"}};
  for (const auto& [marked, row, cell] : cases) {
    for (int channels : {1, 3, 4}) {
      Font font = read_glyph_picture(png_of(drawn(marked, {{0x4F, {row}}}), channels), {});
      EXPECT_EQ(describe(font, true), "PNG picture " + std::string(cell) +
                                          " 41/0=82400000000002FE 4F/1=" + hex_text(row, 2) +
                                          "00000000000000 1234/2=800000000000003C")
          << channels;
    }
  }
}

TEST(ReadGlyphPicture, EditedCells) {
  Picture p = drawn(0x80, {{0x4F, {0x7E}}, {0x50, {0x18}}, {0x51, {}}});  // its grid at x = 40
  paint(p, {41 + 33, 19, 32, 32}, 255);                                   // 0x41 erased
  paint(p, {41 + 2 * 33, 19, 32, 32}, 0);  // 0x42 drawn in a slot without a glyph, not in red
  paint(p, {41 + 15 * 33, 23, 1, 1}, 0);   // a pixel of a clear dot of 0x4F
  paint(p, {40 + 33, 18, 1, 25}, 255);     // a quarter of a grid line of 100 pixels: still there
  EXPECT_EQ(describe(read_glyph_picture(png_of(p), {}), true),
            "PNG picture 8x8 6 marked 80 41/0=0000000000000000 42/1=FFFFFFFFFFFFFFFF "
            "4F/2=7E00000000000000 50/3=1800000000000000 51/4=0000000000000000 "
            "1234/5=800000000000003C; 0: 1 glyphs have dots painted only in "
            "part, each read as set where most of its pixels are dark: 0x4F");
}

TEST(ReadGlyphPicture, RefusesWhatDoesNotLineUp) {
  Picture p = drawn(0x80);  // 573x89, its grid at x = 40
  Picture no_label = p;
  paint(no_label, {30, 19 + 33 + 11, 10, 10}, 255);
  std::string whole = png_of(p);
  Picture grey_bottom{300, 2, std::vector<uint8_t>(size_t{300} * 3, 255)};
  grey_bottom.rgb.resize(size_t{300} * 2 * 3, 160);
  const std::string header("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\xEA\x60\0\0\xEA\x60\x08\x06\0\0\0",
                           29);
  const std::string tiny =
      header.substr(0, 16) +
      std::string("\0\0\0\1\0\0\0\1\x08\0\0\0\0\x3A\x7E\x9B\x55", 17);  // 1x1 grey
  const std::string empty_data("\0\0\0\0IDAT\x35\xAF\x06\x1E", 12);
  const std::pair<std::string, const char*> cases[] = {
      {png_of(moved(p, {1, 0, 572, 89})), "grid is at x = 39, where no band of row labels ends"},
      {png_of(moved(p, {0, 0, 572, 89})), "572 pixels wide, which puts its grid at x = 39, but"},
      {png_of(moved(p, {-1, 0, 573, 89})), "grid at x = 40, but the grid is at x = 41"},
      {png_of(moved(p, {0, -1, 573, 89})), "its grid's top line is at y = 19, not 18"},
      {png_of(moved(p, {0, 0, 1146, 178}, 2)), "its grid's top line is 1058 pixels long, not 529"},
      {png_of(moved(p, {0, 0, 573, 88})),
       "88 pixels high, where a picture of 2 rows of cells is 89"},
      {png_of(no_label), "the label of row 2 cannot be read left of x = 40"},
      // A grid line that reaches the picture's last pixel: its scan stops there.
      {png_of(grey_bottom), "its grid's top line is 300 pixels long, not 529"},
      {png_of(moved(p, {0, 0, 130, 128})), "; for a sheet of another layout, give it"},
      {whole.substr(0, whole.size() / 2), "the PNG cannot be decoded: "},
      // No more than a header, declaring 60000x60000 RGBA pixels; a header cut short.
      {header, "the picture is 60000x60000 pixels: no picture of glyphs"},
      {header.substr(0, 18), "the PNG cannot be read: its header is damaged"},
      // Chunks of image data that hold no byte, the last at the very end, are left out.
      {tiny + empty_data + empty_data, "the PNG cannot be decoded: "},
  };
  for (const auto& [png, error] : cases) {
    std::vector<char> exact(png.begin(), png.end());  // at the very end of its block
    std::string_view at_end(exact.data(), exact.size());
    EXPECT_NE(describe(read_glyph_picture(at_end, {})).find(error), std::string::npos) << error;
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
  p.rgb.assign(size_t(p.width) * p.height * 3, 255);
  for (int i = 0; i < rows * s.columns * 64; ++i) {  // cell i / 64, its row i / 8 % 8, column i % 8
    int row = i / 8 % 8;
    int column = i % 8;
    int x = s.margin_x + i / 64 % s.columns * pitch_x + column * s.scale;
    int y = s.margin_y + i / 64 / s.columns * pitch_y + row * s.scale;
    if (row < s.cell_height && column < s.cell_width && ((i / 64 * 7 + row * 37) << column & 0x80))
      paint(p, {x, y, s.scale, s.scale}, 0);
  }
  return p;
}

TEST(ReadGlyphPicture, Sheets) {
  Picture odd = sheet({5, 7, 1, 0, 2, 2, 2, 3, 0x20, true}, 2);
  const std::string layout = "--cell 5x7 --margin 1x0 --gap 2 --scale 2 --columns 3 --first 0x20";
  // The options, "NAME VALUE...", and the font read or the first option's error.
  const std::pair<std::string, const char*> cases[] = {
      {layout,
       "PNG sheet 5x7 6 20/0=0020486890B8D800 21/1=0028507098C0E000 22/2=08305878A0C0E800 "
       "23/3=10385880A8C8F000 24/4=18406088B0D0F800 25/5=20486890B0D80000<"},
      {layout + " --columns 4",
       "4 columns of 10-pixel cells with a margin of 1 and gaps of 2 take 47"},
      {layout + " --cell 9x7", "the cells are 9x7: only glyphs of up to 8 rows"},
      {"--cell 8,8", "--cell takes WIDTHxHEIGHT in pixels, as 8x8, not '8,8'"},
      {"--cell 8x8x", "--cell takes WIDTHxHEIGHT in pixels, as 8x8, not '8x8x'"},
      {"--margin 70000", "--margin takes a number of pixels, or XxY for across and down"},
      {"--columns 0", "--columns takes a whole number from 1 up, not '0'"},
      {"--scale 1 --columns 1", "1 columns of 8-pixel cells with a margin of 0 and gaps of 0"},
      {"--first 100000000", "--first takes a hexadecimal code"},
      {"--size 8", "'--size' is no sheet option"},
  };
  for (const auto& [options, want] : cases) {
    SheetOptions s;
    std::string error;
    std::istringstream in(options);
    std::string name;
    std::string value;
    while (error.empty() && in >> name >> value) {
      bool ok = parse_sheet_option(name, value, s, error);
      EXPECT_TRUE(ok == error.empty() && ok == s.given) << name;
    }
    std::string got =
        error.empty() ? describe(read_glyph_picture(png_of(odd), s), true) + "<" : error;
    EXPECT_NE(got.find(want), std::string::npos) << got.substr(0, 200);
  }
}

// Every pixel of `p` in `box` turned light for dark and dark for light.
void invert(Picture& p, Box box) {
  for (int i = 0; i < box.width * box.height * 3; ++i) {
    uint8_t& c =
        p.rgb[(size_t(box.y + i / 3 / box.width) * p.width + box.x + i / 3 % box.width) * 3 +
              i % 3];
    c = uint8_t(255 - c);
  }
}

TEST(ReadGlyphPicture, SheetsDrawnLightOnDarkByTheCommonerColourOfTheirCells) {
  // Wide light margins, more pixels than the cells: they do not count.
  SheetOptions s{5, 7, 40, 30, 2, 2, 2, 3, 0x20, true};
  Picture light = sheet(s, 2);
  Picture dark = light;
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 3; ++c) invert(dark, {40 + c * 12, 30 + r * 16, 10, 14});
  }
  paint(dark, {40 + 12 + 3, 30 + 5, 1, 1}, 0);  // a pixel of a light dot of 0x21
  std::string want = describe(read_glyph_picture(png_of(light), s), true);
  EXPECT_EQ(describe(read_glyph_picture(png_of(dark), s), true),
            want.insert(want.find(" 20/"), " light ink") +
                "; 0: 1 glyphs have dots painted only in part, each read as set where most of its "
                "pixels are light: 0x21");
  // The common sheet, its last pixel read at the end of the picture's pixels; as many
  // dark pixels as light is light paper.
  Picture common{128, 128, std::vector<uint8_t>(size_t{128} * 128 * 3, 255)};
  paint(common, {0, 64, 128, 64}, 0);
  EXPECT_EQ(describe(read_glyph_picture(png_of(common, 1), {})),
            "PNG sheet 8x8 256 0/0=0000000000000000 (254) FF/FF=FFFFFFFFFFFFFFFF");
  paint(common, {127, 63, 1, 1}, 0);
  EXPECT_EQ(describe(read_glyph_picture(png_of(common, 1), {})),
            "PNG sheet 8x8 256 light ink 0/0=FFFFFFFFFFFFFFFF (254) FF/FF=0000000000000000");
}

}  // namespace
