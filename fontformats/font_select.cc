#include "font_select.h"

#include <algorithm>

#include "codes.h"

namespace {

// Reads one item of a map, "FIRST[-LAST][=TARGET]" with '>' for '=' too,
// which must fill `item`; false with the reason in `error`.
bool parse_range(std::string_view item, CodeRange& range, std::string& error) {
  std::string quoted = "'" + std::string(item) + "'";
  uint64_t first = 0;
  bool good = read_hex_code(item, first);
  uint64_t last = first;
  uint64_t target = first;
  if (good && !item.empty() && item[0] == '-') {
    item.remove_prefix(1);
    good = read_hex_code(item, last);
  }
  if (good && !item.empty() && (item[0] == '=' || item[0] == '>')) {
    item.remove_prefix(1);
    good = read_hex_code(item, target);
  }
  if (std::max({first, last, target}) > UINT32_MAX)
    return error = quoted + " has a code past FFFFFFFF", false;
  if (!good || !item.empty()) return error = quoted + " is not a hexadecimal range", false;
  if (last < first) return error = quoted + " ends below its first code", false;
  range = {static_cast<uint32_t>(first), static_cast<uint32_t>(last),
           static_cast<uint32_t>(target)};
  return true;
}

// A glyph on its way to a target code.
struct Landing {
  uint64_t target;
  size_t range;  // index of the range in the map
  const FontGlyph* glyph;
};

// Glyphs left out for one reason: how many, and the target of the first.
struct LeftOut {
  uint32_t count = 0;
  uint64_t first = 0;
};

void leave_out(LeftOut& left, uint64_t target) {
  if (left.count++ == 0) left.first = target;
}

// Adds the warning "N glyphs land on WHERE, the first at T: left out".
void warn_left_out(std::vector<std::string>& warnings, const LeftOut& left, const char* where) {
  if (left.count == 0) return;
  warnings.push_back(std::to_string(left.count) + " glyphs land on " + where + ", the first at " +
                     hex_code(left.first) + ": left out");
}

// Where the ranges of `map` take the glyphs of `font`, in map order, each
// range in file order; warns of a range that selects nothing and of targets
// that a patch cannot write.
std::vector<Landing> land_glyphs(const Font& font, const std::vector<CodeRange>& map,
                                 std::vector<std::string>& warnings) {
  std::vector<Landing> landings;
  LeftOut unwritable;
  for (size_t r = 0; r < map.size(); ++r) {
    bool selects = false;
    for (const FontGlyph& glyph : font.glyphs) {
      if (glyph.code < map[r].first || glyph.code > map[r].last) continue;
      selects = true;
      uint64_t target = uint64_t{map[r].target} + (glyph.code - map[r].first);
      if (target != 0 && target < kCodeLimit) {
        landings.push_back({target, r, &glyph});
      } else {
        leave_out(unwritable, target);
      }
    }
    if (!selects) warnings.push_back("-m " + range_text(map[r]) + " selects no glyph of the font");
  }
  warn_left_out(warnings, unwritable,
                "codes that a patch cannot write (0, or 0x10000000 and above)");
  return landings;
}

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
  std::string text = hex_text(range.first, 2);
  return range.last == range.first ? text : text + "-" + hex_text(range.last, 2);
}

bool parse_drop_side(std::string_view text, DropSide& drop, std::string& error) {
  if (text != "left" && text != "right") {
    error = "--drop: '" + std::string(text) + "' is neither left nor right";
    return false;
  }
  drop = text == "left" ? DropSide::left : DropSide::right;
  return true;
}

const char* dropped_column(const PatchPlan& plan) {
  return plan.dropped == 0x80 ? "leftmost" : "rightmost";
}

std::vector<CodeRange> default_code_map() { return {{0x01, 0xFF, 0x01}}; }

namespace {

// Cuts the column of an 8-column cell that `drop` names, counting the set
// pixels of both edge columns first.
void choose_dropped_column(PatchPlan& plan, int width, DropSide drop) {
  if (width < 8) return;
  for (const FontGlyph& glyph : plan.glyphs) {
    for (uint8_t row : glyph.rows) {
      plan.left_pixels += row >> 7;
      plan.right_pixels += row & 1;
    }
  }
  // When neither edge holds a set pixel nothing is lost either way: the
  // leftmost goes, so that a font written from an image with its first
  // column blank comes back where it was.
  bool fewest_left =
      plan.left_pixels < plan.right_pixels || plan.left_pixels + plan.right_pixels == 0;
  bool left = drop == DropSide::fewest ? fewest_left : drop == DropSide::left;
  plan.dropped = left ? 0x80 : 0x01;
}

// Warns of the glyphs whose dropped column holds set pixels, naming the first few.
void warn_of_lost_pixels(PatchPlan& plan) {
  std::string losing;
  for (const FontGlyph& glyph : plan.glyphs) {
    bool lost =
        std::any_of(glyph.rows, glyph.rows + 8, [&](uint8_t row) { return row & plan.dropped; });
    if (lost && ++plan.lost_pixels <= 4)
      losing += (losing.empty() ? "" : ", ") + hex_code(glyph.code);
  }
  if (plan.lost_pixels == 0) return;
  plan.warnings.push_back(
      std::to_string(plan.lost_pixels) + " glyphs lose set pixels of their " +
      dropped_column(plan) + " column, which the image has no room for: " + losing +
      (plan.lost_pixels > 4 ? " and " + std::to_string(plan.lost_pixels - 4) + " more" : ""));
}

}  // namespace

PatchPlan plan_patch(const Font& font, const std::vector<CodeRange>& map, DropSide drop) {
  PatchPlan plan;
  std::vector<Landing> landings = land_glyphs(font, map, plan.warnings);
  std::stable_sort(landings.begin(), landings.end(), [](const Landing& a, const Landing& b) {
    return a.target < b.target;  // within a target, map order then file order
  });
  std::vector<bool> used(font.count);
  LeftOut repeats;
  for (const Landing& landing : landings) {
    if (!plan.glyphs.empty() && plan.glyphs.back().code == landing.target) {
      leave_out(repeats, landing.target);
      continue;
    }
    FontGlyph glyph = *landing.glyph;
    glyph.code = static_cast<uint32_t>(landing.target);
    plan.glyphs.push_back(glyph);
    if (glyph.index < used.size()) used[glyph.index] = true;
  }
  plan.left_out = font.count - static_cast<uint32_t>(std::count(used.begin(), used.end(), true));
  warn_left_out(plan.warnings, repeats, "a code that another glyph takes first");
  choose_dropped_column(plan, font.width, drop);
  warn_of_lost_pixels(plan);
  return plan;
}

uint8_t image_row(uint8_t row, uint8_t dropped) { return dropped == 0x80 ? row & 0x7F : row >> 1; }
