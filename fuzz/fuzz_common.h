// What the fuzz targets share: failing loudly.
#pragma once

#include <cstdio>
#include <cstdlib>

// Standard error as it was at start-up, should a target point stderr elsewhere.
inline FILE* const fuzz_report = stderr;

// Aborts, saying `what`, unless `ok`.
inline void check(bool ok, const char* what) {
  if (ok) return;
  (void)std::fprintf(fuzz_report, "fuzz: %s\n", what);
  std::abort();
}
