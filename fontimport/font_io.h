// The files of an import: the font file read, the ROM image written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include "font_patch.h"

// The text of the error line when the image cannot be written.
inline constexpr char kRomWriteFailed[] = "Failed to write ROM image";

// One stretch of the image that a patch writes.
struct RomExtent {
  int64_t offset;
  int64_t size;
};

// Positions `file` at `offset` from `whence`; false on failure, errno set.
bool seek_file(FILE* file, int64_t offset, int whence);

// Opens the file with the UTF-8 name `path` for reading bytes as they are,
// with no translation; null with errno set on failure.
FILE* open_for_reading(const char* path);

// Opens the font file at `path` for reading, with no translation of any byte,
// hands it to `read` and closes it. False after "Failed to open font file",
// or after "Failed to read font file" when `read` fails with errno set.
bool read_font_file(const char* path, const std::function<bool(FILE*)>& read);

// The images that zenpo patches, in the order that it tries them.
inline constexpr const char* kRomNames[] = {"SUBSYSCG.ROM", "SUBSYS_C.ROM"};

// Opens the first of kRomNames in the current folder that opens for update,
// unbuffered; its index in `which`. Null after "Failed to open
// 'SUBSYS_C.ROM(V1) or SUBSYS_CG.ROM(V2)' file" with the reason of the last,
// and a line with its own reason for a first one that is there but would not open.
FILE* open_target_rom(int& which);

// Reads the rest of `font` into `bytes`; false on a read error, errno set.
bool read_font_bytes(FILE* font, std::vector<char>& bytes);

// Makes room in `glyphs` for what a font file of the size of `font` usually
// holds, so that they need not move as they come; does nothing for a file of
// unknown size.
void reserve_glyphs(FILE* font, std::vector<PatchGlyph>& glyphs);

// How a transfer inside the kernel ended: `unsupported` when it moved no
// byte, whether the system refused it or it failed at once, so that the
// caller goes through memory instead; errno is set after `failed`.
enum class KernelIo { done, unsupported, failed };

// Reads all of the regular file `font` through to the null device, which
// costs no copy but shows any read error, and learns its `size`.
KernelIo read_through_font(FILE* font, int64_t& size);

// Copies the first `size` bytes of `font` over the start of the image inside
// the kernel, with no pass through this process's memory; EINTR when an
// interrupt is held.
KernelIo copy_font_to_rom(FILE* font, FILE* rom, int64_t size);

// Fills `bytes` with the image's bytes from `offset` on; false with errno set
// when it cannot, an image too short for them included.
bool read_rom_bytes(FILE* rom, int64_t offset, std::vector<uint8_t>& bytes);

// Size of the image in bytes; -1 on failure, errno set.
int64_t rom_size(FILE* rom);

// Size of the image, for its growth warning; -1 after "Failed to write ROM
// image" when it cannot be learnt.
int64_t rom_size_for_patch(FILE* rom);

// Tells, as a warning of `path` at `line`, when writing up to `new_end` makes
// the image of `old_size` bytes grow.
void warn_of_growth(int64_t old_size, int64_t new_end, const char* path, uint64_t line);

// The extents, ascending and apart, that the given rows of `glyphs` (sorted
// by code) fill.
std::vector<RomExtent> glyph_extents(const std::vector<PatchGlyph>& glyphs);

// Writes the given rows of `glyphs`, sorted by code, into the image, a run of
// adjacent rows at a time; false on failure, errno set, EINTR when an
// interrupt is held.
bool write_glyph_rows(FILE* rom, const std::vector<PatchGlyph>& glyphs);

// Writes `size` bytes over the start of the image; false on failure, errno set.
bool write_rom_start(FILE* rom, const char* data, size_t size);
