// Reading a patch file: in one part, or in parts side by side when it is a
// large regular file, the glyphs past those that memory holds moved to
// spill files as they come. Like files.h, these print nothing.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <vector>

#include "glyph_spill.h"
#include "patch_parser.h"

// Runs task(0) to task(count - 1) on as many threads as there are cores,
// this one included, each taking the next task as it is free; returns once
// all are done.
void run_on_cores(size_t count, const std::function<void(size_t)>& task);

// Parses `font` block by block, up to its end or a Ctrl-Z, into one part,
// or into parts side by side when it is a large regular file, each with its
// store of the glyphs past `held`; false on a read error, errno set.
bool parse_font_file(FILE* font, size_t held, std::vector<PatchPart>& parts,
                     std::vector<GlyphStore>& stores);
