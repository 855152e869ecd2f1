// Glyphs sorted by code, stably: those of one code keep their order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "patch_parser.h"

// Sorts the `n` glyphs at `glyphs` by the low `bits` bits of their codes,
// through `spare`, room for as many.
void sort_by_low_bits(PatchGlyph* glyphs, size_t n, int bits, PatchGlyph* spare);

// The glyphs of `parts` in one array in code order, those of one code in
// the order of the parts, with `lines[k]` added to the lines of part k; each
// step runs for the parts side by side on `run`. The parts are left empty.
std::vector<PatchGlyph> sort_parts(std::vector<std::vector<PatchGlyph>>& parts,
                                   const std::vector<uint64_t>& lines, const PatchTasks& run);
