#include <gtest/gtest.h>

#include <cstdio>

#include "files.h"

namespace {

#ifndef _WIN32  // a command's pipe
TEST(Files, AFileHasASizeAPipeHasNone) {
  FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  ASSERT_GE(std::fputs("0123456789", file), 0);
  ASSERT_EQ(std::fflush(file), 0);
  FILE* pipe = popen("echo 0123456789", "r");
  ASSERT_NE(pipe, nullptr);
  EXPECT_EQ(regular_file_size(file) * 100 + stream_size(file), 1010);
  EXPECT_EQ(regular_file_size(pipe) * 100 + stream_size(pipe), -101);
  (void)pclose(pipe);
  (void)std::fclose(file);
}
#endif

}  // namespace
