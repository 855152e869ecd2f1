#include "font_select.h"

#include <algorithm>
#include <cstdio>

#include "font_patch.h"

namespace {

// Reads a hexadecimal code with or without 0x from the front of `text`,
// moving past it; false when there are no digits or more than 32 bits.
bool take_code(std::string_view& text, uint32_t& code) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text.remove_prefix(2);
  uint64_t value = 0;
  size_t digits = 0;
  for (; digits < text.size(); ++digits) {
    char c = text[digits];
    int digit = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
    if (digit < 0) break;
    value = value << 4 | static_cast<uint64_t>(digit);
    if (value > UINT32_MAX) return false;
  }
  text.remove_prefix(digits);
  code = static_cast<uint32_t>(value);
  return digits > 0;
}

// Reads one item of a map, "FIRST[-LAST][>TARGET]", which must fill `item`.
bool parse_range(std::string_view item, CodeRange& range) {
  if (!take_code(item, range.first)) return false;
  range.last = range.target = range.first;
  if (!item.empty() && item[0] == '-') {
    item.remove_prefix(1);
    if (!take_code(item, range.last) || range.last < range.first) return false;
  }
  if (!item.empty() && item[0] == '>') {
    item.remove_prefix(1);
    if (!take_code(item, range.target)) return false;
  }
  return item.empty();
}

std::string hex(uint64_t code) {
  char text[24];
  (void)std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(code));
  return text;
}

// A glyph on its way to a target code.
struct Landing {
  uint64_t target;
  size_t range;  // index of the range in the map
  const FontGlyph* glyph;
};

}  // namespace

bool parse_code_map(std::string_view text, std::vector<CodeRange>& map, std::string& error) {
  map.clear();
  for (;;) {
    size_t comma = text.find(',');
    std::string_view item = text.substr(0, comma);
    CodeRange range{};
    if (!parse_range(item, range)) {
      error = "bad map item '" + std::string(item) +
              "': expected FIRST-LAST>TARGET or CODE>TARGET in hexadecimal, >TARGET optional";
      return false;
    }
    map.push_back(range);
    if (comma == std::string_view::npos) return true;
    text.remove_prefix(comma + 1);
  }
}

std::vector<CodeRange> default_code_map() { return {{0x01, 0xFF, 0x01}}; }

PatchPlan plan_patch(const Font& font, const std::vector<CodeRange>& map, DropSide drop) {
  PatchPlan plan;
  plan.dropped = font.width < 8 ? 0 : drop == DropSide::right ? 0x01 : 0x80;
  std::vector<Landing> landings;
  uint32_t unwritable = 0;
  uint64_t first_unwritable = 0;
  for (size_t r = 0; r < map.size(); ++r) {
    for (const FontGlyph& glyph : font.glyphs) {
      if (glyph.code < map[r].first || glyph.code > map[r].last) continue;
      uint64_t target = uint64_t{map[r].target} + (glyph.code - map[r].first);
      if (target != 0 && target < kCodeLimit) {
        landings.push_back({target, r, &glyph});
      } else if (unwritable++ == 0) {
        first_unwritable = target;
      }
    }
  }
  std::stable_sort(landings.begin(), landings.end(), [](const Landing& a, const Landing& b) {
    return a.target < b.target;  // within a target, map order then file order
  });
  std::vector<bool> used(font.count);
  uint32_t repeats = 0;
  uint64_t first_repeat = 0;
  for (const Landing& landing : landings) {
    if (!plan.glyphs.empty() && plan.glyphs.back().code == landing.target) {
      if (repeats++ == 0) first_repeat = landing.target;
      continue;
    }
    FontGlyph glyph = *landing.glyph;
    glyph.code = static_cast<uint32_t>(landing.target);
    plan.glyphs.push_back(glyph);
    if (glyph.index < used.size()) used[glyph.index] = true;
    bool lost =
        std::any_of(glyph.rows, glyph.rows + 8, [&](uint8_t row) { return row & plan.dropped; });
    plan.lost_pixels += lost ? 1 : 0;
  }
  plan.left_out = font.count - static_cast<uint32_t>(std::count(used.begin(), used.end(), true));
  if (unwritable)
    plan.warnings.push_back(std::to_string(unwritable) +
                            " glyphs land on codes that a patch cannot write (0, or 0x10000000 and "
                            "above), the first at " +
                            hex(first_unwritable) + ": left out");
  if (repeats)
    plan.warnings.push_back(std::to_string(repeats) +
                            " glyphs land on a code that another glyph "
                            "takes first, the first at " +
                            hex(first_repeat) + ": left out");
  return plan;
}

uint8_t image_row(uint8_t row, int width, DropSide drop) {
  if (width == 8 && drop == DropSide::left) return row & 0x7F;
  return row >> 1;
}
