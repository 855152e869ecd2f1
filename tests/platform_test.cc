#include <gtest/gtest.h>

#include <cstdio>

#include "files.h"

namespace {

TEST(Files, ARegularFileHasASize) {
  FILE* file = std::tmpfile();
  ASSERT_TRUE(file && std::fputs("0123456789", file) >= 0 && std::fflush(file) == 0);
  EXPECT_EQ(regular_file_size(file) * 100 + stream_size(file), 1010);
  (void)std::fclose(file);
}

}  // namespace
