// The binary import: the whole font file, byte for byte, over the image's start.
#include <cstdio>
#include <vector>

#include "console.h"
#include "font_io.h"
#include "fontimport.h"
#include "rom_guard.h"

namespace {

// Writes the font's first `size` bytes over the image's start: inside the
// kernel when `how` says it can, else from `bytes`, read now if need be.
// Null when written, else the error line's text, errno set.
const char* write_binary_font(FILE* rom, FILE* font, KernelIo how, int64_t size,
                              std::vector<char>& bytes) {
  if (how == KernelIo::done) {
    how = copy_font_to_rom(font, rom, size);
    if (how == KernelIo::done) return nullptr;
    if (how == KernelIo::failed) return kRomWriteFailed;
    // A copy that the system refuses has written nothing: go through memory.
    if (!read_font_bytes(font, bytes)) return "Failed to read font file";
  }
  return write_rom_start(rom, bytes.data(), bytes.size()) ? nullptr : kRomWriteFailed;
}

}  // namespace

bool patch_binary_font(FILE* rom, const char* path) {
  bool written = false;
  // Returns false on a read error only; `written` tells how the rest went.
  auto copy = [&](FILE* font) {
    // The kernel copies a large font fastest, without holding it in memory.
    std::vector<char> bytes;
    int64_t font_size = 0;
    KernelIo how = read_through_font(font, font_size);
    if (how == KernelIo::failed) return false;
    if (how == KernelIo::unsupported) {
      if (!read_font_bytes(font, bytes)) return false;
      font_size = static_cast<int64_t>(bytes.size());
    }
    int64_t old_size = rom_size_for_patch(rom);
    if (old_size < 0) return true;
    warn_of_growth(old_size, font_size, path, 0);
    written =
        font_size == 0 || write_rom_guarded(rom, old_size, {{0, font_size}}, [&](FILE* image) {
          return write_binary_font(image, font, how, font_size, bytes);
        });
    return true;
  };
  return read_font_file(path, copy) && written;
}
