// What the fuzz targets share: failing loudly, comparing parses, and the rows
// of a patch as writing them one by one in file order leaves them.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "font_patch.h"

// Standard error as it was at start-up, should a target point stderr elsewhere.
inline FILE* const fuzz_report = stderr;

inline void check(bool ok, const char* what) {
  if (ok) return;
  (void)std::fprintf(fuzz_report, "fuzz: %s\n", what);
  std::abort();
}

inline bool operator==(const PatchGlyph& a, const PatchGlyph& b) {
  return a.code == b.code && a.line == b.line && std::memcmp(a.rows, b.rows, sizeof a.rows) == 0;
}

inline bool operator==(const PatchWarning& a, const PatchWarning& b) {
  return a.line == b.line && a.text == b.text;
}

inline bool same_parse(const PatchParser& a, const PatchParser& b) {
  return a.line == b.line && a.ended == b.ended && a.glyphs == b.glyphs && a.warnings == b.warnings;
}

// The glyphs in code order, each with the line of its first header and, row
// by row, the last rows given for its code. Checks on the way that every
// glyph can be patched and gives rows 0 to n-1, n >= 1, and no others.
inline std::vector<PatchGlyph> fold_in_file_order(std::vector<PatchGlyph> glyphs) {
  std::vector<PatchGlyph> folded;
  std::stable_sort(glyphs.begin(), glyphs.end(),
                   [](const PatchGlyph& a, const PatchGlyph& b) { return a.code < b.code; });
  for (const PatchGlyph& g : glyphs) {
    check(g.code >= 1 && g.code < kCodeLimit, "a glyph has a code that cannot be patched");
    int given = 0;
    while (given < 8 && (g.rows[given] & kRowGiven)) ++given;
    check(given > 0 && std::count(g.rows, g.rows + 8, 0) == 8 - given,
          "a glyph's rows do not run from row 0 without a gap");
    if (folded.empty() || folded.back().code != g.code) folded.push_back(g);
    std::copy(g.rows, g.rows + given, folded.back().rows);
  }
  return folded;
}
