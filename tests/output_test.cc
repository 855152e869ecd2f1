#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "output_file.h"

namespace {

TEST(OutputFile, APatchReplacesTextOnly) {
  // What the file at the output's place holds, and whether a patch replaces it.
  const std::pair<std::string, bool> cases[] = {
      {"", true},
      {"; a patch\r\n\t\v\f\x1A~\x80\xFF", true},
      {std::string("\xFF\xFE;\0", 4), true},  // UTF-16, as Windows tools save text
      {"\x1F", false},
      {"\b", false},
      {"\x0E", false},
      {std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16), false}};
  const char* path = "output_test.txt";
  std::ofstream(path).close();
#ifndef _WIN32
  ASSERT_EQ(chmod(path, 0600), 0);  // what replaces it keeps this mode
#endif
  for (const auto& [old, replaced] : cases) {
    std::ofstream(path, std::ios::binary) << old;
    testing::internal::CaptureStderr();
    EXPECT_EQ(write_output("t", path, "@41\n", OutputKind::patch_text, {}), replaced) << old;
    EXPECT_EQ(testing::internal::GetCapturedStderr().empty(), replaced);  // a refusal says so
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), replaced ? "@41\n" : old);
  }
#ifndef _WIN32
  struct stat info {};
  EXPECT_TRUE(stat(path, &info) == 0 && (info.st_mode & 0777) == 0600);
#endif
  (void)std::remove(path);
}

}  // namespace
