// The glyphs of a parse put together: parts joined in order, and each
// repeated code folded into one glyph.
#include <algorithm>
#include <utility>

#include "codes.h"
#include "glyph_sort.h"
#include "patch_parser.h"

namespace {

void warn(PatchText& patch, uint64_t line, std::string text) {
  patch.warnings.push_back(PatchWarning{line, std::move(text)});
}

// Folds each repeated code of `glyphs`, sorted by code, into its first glyph;
// warns of each repeat.
void fold_repeats(PatchText& p) {
  std::vector<PatchGlyph>& g = p.glyphs;
  auto same_code = [](const PatchGlyph& a, const PatchGlyph& b) { return a.code == b.code; };
  // Most patches give each code once: nothing moves up to the first repeat.
  auto repeat = std::adjacent_find(g.begin(), g.end(), same_code);
  if (repeat == g.end()) return;
  size_t first = static_cast<size_t>(repeat - g.begin());
  for (size_t i = first + 1; i < g.size(); ++i) {
    if (g[i].code != g[first].code) {
      g[++first] = g[i];
      continue;
    }
    warn(p, g[i].line,
         "code " + format_code(g[i].code) + " was already given at line " +
             std::to_string(g[first].line) + "; the later rows win");
    for (int r = 0; r < 8; ++r) {
      if (g[i].rows[r] & kRowGiven) g[first].rows[r] = g[i].rows[r];
    }
  }
  g.resize(first + 1);
}

}  // namespace

void run_in_turn(size_t count, const std::function<void(size_t)>& task) {
  for (size_t k = 0; k < count; ++k) task(k);
}

void merge_patch_glyphs(PatchText& p) {
  // Codes that only ascend, the usual patch's, need neither sort nor fold.
  auto not_above = [](const PatchGlyph& a, const PatchGlyph& b) { return a.code >= b.code; };
  if (std::adjacent_find(p.glyphs.begin(), p.glyphs.end(), not_above) != p.glyphs.end()) {
    sort_patch_glyphs(p.glyphs);
    fold_repeats(p);
  }
  // The warnings of repeats come last: put them among the others by line.
  auto by_line = [](const PatchWarning& a, const PatchWarning& b) { return a.line < b.line; };
  if (!std::is_sorted(p.warnings.begin(), p.warnings.end(), by_line))
    std::stable_sort(p.warnings.begin(), p.warnings.end(), by_line);
}

PatchText join_patch_parts(std::vector<PatchPart> parts, const PatchTasks& run) {
  PatchText whole;
  std::vector<std::vector<PatchGlyph>> glyphs;
  std::vector<uint64_t> lines;  // lines of the parts before each
  uint64_t before = 0;
  bool told = false;
  for (size_t k = 0; k < parts.size() && (k == 0 || !parts[k - 1].ended); ++k) {
    PatchPart& part = parts[k];
    glyphs.push_back(std::move(part.text.glyphs));
    lines.push_back(before);
    for (size_t i = 0; i < part.text.warnings.size(); ++i) {
      // A drawn row is warned of once a file: not again once a part before told.
      if (told && static_cast<int64_t>(i) == part.drawing) continue;
      part.text.warnings[i].line += before;
      whole.warnings.push_back(std::move(part.text.warnings[i]));
    }
    told |= part.drawing >= 0;
    before += part.lines;
  }
  whole.glyphs = sort_parts(glyphs, lines, run);
  return whole;
}
