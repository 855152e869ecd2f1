// The binary import: the whole font file, byte for byte, over the image's start.
#include <cstdio>
#include <vector>

#include "console.h"
#include "font_io.h"
#include "fontimport.h"

bool patch_binary_font(FILE* rom, const char* path) {
  bool written = false;
  // Returns false on a read error only; `written` tells how the rest went.
  auto copy = [&](FILE* font) {
    // The kernel copies a large font fastest, without holding it in memory.
    std::vector<char> bytes;
    int64_t size = 0;
    KernelIo how = read_through_font(font, size);
    if (how == KernelIo::failed) return false;
    if (how == KernelIo::unsupported) {
      if (!read_font_bytes(font, bytes)) return false;
      size = static_cast<int64_t>(bytes.size());
    }
    if (!warn_of_growth(rom, size, path, 0)) return true;
    if (how == KernelIo::done) {
      how = copy_font_to_rom(font, rom, size);
      if (how == KernelIo::failed) {
        report_error("Failed to write ROM image");
        return true;
      }
      // A copy that the system refuses has written nothing: go through memory.
      if (how == KernelIo::unsupported && !read_font_bytes(font, bytes)) return false;
    }
    written = how == KernelIo::done || write_rom_start(rom, bytes.data(), bytes.size());
    return true;
  };
  return read_font_file(path, copy) && written;
}
