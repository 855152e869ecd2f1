#include "rom_image.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

#include <cerrno>
#include <cstring>
#include <iterator>
#include <memory>

#include "console.h"
#include "files.h"
#include "interrupts.h"

FILE* open_target_rom(int& which, int (&reasons)[2]) {
  static_assert(std::size(kRomNames) == 2, "a reason for each image");
  for (which = 0; which < static_cast<int>(std::size(kRomNames)); ++which) {
    // "r+b": read and write, never created, never truncated.
    FILE* rom = std::fopen(kRomNames[which], "r+b");
    // Every write of the image is a whole run already. Unbuffered, a failed
    // write keeps nothing back that could go out later, over the undo.
    if (rom && std::setvbuf(rom, nullptr, _IONBF, 0) == 0) return rom;
    reasons[which] = errno;
    if (rom) (void)std::fclose(rom);
  }
  return nullptr;
}

bool read_rom_bytes(FILE* rom, int64_t offset, std::vector<uint8_t>& bytes) {
  if (!seek_file(rom, offset, SEEK_SET)) return false;
  if (std::fread(bytes.data(), 1, bytes.size(), rom) == bytes.size()) return true;
  if (std::ferror(rom) == 0) errno = EIO;  // the image is shorter than it was
  return false;
}

namespace {

// The eight rows of `g` in `bytes`, the given bit cleared, when it gives
// every row: such a glyph goes out whole. False when a row is not given.
bool whole_glyph(const PatchGlyph& g, char (&bytes)[8]) {
  constexpr uint64_t given = 0x0101010101010101u * kRowGiven;
  uint64_t rows;
  std::memcpy(&rows, g.rows, sizeof rows);
  if ((rows & given) != given) return false;
  rows &= ~given;
  std::memcpy(bytes, &rows, sizeof bytes);
  return true;
}

constexpr size_t kRunLimit = 1 << 20;

// Bytes bound for one place of the image, gathered so that a run of rows
// costs one positioned write instead of one call a row.
struct PendingRun {
  FILE* rom;
  int64_t start = 0;
  size_t used = 0;
  // Room for a whole glyph past the limit; left uninitialised, as it is
  // written before it is read.
  std::unique_ptr<char[]> bytes{new char[kRunLimit + sizeof(PatchGlyph::rows)]};
};

// Writes the gathered bytes; false on failure, errno set.
bool flush_run(PendingRun& run) {
  if (run.used == 0) return true;
  if (held_interrupt()) {
    errno = EINTR;
    return false;
  }
  bool ok = seek_file(run.rom, run.start, SEEK_SET) &&
            std::fwrite(run.bytes.get(), 1, run.used, run.rom) == run.used;
  run.start += static_cast<int64_t>(run.used);
  run.used = 0;
  return ok;
}

// Adds `size` bytes bound for `offset`; false when an earlier run failed.
bool add_to_run(PendingRun& run, int64_t offset, const char* data, size_t size) {
  if (offset != run.start + static_cast<int64_t>(run.used) || run.used >= kRunLimit) {
    if (!flush_run(run)) return false;
    run.start = offset;
  }
  std::memcpy(run.bytes.get() + run.used, data, size);
  run.used += size;
  return true;
}

// The reason of the write that just failed. On a full disk Wine stores no
// byte of a write yet reports no system error, which its C runtime turns
// into EINVAL; a write of a regular file falls short for no other reason.
int failure_reason() {
#ifdef _WIN32
  DWORD code = GetLastError();
  if (code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL) return ENOSPC;
  if (code == ERROR_SUCCESS && errno == EINVAL) return ENOSPC;
#endif
  return errno;
}

}  // namespace

std::vector<RomExtent> glyph_extents(const std::vector<PatchGlyph>& glyphs) {
  std::vector<RomExtent> extents;
  auto add = [&](int64_t offset, int64_t size) {
    if (!extents.empty() && extents.back().offset + extents.back().size == offset) {
      extents.back().size += size;
    } else {
      extents.push_back({offset, size});
    }
  };
  char bytes[8];
  for (const PatchGlyph& g : glyphs) {
    int64_t base = int64_t{g.code} * 8;
    if (whole_glyph(g, bytes)) {
      add(base, 8);
      continue;
    }
    for (int r = 0; r < 8; ++r) {
      if (g.rows[r] & kRowGiven) add(base + r, 1);
    }
  }
  return extents;
}

bool write_glyph_rows(FILE* rom, const std::vector<PatchGlyph>& glyphs) {
  PendingRun run{rom};
  for (const PatchGlyph& g : glyphs) {
    int64_t base = int64_t{g.code} * 8;
    char bytes[8];
    if (whole_glyph(g, bytes)) {
      if (!add_to_run(run, base, bytes, 8)) return false;
      continue;
    }
    for (int r = 0; r < 8; ++r) {
      char byte = static_cast<char>(g.rows[r] & kRowBits);
      if ((g.rows[r] & kRowGiven) && !add_to_run(run, base + r, &byte, 1)) return false;
    }
  }
  return flush_run(run);
}

bool write_rom_start(FILE* rom, const char* data, size_t size) {
  return seek_file(rom, 0, SEEK_SET) && std::fwrite(data, 1, size, rom) == size;
}

bool report_rom_write_failure() {
  int reason = failure_reason();
  // A write stopped by an interrupt has nothing to tell: the run ends as
  // interrupted, with the image whole.
  if (reason == EINTR && held_interrupt()) return false;
  errno = reason;
  report_error(kRomWriteFailed);
  return false;
}
