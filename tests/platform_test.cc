#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "files.h"

namespace {

#ifndef _WIN32  // a pipe
TEST(Files, AFileHasASizeAPipeHasNone) {
  FILE* file = std::tmpfile();
  ASSERT_TRUE(file && std::fputs("0123456789", file) >= 0 && std::fflush(file) == 0);
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  FILE* in = fdopen(ends[0], "rb");
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(regular_file_size(file) * 100 + stream_size(file), 1010);
  EXPECT_EQ(regular_file_size(in) * 100 + stream_size(in), -101);
  (void)std::fclose(in);
  (void)close(ends[1]);
  (void)std::fclose(file);
}
#endif

}  // namespace
