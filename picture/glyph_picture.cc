#include "glyph_picture.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "font_select.h"

// The encoder of Debian's libstb-dev, built into this file alone; its
// functions stay private to it.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace {

// Letters G to Z of 3x5 pixels, as kDigits draws 0 to F, for the legend.
constexpr uint16_t kLetters[20] = {0x396B, 0x5BED, 0x7497, 0x126A, 0x5BAD, 0x4927, 0x5FED,
                                   0x6B6D, 0x2B6A, 0x6BA4, 0x2B7B, 0x6BAD, 0x388E, 0x7492,
                                   0x5B6F, 0x5B6A, 0x5BFD, 0x5AAD, 0x5A92, 0x72A7};

// The 3x5 shape of `c` in the legend: digits, capitals and ":,.=-()";
// 0, a space, for any other character.
uint16_t legend_shape(char c) {
  constexpr char kMarks[] = ":,.=-()";
  constexpr uint16_t kMarkShapes[] = {0x0410, 0x0014, 0x0002, 0x0E38, 0x01C0, 0x2922, 0x224A};
  if (c >= '0' && c <= '9') return kDigits[c - '0'];
  if (c >= 'A' && c <= 'F') return kDigits[c - 'A' + 10];
  if (c >= 'G' && c <= 'Z') return kLetters[c - 'G'];
  const char* mark = c != '\0' ? std::strchr(kMarks, c) : nullptr;
  return mark ? kMarkShapes[mark - kMarks] : 0;
}

// A rectangle of the picture, in pixels.
struct Box {
  int x, y, width, height;
};

// A point of the picture, in pixels.
struct Spot {
  int x, y;
};

void fill(Picture& p, Box box, Colour c) {
  for (int row = box.y; row < box.y + box.height; ++row) {
    uint8_t* pixel = &p.rgb[(static_cast<size_t>(row) * p.width + box.x) * 3];
    for (int col = 0; col < box.width; ++col, pixel += 3) {
      pixel[0] = c.red;
      pixel[1] = c.green;
      pixel[2] = c.blue;
    }
  }
}

// Draws the 3x5 `shape` at twice its size.
void draw_shape(Picture& p, Spot at, uint16_t shape, Colour colour) {
  for (int bit = 0; bit < 15; ++bit) {
    if ((shape >> (14 - bit) & 1) != 0) {
      fill(p,
           {at.x + bit % 3 * kDigitScale, at.y + bit / 3 * kDigitScale, kDigitScale, kDigitScale},
           colour);
    }
  }
}

void draw_digit(Picture& p, Spot at, unsigned digit) { draw_shape(p, at, kDigits[digit], kLabel); }

// Draws `code` with its right edge at `right`.
void draw_code(Picture& p, int right, int y, uint32_t code, int digits) {
  for (int i = 0; i < digits; ++i)
    draw_digit(p, {right - (digits - i) * kDigitAdvance, y}, code >> (4 * (digits - 1 - i)) & 0xF);
}

void draw_cell(Picture& p, int x, int y, const uint8_t* rows, uint8_t marked) {
  for (int r = 0; r < 8; ++r) {
    for (int c = 0; c < 8; ++c) {
      auto bit = static_cast<uint8_t>(0x80 >> c);
      bool set = (rows[r] & bit) != 0;
      Colour colour = marked & bit ? (set ? kMarkedSet : kMarkedClear) : set ? kInk : kPaper;
      fill(p, {x + c * kDotPixels, y + r * kDotPixels, kDotPixels, kDotPixels}, colour);
    }
  }
}

}  // namespace

int label_digits(uint32_t code) {
  int digits = 2;
  while (digits < 8 && code >> (4 * digits)) ++digits;
  return digits;
}

int picture_left(uint32_t last_row_code) {
  return kMargin + kLabelGap + label_digits(last_row_code) * kDigitAdvance;
}

namespace {

// Draws the grid from x `left` on: `rows` rows of cells, each row's code at
// its left, and the `glyphs` in their cells.
void draw_grid(Picture& picture, int left, const std::vector<uint32_t>& rows,
               const std::vector<PictureGlyph>& glyphs, uint8_t marked) {
  int digit_inset = (kCellPixels - 3 * kDigitScale) / 2;
  for (int c = 0; c < 16; ++c) {
    draw_digit(picture, {left + 1 + c * kCellPitch + digit_inset, kColumnLabelTop},
               static_cast<unsigned>(c));
  }
  fill(picture, {left, kPictureTop, kGridWidth, static_cast<int>(rows.size()) * kCellPitch + 1},
       kGrid);
  auto top = [](size_t r) { return kPictureTop + 1 + static_cast<int>(r) * kCellPitch; };
  auto x = [&](uint32_t column) { return left + 1 + static_cast<int>(column) * kCellPitch; };
  for (size_t r = 0; r < rows.size(); ++r) {
    draw_code(picture, left - kLabelGap, top(r) + (kCellPixels - 5 * kDigitScale) / 2, rows[r],
              label_digits(rows[r]));
    for (uint32_t c = 0; c < 16; ++c)
      fill(picture, {x(c), top(r), kCellPixels, kCellPixels}, kNoGlyph);
  }
  size_t r = 0;
  for (const PictureGlyph& g : glyphs) {
    while (rows[r] != (g.code & ~0xFu)) ++r;  // the glyphs ascend, as the rows do
    draw_cell(picture, x(g.code & 0xF), top(r), g.rows, marked);
  }
}

// Draws each byte of `sample` as the machine shows its glyph, seven columns
// and no gap, in lines from `at` on; a byte without a glyph as a grey box.
void draw_sample(Picture& p, Spot at, const std::vector<PictureGlyph>& glyphs, uint8_t marked,
                 std::string_view sample) {
  for (size_t i = 0; i < sample.size(); ++i) {
    auto code = static_cast<uint8_t>(sample[i]);
    int x = at.x + static_cast<int>(i % kSampleLineGlyphs) * kSampleGlyphPixels;
    int y = at.y + static_cast<int>(i / kSampleLineGlyphs) * kSampleLinePitch + 8;
    auto glyph = std::lower_bound(glyphs.begin(), glyphs.end(), code,
                                  [](const PictureGlyph& g, uint32_t c) { return g.code < c; });
    if (glyph == glyphs.end() || glyph->code != code) {
      fill(p, {x, y, kSampleGlyphPixels, kCellPixels}, kNoGlyph);
      continue;
    }
    for (int r = 0; r < 8; ++r) {
      uint8_t row = image_row(glyph->rows[r], marked);  // the seven columns the image keeps
      for (int c = 0; c < 7; ++c) {
        if ((row >> (6 - c) & 1) != 0)
          fill(p, {x + c * kDotPixels, y + r * kDotPixels, kDotPixels, kDotPixels}, kInk);
      }
    }
  }
}

// Draws `legend` in capitals from `at`, the words before its first ':' in red.
void draw_legend(Picture& p, Spot at, std::string_view legend) {
  size_t colon = legend.find(':');
  for (size_t i = 0; i < legend.size(); ++i) {
    draw_shape(p, {at.x + static_cast<int>(i) * kDigitAdvance, at.y}, legend_shape(legend[i]),
               i < colon ? kMarkedSet : kLabel);
  }
}

}  // namespace

bool draw_glyph_picture(const std::vector<PictureGlyph>& glyphs, uint8_t marked, Picture& picture,
                        const PictureText& text) {
  std::vector<uint32_t> rows;  // the code of the first cell of each row
  for (const PictureGlyph& g : glyphs) {
    if (rows.empty() || rows.back() != (g.code & ~0xFu)) rows.push_back(g.code & ~0xFu);
    if (rows.size() > kMostPictureRows) return false;
  }
  int left = picture_left(rows.empty() ? 0 : rows.back());
  int sample_lines = sample_line_count(text.sample.size());
  picture.width = picture_width(left);
  picture.height =
      picture_height(static_cast<int>(rows.size()), sample_lines, !text.legend.empty());
  picture.rgb.assign(static_cast<size_t>(picture.width) * picture.height * 3, kPaper.red);
  draw_grid(picture, left, rows, glyphs, marked);
  int below = grid_bottom(static_cast<int>(rows.size()));
  draw_sample(picture, {left, below}, glyphs, marked, text.sample);
  draw_legend(picture, {left, below + sample_lines * kSampleLinePitch + 6}, text.legend);
  return true;
}

std::string encode_png(const Picture& picture) {
  std::string png;
  // NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the encoder's callback
  auto append = [](void* context, void* data, int size) {
    static_cast<std::string*>(context)->append(static_cast<const char*>(data),
                                               static_cast<size_t>(size));
  };
  if (!stbi_write_png_to_func(append, &png, picture.width, picture.height, 3, picture.rgb.data(),
                              picture.width * 3))
    png.clear();
  return png;
}

std::vector<PictureGlyph> picture_glyphs(const std::vector<FontGlyph>& glyphs) {
  std::vector<PictureGlyph> drawn(glyphs.size());
  for (size_t i = 0; i < glyphs.size(); ++i) {
    drawn[i].code = glyphs[i].code;
    std::memcpy(drawn[i].rows, glyphs[i].rows, sizeof drawn[i].rows);
  }
  return drawn;
}

std::string sample_text_error(const char* sample, bool picture) {
  if (!sample) return "";
  if (!picture) return "--text draws a sample line in a picture: give -o FILE.png or --png FILE";
  size_t bytes = std::strlen(sample);
  if (bytes <= kMostSampleBytes) return "";
  return "--text is " + std::to_string(bytes) + " bytes long, more than the " +
         std::to_string(kMostSampleBytes) + " that a picture shows";
}
