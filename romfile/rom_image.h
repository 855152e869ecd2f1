// The ROM image: which file it is, and its bytes read and written. These
// print nothing but report_rom_write_failure(): like the system calls under
// them they fail with errno set, and the tool says what it was doing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "patch_parser.h"

// The text of the error line when the image cannot be written.
inline constexpr char kRomWriteFailed[] = "Failed to write ROM image";

// The images that zenpo patches, in the order that it tries them.
inline constexpr const char* kRomNames[] = {"SUBSYSCG.ROM", "SUBSYS_C.ROM"};

// Opens the first of kRomNames in the current folder that opens for update,
// unbuffered; its index in `which`. Null when none does, with the errno of
// each in `reasons`.
FILE* open_target_rom(int& which, int (&reasons)[2]);

// One stretch of the image that a patch writes.
struct RomExtent {
  int64_t offset;
  int64_t size;
};

// Adds `e`, which lies past those of `extents`, to them, joined to the last
// when they touch.
void add_extent(std::vector<RomExtent>& extents, RomExtent e);

// Fills `bytes` with the image's bytes from `offset` on; false with errno set
// when it cannot, an image too short for them included.
bool read_rom_bytes(FILE* rom, int64_t offset, std::vector<uint8_t>& bytes);

// The end of the image that the rows of `g` reach.
int64_t glyph_end(const PatchGlyph& g);

// How drop_unchanged_glyphs() goes about it.
struct DropOptions {
  // Unchanged glyphs fewer than this in a row, between changed ones that
  // they join, are written all the same: one write instead of two.
  size_t short_stretch = 512;
  // Runs the two halves of an array of at least `apart` glyphs side by
  // side, each reading the image where it needs without moving its position.
  PatchTasks run = run_in_turn;
  size_t apart = size_t{1} << 16;
};

// Drops from `glyphs`, sorted by code and apart, the glyphs whose rows the
// image of `size` bytes holds already, but for short stretches of them
// between changed ones that they join. Sets `extents` to those that the
// glyphs left fill, ascending and apart. False with errno set when the image
// cannot be read.
bool drop_unchanged_glyphs(FILE* rom, int64_t size, std::vector<PatchGlyph>& glyphs,
                           std::vector<RomExtent>& extents, const DropOptions& options = {});

// Writes the given rows of `glyphs`, sorted by code, into the image, a run of
// adjacent rows at a time; false on failure, errno set, EINTR when an
// interrupt is held.
bool write_glyph_rows(FILE* rom, const std::vector<PatchGlyph>& glyphs);

// Writes `size` bytes over the start of the image; false on failure, errno set.
bool write_rom_start(FILE* rom, const char* data, size_t size);

// Prints "Failed to write ROM image: REASON" for the write that just failed,
// unless it stopped for an interrupt that is held; returns false.
bool report_rom_write_failure();
