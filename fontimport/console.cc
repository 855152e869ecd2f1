#include "console.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

void report_error(const char* what) {
  int saved = errno;  // flushing may clobber it
  std::fflush(stdout);
  std::fprintf(stderr, "%s: %s\n", what, std::strerror(saved));
}

void report_warning(const char* path, uint64_t line, const std::string& text) {
  std::fflush(stdout);
  if (line) {
    std::fprintf(stderr, "%s:%" PRIu64 ": warning: %s\n", path, line, text.c_str());
  } else {
    std::fprintf(stderr, "%s: warning: %s\n", path, text.c_str());
  }
}
