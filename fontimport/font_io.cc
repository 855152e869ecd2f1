#include "font_io.h"

#include <sys/stat.h>

#ifdef __linux__
#include <fcntl.h>
#include <sys/sendfile.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <string>

#include "console.h"
#include "interrupts.h"
#include "windows_text.h"

bool seek_file(FILE* file, int64_t offset, int whence) {
#ifdef _WIN32
  return _fseeki64(file, offset, whence) == 0;
#else
  return fseeko(file, static_cast<off_t>(offset), whence) == 0;
#endif
}

namespace {

int64_t tell_file(FILE* file) {
#ifdef _WIN32
  return _ftelli64(file);
#else
  return ftello(file);
#endif
}

}  // namespace

FILE* open_for_reading(const char* path) {
#ifdef _WIN32
  // The path is UTF-8: the wide call opens a name in any script.
  std::wstring wide = wide_from_utf8(path);
  if (wide.empty()) {
    errno = ENOENT;
    return nullptr;
  }
  return _wfopen(wide.c_str(), L"rb");
#else
  return std::fopen(path, "rb");
#endif
}

FILE* open_target_rom(int& which) {
  int reasons[std::size(kRomNames)] = {};
  for (which = 0; which < static_cast<int>(std::size(kRomNames)); ++which) {
    // "r+b": read and write, never created, never truncated.
    FILE* rom = std::fopen(kRomNames[which], "r+b");
    // Every write of the image is a whole run already. Unbuffered, a failed
    // write keeps nothing back that could go out later, over the undo.
    if (rom && std::setvbuf(rom, nullptr, _IONBF, 0) == 0) return rom;
    reasons[which] = errno;
    if (rom) (void)std::fclose(rom);
  }
  errno = reasons[1];
  report_error("Failed to open 'SUBSYS_C.ROM(V1) or SUBSYS_CG.ROM(V2)' file");
  if (reasons[0] != ENOENT) {
    // The first image is there but read-only, a folder or out of reach: the
    // line above gives only the second's reason.
    errno = reasons[0];
    report_error((std::string("Failed to open ") + kRomNames[0]).c_str());
  }
  return nullptr;
}

bool read_font_file(const char* path, const std::function<bool(FILE*)>& read) {
  FILE* font = open_for_reading(path);
  if (!font) {
    report_error("Failed to open font file");
    return false;
  }
  bool done = read(font);
  int read_errno = errno;
  (void)std::fclose(font);  // read only: a failed close loses nothing
  if (!done) {
    errno = read_errno;
    report_error("Failed to read font file");
  }
  return done;
}

bool read_font_bytes(FILE* font, std::vector<char>& bytes) {
  // A regular file says how much is coming; anything else grows as it reads.
  struct stat info;
  size_t want = 1 << 16;
  if (fstat(fileno(font), &info) == 0 && S_ISREG(info.st_mode)) {
    want = static_cast<size_t>(info.st_size) + 1;
  }
  size_t used = 0;
  for (;;) {
    bytes.resize(used + want);
    size_t got = std::fread(bytes.data() + used, 1, bytes.size() - used, font);
    used += got;
    if (used < bytes.size()) break;
    want = used;  // the file was longer than it said: double the room
  }
  bytes.resize(used);
  return std::ferror(font) == 0;
}

void reserve_glyphs(FILE* font, std::vector<PatchGlyph>& glyphs) {
  struct stat info;
  if (fstat(fileno(font), &info) != 0 || !S_ISREG(info.st_mode)) return;
  // A glyph of the usual shape takes at least 11 bytes ("@1" and eight empty
  // lines); odder files still work, the vector then grows as it goes.
  constexpr uint64_t most = sizeof(size_t) >= 8 ? 1 << 24 : 1 << 20;
  glyphs.reserve(std::min<uint64_t>(static_cast<uint64_t>(info.st_size) / 11 + 1, most));
  advise_huge_pages(glyphs.data(), glyphs.capacity() * sizeof(PatchGlyph));
}

KernelIo read_through_font(FILE* font, int64_t& size) {
#ifdef __linux__
  struct stat info;
  if (fstat(fileno(font), &info) != 0 || !S_ISREG(info.st_mode)) return KernelIo::unsupported;
  int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0) return KernelIo::unsupported;
  off_t done = 0;
  ssize_t got = 1;
  while (got > 0) got = sendfile(null, fileno(font), &done, 1 << 30);
  int read_errno = errno;
  close(null);
  size = done;
  if (got == 0) return KernelIo::done;
  errno = read_errno;
  // Where nothing was read, reading through memory either works or fails
  // with the real reason.
  return done == 0 ? KernelIo::unsupported : KernelIo::failed;
#else
  (void)font;
  (void)size;
  return KernelIo::unsupported;
#endif
}

KernelIo copy_font_to_rom(FILE* font, FILE* rom, int64_t size) {
#ifdef __linux__
  struct stat info;
  if (fstat(fileno(rom), &info) != 0 || !S_ISREG(info.st_mode)) return KernelIo::unsupported;
  if (std::fflush(rom) != 0) return KernelIo::failed;
  loff_t from = 0;
  loff_t to = 0;
  while (from < size && !held_interrupt()) {
    ssize_t copied =
        copy_file_range(fileno(font), &from, fileno(rom), &to, static_cast<size_t>(size - from), 0);
    if (copied > 0) continue;
    if (copied == 0) errno = EIO;  // the font file shrank meanwhile
    // Where nothing was copied, copying through memory either works or
    // fails with the real reason.
    return to == 0 ? KernelIo::unsupported : KernelIo::failed;
  }
  if (from < size) {
    errno = EINTR;
    return KernelIo::failed;
  }
  return KernelIo::done;
#else
  (void)font;
  (void)rom;
  (void)size;
  return KernelIo::unsupported;
#endif
}

bool read_rom_bytes(FILE* rom, int64_t offset, std::vector<uint8_t>& bytes) {
  if (!seek_file(rom, offset, SEEK_SET)) return false;
  if (std::fread(bytes.data(), 1, bytes.size(), rom) == bytes.size()) return true;
  if (std::ferror(rom) == 0) errno = EIO;  // the image is shorter than it was
  return false;
}

int64_t rom_size(FILE* rom) {
  if (!seek_file(rom, 0, SEEK_END)) return -1;
  return tell_file(rom);
}

int64_t rom_size_for_patch(FILE* rom) {
  int64_t size = rom_size(rom);
  if (size < 0) report_error(kRomWriteFailed);
  return size;
}

void warn_of_growth(int64_t old_size, int64_t new_end, const char* path, uint64_t line) {
  if (new_end > old_size) {
    report_warning(path, line,
                   "the image grows from " + std::to_string(old_size) + " to " +
                       std::to_string(new_end) + " bytes");
  }
}

std::vector<RomExtent> glyph_extents(const std::vector<PatchGlyph>& glyphs) {
  std::vector<RomExtent> extents;
  auto add = [&](int64_t offset, int64_t size) {
    if (!extents.empty() && extents.back().offset + extents.back().size == offset) {
      extents.back().size += size;
    } else {
      extents.push_back({offset, size});
    }
  };
  for (const PatchGlyph& g : glyphs) {
    int64_t base = int64_t{g.code} * 8;
    uint64_t rows;
    std::memcpy(&rows, g.rows, sizeof rows);
    if (rows == (rows | kEachByte * kRowGiven)) {
      add(base, 8);
      continue;
    }
    for (int r = 0; r < 8; ++r) {
      if (g.rows[r] & kRowGiven) add(base + r, 1);
    }
  }
  return extents;
}

namespace {

// Bytes bound for one place of the image, gathered so that a run of rows
// costs one positioned write instead of one call a row.
struct PendingRun {
  FILE* rom;
  int64_t start = 0;
  std::vector<char> bytes;
};

constexpr size_t kRunLimit = 1 << 20;

// Writes the gathered bytes; false on failure, errno set.
bool flush_run(PendingRun& run) {
  if (run.bytes.empty()) return true;
  if (held_interrupt()) {
    errno = EINTR;
    return false;
  }
  bool ok = seek_file(run.rom, run.start, SEEK_SET) &&
            std::fwrite(run.bytes.data(), 1, run.bytes.size(), run.rom) == run.bytes.size();
  run.start += static_cast<int64_t>(run.bytes.size());
  run.bytes.clear();
  return ok;
}

// Adds `size` bytes bound for `offset`; false when an earlier run failed.
bool add_to_run(PendingRun& run, int64_t offset, const char* data, size_t size) {
  int64_t end = run.start + static_cast<int64_t>(run.bytes.size());
  if (offset != end || run.bytes.size() >= kRunLimit) {
    if (!flush_run(run)) return false;
    run.start = offset;
  }
  run.bytes.insert(run.bytes.end(), data, data + size);
  return true;
}

}  // namespace

bool write_glyph_rows(FILE* rom, const std::vector<PatchGlyph>& glyphs) {
  PendingRun run{rom, 0, {}};
  run.bytes.reserve(kRunLimit + 8);
  for (const PatchGlyph& g : glyphs) {
    int64_t base = int64_t{g.code} * 8;
    uint64_t rows;
    std::memcpy(&rows, g.rows, sizeof rows);
    if (rows == (rows | kEachByte * kRowGiven)) {
      // A whole glyph: its eight rows go out together.
      rows &= kEachByte * kRowBits;
      char bytes[sizeof rows];
      std::memcpy(bytes, &rows, sizeof bytes);
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
