#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "files.h"

namespace {

#ifndef _WIN32  // names under /proc and a command's pipe
TEST(Files, AFileHasASizeAndAnIdentityAPipeHasNeither) {
  FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  ASSERT_GE(std::fputs("0123456789", file), 0);
  ASSERT_EQ(std::fflush(file), 0);
  EXPECT_EQ(regular_file_size(file) * 100 + stream_size(file), 1010);
  std::string path = "/proc/self/fd/" + std::to_string(fileno(file));
  FILE* again = open_for_reading(path.c_str());
  ASSERT_NE(again, nullptr);
  FileIdentity a = identity_of(file);
  FileIdentity b = identity_of(again);
  EXPECT_TRUE(a.known && a.device == b.device && a.file == b.file);
  (void)std::fclose(again);
  (void)std::fclose(file);
  // More than the first guess of 64 KiB, which then doubles.
  FILE* pipe = popen("head -c 200000 /dev/zero", "r");
  ASSERT_NE(pipe, nullptr);
  EXPECT_EQ(regular_file_size(pipe), -1);
  std::vector<char> bytes;
  EXPECT_TRUE(read_stream(pipe, bytes));
  EXPECT_EQ(bytes, std::vector<char>(200000));
  (void)pclose(pipe);
}
#endif

}  // namespace
