#include "import_steps.h"

#include <cerrno>
#include <string>

#include "console.h"
#include "files.h"
#include "rom_image.h"

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

int64_t rom_size_for_patch(FILE* rom) {
  int64_t size = stream_size(rom);
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
