#include "font_io.h"

#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "console.h"

namespace {

const char kWriteFailed[] = "Failed to write ROM image";

// Positions `file` at `offset` from `whence`; false on failure, errno set.
bool seek_file(FILE* file, int64_t offset, int whence) {
#ifdef _WIN32
  return _fseeki64(file, offset, whence) == 0;
#else
  return fseeko(file, static_cast<off_t>(offset), whence) == 0;
#endif
}

int64_t tell_file(FILE* file) {
#ifdef _WIN32
  return _ftelli64(file);
#else
  return ftello(file);
#endif
}

bool write_failed() {
  report_error(kWriteFailed);
  return false;
}

}  // namespace

bool read_font_file(const char* path, const std::function<bool(FILE*)>& read) {
  FILE* font = std::fopen(path, "rb");
  if (!font) {
    report_error("Failed to open font file");
    return false;
  }
  bool done = read(font);
  int read_errno = errno;
  std::fclose(font);  // read only: a failed close loses nothing
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
    if (bytes.size() < used + want) bytes.resize(used + want);
    size_t got = std::fread(bytes.data() + used, 1, bytes.size() - used, font);
    used += got;
    if (used < bytes.size()) break;
    want = used;  // the file was longer than it said: double the room
  }
  bytes.resize(used);
  return !std::ferror(font);
}

int64_t rom_size(FILE* rom) {
  if (!seek_file(rom, 0, SEEK_END)) return -1;
  return tell_file(rom);
}

bool warn_of_growth(FILE* rom, int64_t new_end, const char* path, uint64_t line) {
  int64_t size = rom_size(rom);
  if (size < 0) return write_failed();
  if (new_end > size) {
    report_warning(path, line,
                   "the image grows from " + std::to_string(size) + " to " +
                       std::to_string(new_end) + " bytes");
  }
  return true;
}

bool write_glyph_rows(FILE* rom, const std::vector<PatchGlyph>& glyphs) {
  // Rows that follow each other in the image go out without a seek between
  // them, so a run of whole glyphs costs one seek and the stream's buffering.
  int64_t at = -1;
  for (const PatchGlyph& g : glyphs) {
    for (int r = 0; r < 8; ++r) {
      if (!(g.rows[r] & kRowGiven)) continue;
      int64_t offset = int64_t{g.code} * 8 + r;
      if (offset != at && !seek_file(rom, offset, SEEK_SET)) return write_failed();
      if (std::fputc(g.rows[r] & kRowBits, rom) == EOF) return write_failed();
      at = offset + 1;
    }
  }
  if (std::fflush(rom) != 0) return write_failed();
  return true;
}

bool write_rom_start(FILE* rom, const char* data, size_t size) {
  if (!seek_file(rom, 0, SEEK_SET)) return write_failed();
  if (std::fwrite(data, 1, size, rom) != size) return write_failed();
  if (std::fflush(rom) != 0) return write_failed();
  return true;
}
