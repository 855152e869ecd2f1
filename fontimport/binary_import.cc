// The binary import: the whole font file, byte for byte, over the image's start.
#include <cstdio>
#include <vector>

#include "font_io.h"
#include "fontimport.h"

bool patch_binary_font(FILE* rom, const char* path) {
  std::vector<char> bytes;
  if (!read_font_file(path, [&](FILE* font) { return read_font_bytes(font, bytes); })) {
    return false;
  }
  auto end = static_cast<int64_t>(bytes.size());
  if (!warn_of_growth(rom, end, path, 0)) return false;
  return write_rom_start(rom, bytes.data(), bytes.size());
}
