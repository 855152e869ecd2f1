#include "picture_reader.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "codes.h"
#include "parse_common.h"
#include "picture_pixels.h"

namespace {

// The most that stb_image may take in one block: 8 bytes a pixel (16-bit
// RGBA) and a filter byte a row, for the largest picture read. A PNG whose
// data unpacks to more, which the decoder would grow its buffer for, fails
// instead of taking the memory.
constexpr size_t kMostDecodeBytes = 9 * kMostPicturePixels;

void* bounded_malloc(size_t size) { return size <= kMostDecodeBytes ? std::malloc(size) : nullptr; }

void* bounded_realloc(void* block, size_t size) {
  return size <= kMostDecodeBytes ? std::realloc(block, size) : nullptr;
}

}  // namespace

// The decoder of Debian's libstb-dev, built into this file alone; its
// functions stay private to it.
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_MALLOC(size) bounded_malloc(size)
#define STBI_REALLOC(block, size) bounded_realloc(block, size)
#define STBI_FREE(block) std::free(block)
#include <stb_image.h>

namespace {

using Decoded = std::unique_ptr<uint8_t, void (*)(void*)>;

uint32_t big_endian(std::string_view bytes) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value = value << 8 | static_cast<uint8_t>(bytes[i]);
  return value;
}

// The chunk of `png` that starts at `at`: where the next one starts.
uint64_t next_chunk(std::string_view png, uint64_t at) {
  return std::min<uint64_t>(at + 12 + big_endian(png.substr(at)), png.size());
}

// `png` without its chunks of image data that hold no byte, in `copy` when
// it has any: the decoder copies such a chunk from a null buffer when it
// comes first, which is undefined even for no bytes.
std::string_view without_empty_data(std::string_view png, std::string& copy) {
  const std::string_view empty("\0\0\0\0IDAT", 8);
  uint64_t at = 8;
  while (at + 12 <= png.size() && png.substr(at, 8) != empty) at = next_chunk(png, at);
  if (at + 12 > png.size()) return png;
  copy.assign(png.substr(0, at));
  for (uint64_t next = at; at + 12 <= png.size(); at = next) {
    next = next_chunk(png, at);
    if (png.substr(at, 8) != empty) copy.append(png.substr(at, next - at));
  }
  return copy.append(png.substr(at));
}

// `what`, then the decoder's reason.
std::string failure(const char* what) {
  std::string reason = stbi_failure_reason() ? stbi_failure_reason() : "";
  // The reason may quote a chunk name from the file, any four bytes.
  for (char& c : reason) c = c < ' ' || c > '~' ? '?' : c;
  return std::string(what) + ": " + (reason.empty() ? "the data is damaged" : reason);
}

// Decodes `png` into `p`, alpha over white; the pixels it points to are
// held by the return value, empty after the reason is set in `font`.
Decoded decode(std::string_view png, Pixels& p, Font& font) {
  Decoded pixels(nullptr, stbi_image_free);
  if (png.substr(0, 8) != std::string_view("\x89PNG\r\n\x1a\n", 8)) {
    fail_font(font, 0, "not a PNG picture: the signature is wrong");
    return pixels;
  }
  if (png.size() < 24 || png.substr(12, 4) != "IHDR") {
    fail_font(font, 0, "the PNG cannot be read: its header is damaged");
    return pixels;
  }
  // The size is checked before the decoder is given a chance to allocate for it.
  uint32_t width = big_endian(png.substr(16));
  uint32_t height = big_endian(png.substr(20));
  if (width > kMostPictureSide || height > kMostPictureSide ||
      uint64_t{width} * height > kMostPicturePixels) {
    fail_font(font, 0,
              "the picture is " + std::to_string(width) + "x" + std::to_string(height) +
                  " pixels: no picture of glyphs or sheet is that large (" +
                  std::to_string(kMostPicturePixels) + " pixels and " +
                  std::to_string(kMostPictureSide) + " across or down at most)");
    return pixels;
  }
  const auto* data = reinterpret_cast<const stbi_uc*>(png.data());
  int size = static_cast<int>(std::min<size_t>(png.size(), INT_MAX));
  int channels = 0;
  if (!stbi_info_from_memory(data, size, &p.width, &p.height, &channels)) {
    fail_font(font, 0, "the PNG cannot be read: its header is damaged");
    return pixels;
  }
  std::string copy;
  std::string_view kept = without_empty_data(png, copy);
  pixels.reset(stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(kept.data()),
                                     static_cast<int>(std::min<size_t>(kept.size(), INT_MAX)),
                                     &p.width, &p.height, &channels, 4));
  if (!pixels) {
    fail_font(font, 0, failure("the PNG cannot be decoded"));
    return pixels;
  }
  // Three bytes a pixel from four, in place: each write lands at or before its read.
  uint8_t* rgba = pixels.get();
  size_t count = static_cast<size_t>(p.width) * static_cast<size_t>(p.height);
  for (size_t i = 0; i < count; ++i) {
    unsigned alpha = rgba[i * 4 + 3];
    for (size_t k = 0; k < 3; ++k)
      rgba[i * 3 + k] = static_cast<uint8_t>((rgba[i * 4 + k] * alpha + 255 * (255 - alpha)) / 255);
  }
  // The block shrinks to the pixels it holds: a quarter less memory, and a
  // read past the last pixel is one past the block, where a sanitizer sees it.
  if (void* smaller = std::realloc(rgba, count * 3)) {
    (void)pixels.release();  // moved into `smaller`, or the same block
    pixels.reset(static_cast<uint8_t*>(smaller));
  }
  p.rgb = pixels.get();
  return pixels;
}

// How many cells of `cell` pixels, `gap` apart after `margin`, fill `size`
// pixels: past the last only a margin or a gap may be left; -1 when more is.
int64_t cells_in(int64_t size, int64_t margin, int64_t gap, int64_t cell) {
  int64_t n = std::max<int64_t>(0, (size - margin + gap) / (cell + gap));
  int64_t rest = size - margin - n * (cell + gap) + gap;
  return n > 0 && rest <= std::max(margin, gap) ? n : -1;
}

std::string layout(int cell, int margin, int gap) {
  return std::to_string(cell) + "-pixel cells with a margin of " + std::to_string(margin) +
         " and gaps of " + std::to_string(gap);
}

// Checks that the sheet `s` fills the picture `p`, counting its rows; the
// reason when it does not.
std::string fit_sheet(const Pixels& p, const SheetOptions& s, int64_t& rows) {
  const char* hint = " (check --cell, --scale, --margin, --gap and --columns)";
  int cell_x = s.cell_width * s.scale;
  int cell_y = s.cell_height * s.scale;
  if (cells_in(p.width, s.margin_x, s.gap_x, cell_x) != s.columns) {
    int64_t needed = s.margin_x + static_cast<int64_t>(s.columns) * (cell_x + s.gap_x) - s.gap_x;
    return "the sheet does not fit the picture: it is " + std::to_string(p.width) +
           " pixels wide, but " + std::to_string(s.columns) + " columns of " +
           layout(cell_x, s.margin_x, s.gap_x) + " take " + std::to_string(needed) + hint;
  }
  rows = cells_in(p.height, s.margin_y, s.gap_y, cell_y);
  if (rows < 0) {
    return "the sheet does not fit the picture: it is " + std::to_string(p.height) +
           " pixels high, no whole number of rows of " + layout(cell_y, s.margin_y, s.gap_y) + hint;
  }
  if (static_cast<uint64_t>(rows * s.columns) > kMostSheetGlyphs) {
    return "the sheet holds " + std::to_string(rows * s.columns) + " cells, more than " +
           std::to_string(kMostSheetGlyphs);
  }
  if (s.first + static_cast<uint64_t>(rows * s.columns) - 1 > UINT32_MAX)
    return "the codes of its cells run past FFFFFFFF";
  return "";
}

// Where a pixel of the picture is.
struct Spot {
  int x, y;
};

// The top left pixel of the sheet's cell `cell`, counted in reading order.
Spot cell_origin(const SheetOptions& s, int64_t cell) {
  auto row = static_cast<int>(cell / s.columns);
  auto column = static_cast<int>(cell % s.columns);
  return {s.margin_x + column * (s.cell_width * s.scale + s.gap_x),
          s.margin_y + row * (s.cell_height * s.scale + s.gap_y)};
}

// The sheet's paper is dark: most pixels of its `cells` cells are. Margins
// and gaps are left out, as a sheet may draw them in any colour.
bool dark_paper(const Pixels& p, const SheetOptions& s, int64_t cells) {
  uint64_t dark_pixels = 0;
  uint64_t all = 0;
  for (int64_t cell = 0; cell < cells; ++cell) {
    Spot at = cell_origin(s, cell);
    for (int dy = 0; dy < s.cell_height * s.scale; ++dy) {
      for (int dx = 0; dx < s.cell_width * s.scale; ++dx, ++all)
        dark_pixels += dark(pixel(p, at.x + dx, at.y + dy)) ? 1 : 0;
    }
  }
  return dark_pixels * 2 > all;
}

// Reads the glyph whose cell starts at (x, y), its ink dark or light as
// `dark_ink` says; true when a dot of it is painted in part.
bool read_sheet_cell(const Pixels& p, const SheetOptions& s, int x, int y, bool dark_ink,
                     FontGlyph& glyph) {
  bool mixed = false;
  int all = s.scale * s.scale;
  for (int row = 0; row < s.cell_height; ++row) {
    for (int column = 0; column < s.cell_width; ++column) {
      int ink = 0;
      for (int k = 0; k < all; ++k) {
        if (dark(pixel(p, x + column * s.scale + k % s.scale, y + row * s.scale + k / s.scale)) ==
            dark_ink)
          ++ink;
      }
      if (ink * 2 > all) glyph.rows[row] |= static_cast<uint8_t>(0x80 >> column);
      mixed = mixed || (ink != 0 && ink != all);
    }
  }
  return mixed;
}

Font read_sheet(const Pixels& p, const SheetOptions& s) {
  Font font;
  font.format = "PNG sheet";
  if (s.cell_width > 8 || s.cell_height > 8) {
    return fail_font(font, 0,
                     "the cells are " + std::to_string(s.cell_width) + "x" +
                         std::to_string(s.cell_height) +
                         ": only glyphs of up to 8 rows and 8 columns convert");
  }
  int64_t rows = 0;
  std::string why = fit_sheet(p, s, rows);
  if (!why.empty()) return fail_font(font, 0, why);
  font.width = s.cell_width;
  font.height = s.cell_height;
  font.light_ink = dark_paper(p, s, rows * s.columns);
  MixedDots mixed;
  for (int64_t cell = 0; cell < rows * s.columns; ++cell) {
    auto index = static_cast<uint32_t>(cell);
    FontGlyph glyph{s.first + index, index, {}};
    Spot at = cell_origin(s, cell);
    note_mixed(mixed, glyph.code, read_sheet_cell(p, s, at.x, at.y, !font.light_ink, glyph));
    font.glyphs.push_back(glyph);
  }
  font.count = static_cast<uint32_t>(font.glyphs.size());
  warn_mixed(mixed, font);
  return font;
}

// Reads a decimal number off the front of `text`; false when there is
// none or it is kMostPictureSide or more.
bool read_number(std::string_view& text, int& value) {
  size_t digits = 0;
  value = 0;
  while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9' && digits < 6)
    value = value * 10 + (text[digits++] - '0');
  text.remove_prefix(digits);
  return digits > 0 && value < kMostPictureSide;
}

// Reads "AxB", or "N" for both when `one` allows it, each at least `least`.
bool read_pair(std::string_view text, bool one, int least, int& a, int& b) {
  if (!read_number(text, a)) return false;
  b = a;
  if (text.empty()) return one && a >= least;
  if (text[0] != 'x' && text[0] != 'X') return false;
  text.remove_prefix(1);
  return read_number(text, b) && text.empty() && a >= least && b >= least;
}

}  // namespace

void note_mixed(MixedDots& mixed, uint32_t code, bool mixed_here) {
  if (mixed_here && mixed.count++ < 4) mixed.codes.push_back(code);
}

void warn_mixed(const MixedDots& mixed, Font& font) {
  if (mixed.count == 0) return;
  std::string names;
  for (uint32_t code : mixed.codes) names += (names.empty() ? "" : ", ") + hex_code(code);
  if (mixed.count > 4) names += " and " + std::to_string(mixed.count - 4) + " more";
  font.warnings.push_back({0, std::to_string(mixed.count) +
                                  " glyphs have dots painted only in part, each read as set "
                                  "where most of its pixels are " +
                                  (font.light_ink ? "light: " : "dark: ") + names});
}

bool parse_sheet_option(std::string_view name, std::string_view value, SheetOptions& sheet,
                        std::string& error) {
  SheetOptions s = sheet;
  bool ok = true;
  std::string want;
  if (name == "--cell") {
    ok = read_pair(value, false, 1, s.cell_width, s.cell_height);
    want = "WIDTHxHEIGHT in pixels, as 8x8";
  } else if (name == "--margin" || name == "--gap") {
    bool margin = name == "--margin";
    ok = read_pair(value, true, 0, margin ? s.margin_x : s.gap_x, margin ? s.margin_y : s.gap_y);
    want = "a number of pixels, or XxY for across and down, as 2 or 2x1";
  } else if (name == "--scale" || name == "--columns") {
    std::string_view rest = value;
    int& number = name == "--scale" ? s.scale : s.columns;
    ok = read_number(rest, number) && rest.empty() && number >= 1;
    want = "a whole number from 1 up";
  } else if (name == "--first") {
    std::string_view rest = value;
    uint64_t code = 0;
    ok = read_hex_code(rest, code) && rest.empty() && code <= UINT32_MAX;
    s.first = static_cast<uint32_t>(code);
    want = "a hexadecimal code, as 20 or 0x20";
  } else {
    error = "'" + std::string(name) + "' is no sheet option";
    return false;
  }
  if (!ok) {
    error = std::string(name) + " takes " + want + ", not '" + std::string(value) + "'";
    return false;
  }
  sheet = s;
  sheet.given = true;
  return true;
}

Font read_glyph_picture(std::string_view png, const SheetOptions& sheet) {
  Font font;
  font.format = "PNG picture";
  Pixels p;
  Decoded pixels = decode(png, p, font);
  if (!pixels || read_tool_picture(p, font)) return font;
  if (sheet.given) return read_sheet(p, sheet);
  if (p.width == 128 && p.height == 128) return read_sheet(p, SheetOptions{});
  std::string misfit = tool_picture_misfit(p);
  if (misfit.empty()) {
    misfit = "the picture, " + std::to_string(p.width) + "x" + std::to_string(p.height) +
             " pixels, is neither one that zenpo-dump or zenpo-convert drew nor a sheet of "
             "16x16 glyphs of 8x8 pixels, 128x128";
  }
  return fail_font(font, 0,
                   misfit +
                       "; for a sheet of another layout, give it with --cell, --scale, "
                       "--margin, --gap, --columns and --first");
}
