// The binary import: the whole font file, byte for byte, over the image's start.
#include <cstdio>
#include <vector>

#include "console.h"
#include "files.h"
#include "fontimport.h"
#include "import_steps.h"
#include "rom_guard.h"
#include "rom_image.h"

namespace {

// Writes the font's first `size` bytes over the image's start: inside the
// kernel when `how` says it can, else from `bytes`, read now if need be.
// False after the error line.
bool write_binary_font(FILE* rom, FILE* font, KernelIo how, int64_t size,
                       std::vector<char>& bytes) {
  if (how == KernelIo::done) {
    how = copy_in_kernel(font, rom, size);
    if (how == KernelIo::done) return true;
    if (how == KernelIo::failed) return report_rom_write_failure();
    // A copy that the system refuses has written nothing: go through memory.
    if (!read_stream(font, bytes)) {
      report_error("Failed to read font file");
      return false;
    }
  }
  return write_rom_start(rom, bytes.data(), bytes.size()) || report_rom_write_failure();
}

}  // namespace

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the image's name, then the font's
bool patch_binary_font(FILE* rom, const char* rom_name, const char* path) {
  bool written = false;
  // Returns false on a read error only; `written` tells how the rest went.
  auto copy = [&](FILE* font) {
    // The kernel copies a large font fastest, without holding it in memory.
    std::vector<char> bytes;
    int64_t font_size = 0;
    KernelIo how = read_through(font, font_size);
    if (how == KernelIo::failed) return false;
    if (how == KernelIo::unsupported) {
      if (!read_stream(font, bytes)) return false;
      font_size = static_cast<int64_t>(bytes.size());
    }
    int64_t old_size = rom_size_for_patch(rom);
    if (old_size < 0) return true;
    warn_of_growth(old_size, font_size, path, 0);
    written = font_size == 0 ||
              write_rom_guarded(rom, rom_name, old_size, {{0, font_size}}, [&](FILE* image) {
                return write_binary_font(image, font, how, font_size, bytes);
              });
    return true;
  };
  return read_font_file(path, copy) && written;
}
