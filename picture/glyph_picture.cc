#include "glyph_picture.h"

#include <cstdio>

// The encoder of Debian's libstb-dev, built into this file alone; its
// functions stay private to it.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace {

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

void draw_digit(Picture& p, Spot at, unsigned digit) {
  for (int bit = 0; bit < 15; ++bit) {
    if ((kDigits[digit] >> (14 - bit) & 1) != 0) {
      fill(p,
           {at.x + bit % 3 * kDigitScale, at.y + bit / 3 * kDigitScale, kDigitScale, kDigitScale},
           kLabel);
    }
  }
}

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

bool draw_glyph_picture(const std::vector<PictureGlyph>& glyphs, uint8_t marked, Picture& picture) {
  std::vector<uint32_t> rows;  // the code of the first cell of each row
  for (const PictureGlyph& g : glyphs) {
    if (rows.empty() || rows.back() != (g.code & ~0xFu)) rows.push_back(g.code & ~0xFu);
    if (rows.size() > kMostPictureRows) return false;
  }
  int left = picture_left(rows.empty() ? 0 : rows.back());
  picture.width = picture_width(left);
  picture.height = picture_height(static_cast<int>(rows.size()), 0, false);
  picture.rgb.assign(static_cast<size_t>(picture.width) * picture.height * 3, kPaper.red);
  int digit_inset = (kCellPixels - 3 * kDigitScale) / 2;
  for (int c = 0; c < 16; ++c) {
    draw_digit(picture, {left + 1 + c * kCellPitch + digit_inset, kColumnLabelTop}, static_cast<unsigned>(c));
  }
  fill(picture,
       {left, kPictureTop, kGridWidth, static_cast<int>(rows.size()) * kCellPitch + 1},
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
