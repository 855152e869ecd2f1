#include "font_select.h"

#include <algorithm>
#include <cstdio>

#include "font_patch.h"

namespace {

// Reads a hexadecimal code with or without 0x from the front of `text`,
// moving past it; false when there are no digits, or more than 32 bits,
// which sets `too_big`.
bool take_code(std::string_view& text, uint32_t& code, bool& too_big) {
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
    if (value > UINT32_MAX) return too_big = true, false;
  }
  text.remove_prefix(digits);
  code = static_cast<uint32_t>(value);
  return digits > 0;
}

// Reads one item of a map, "FIRST[-LAST][=TARGET]" with '>' for '=' too,
// which must fill `item`; false with the reason in `error`.
bool parse_range(std::string_view item, CodeRange& range, std::string& error) {
  std::string quoted = "'" + std::string(item) + "'";
  bool too_big = false;
  bool good = take_code(item, range.first, too_big);
  range.last = range.target = range.first;
  if (good && !item.empty() && item[0] == '-') {
    item.remove_prefix(1);
    good = take_code(item, range.last, too_big);
  }
  if (good && !item.empty() && (item[0] == '=' || item[0] == '>')) {
    item.remove_prefix(1);
    good = take_code(item, range.target, too_big);
  }
  if (too_big) return error = quoted + " has a code past FFFFFFFF", false;
  if (!good || !item.empty()) return error = quoted + " is not a hexadecimal range", false;
  if (range.last < range.first) return error = quoted + " ends below its first code", false;
  return true;
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
  std::vector<CodeRange> ranges;
  for (std::string_view rest = text;;) {
    size_t comma = rest.find(',');
    CodeRange range{};
    if (rest.substr(0, comma).empty())
      return error = "'" + std::string(text) + "' has an empty range", false;
    if (!parse_range(rest.substr(0, comma), range, error)) return false;
    ranges.push_back(range);
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  map.insert(map.end(), ranges.begin(), ranges.end());
  return true;
}

std::string range_text(const CodeRange& range) {
  char text[24];
  int size = std::snprintf(text, sizeof text, "%02X", range.first);
  if (range.last != range.first) (void)std::snprintf(text + size, 12, "-%02X", range.last);
  return text;
}

const char* dropped_column(const PatchPlan& plan) {
  return plan.dropped == 0x80 ? "leftmost" : "rightmost";
}

std::vector<CodeRange> default_code_map() { return {{0x01, 0xFF, 0x01}}; }

PatchPlan plan_patch(const Font& font, const std::vector<CodeRange>& map, DropSide drop) {
  PatchPlan plan;
  plan.dropped = font.width < 8 ? 0 : drop == DropSide::right ? 0x01 : 0x80;
  std::vector<Landing> landings;
  uint32_t unwritable = 0;
  uint64_t first_unwritable = 0;
  for (size_t r = 0; r < map.size(); ++r) {
    bool selects = false;
    for (const FontGlyph& glyph : font.glyphs) {
      if (glyph.code < map[r].first || glyph.code > map[r].last) continue;
      selects = true;
      uint64_t target = uint64_t{map[r].target} + (glyph.code - map[r].first);
      if (target != 0 && target < kCodeLimit) {
        landings.push_back({target, r, &glyph});
      } else if (unwritable++ == 0) {
        first_unwritable = target;
      }
    }
    if (!selects)
      plan.warnings.push_back("-m " + range_text(map[r]) + " selects no glyph of the font");
  }
  std::stable_sort(landings.begin(), landings.end(), [](const Landing& a, const Landing& b) {
    return a.target < b.target;  // within a target, map order then file order
  });
  std::vector<bool> used(font.count);
  uint32_t repeats = 0;
  uint64_t first_repeat = 0;
  std::string losing;  // the first few codes that lose pixels
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
    if (lost && ++plan.lost_pixels <= 4) losing += (losing.empty() ? "" : ", ") + hex(glyph.code);
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
  if (plan.lost_pixels)
    plan.warnings.push_back(
        std::to_string(plan.lost_pixels) + " glyphs lose set pixels of their " +
        dropped_column(plan) + " column, which the image has no room for: " + losing +
        (plan.lost_pixels > 4 ? " and " + std::to_string(plan.lost_pixels - 4) + " more" : ""));
  return plan;
}

uint8_t image_row(uint8_t row, int width, DropSide drop) {
  if (width == 8 && drop == DropSide::left) return row & 0x7F;
  return row >> 1;
}
