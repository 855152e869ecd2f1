#include "console.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#include "interrupts.h"

// A failed flush of standard output stays in its error flag, which the run
// checks before it ends. Standard error is the last resort: a line that it
// cannot take has nowhere else to go.

void report_error(const char* what) {
  int saved = errno;  // flushing may clobber it
  (void)std::fflush(stdout);
  (void)std::fprintf(stderr, "%s: %s\n", what, std::strerror(saved));
}

void report_warning(const char* path, uint64_t line, const std::string& text) {
  (void)std::fflush(stdout);
  if (line) {
    (void)std::fprintf(stderr, "%s:%" PRIu64 ": warning: %s\n", path, line, text.c_str());
  } else {
    (void)std::fprintf(stderr, "%s: warning: %s\n", path, text.c_str());
  }
}

void report_tool_error(const char* tool, const std::string& text) {
  (void)std::fflush(stdout);
  (void)std::fprintf(stderr, "%s: %s\n", tool, text.c_str());
}

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the tool, then its file, as the line reads
void report_file_error(const char* tool, const char* path, uint64_t line, const std::string& text) {
  std::string where = path;
  if (line) where += ":" + std::to_string(line);
  report_tool_error(tool, where + ": " + text);
}

bool report_cannot(const char* tool, const char* path, const char* what) {
  report_file_error(tool, path, 0, std::string("cannot ") + what + " it: " + std::strerror(errno));
  return false;
}

void report_usage_error(const char* tool, const std::string& why, const char* usage) {
  report_tool_error(tool, why);
  (void)std::fputs(usage, stderr);
}

int print_help(const char* usage, const char* help) {
  (void)std::fputs(usage, stdout);
  (void)std::fputs(help, stdout);
  return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 ? 0 : 1;
}

int end_tool_run(const char* tool, int status) {
  if (int held = held_interrupt()) end_as_interrupted(held);
  if (std::fflush(stdout) == 0 && std::ferror(stdout) == 0) return status;
  if (errno == 0) errno = EIO;
  (void)report_cannot(tool, "standard output", "write");
  return 1;
}
