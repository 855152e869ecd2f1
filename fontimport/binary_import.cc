// The binary import: the whole font file, byte for byte, over the image's start.
#include <cerrno>
#include <cstdio>
#include <vector>

#include "console.h"
#include "font_io.h"
#include "fontimport.h"

bool patch_binary_font(FILE* rom, const char* path) {
  FILE* font = open_font_file(path);
  if (!font) {
    report_error("Failed to open font file");
    return false;
  }
  std::vector<char> bytes;
  bool read = read_font_bytes(font, bytes);
  int read_errno = errno;
  std::fclose(font);  // read only: a failed close loses nothing
  if (!read) {
    errno = read_errno;
    report_error("Failed to read font file");
    return false;
  }
  auto end = static_cast<int64_t>(bytes.size());
  if (!warn_of_growth(rom, end, path, 0)) return false;
  return write_rom_start(rom, bytes.data(), bytes.size());
}
