#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>

#include "output_file.h"

namespace {

TEST(OutputFile, EachKindReplacesItsOwnKindOnly) {
  // What the file at the output's place holds, what is written, and whether it is replaced.
  const std::string png("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
  const std::tuple<std::string, OutputKind, bool> cases[] = {
      {"", OutputKind::patch_text, true},
      {"; a patch\r\n\t\v\f\x1A~\x80\xFF", OutputKind::patch_text, true},
      {std::string("\xFF\xFE;\0", 4), OutputKind::patch_text, true},  // UTF-16, as Windows saves
      {"\x1F", OutputKind::patch_text, false},
      {"\b", OutputKind::patch_text, false},
      {"\x0E", OutputKind::patch_text, false},
      {png, OutputKind::patch_text, false},
      {png, OutputKind::png, true},
      {"@41", OutputKind::png, false},
      {"STARTFONT 2.1\n", OutputKind::bdf, true},
      {"@41", OutputKind::bdf, false},
      {"\x72\xB5\x4A\x86", OutputKind::psf, true},
      {"\x36\x04\x00\x08", OutputKind::psf, true},
      {"\x36\x05", OutputKind::psf, false},
      {"0041:00", OutputKind::hex, true},
      {png, OutputKind::hex, false}};
  const char* path = "output_test.txt";
  std::ofstream(path).close();
#ifndef _WIN32
  ASSERT_EQ(chmod(path, 0600), 0);  // what replaces it keeps this mode
#endif
  for (const auto& [old, kind, replaced] : cases) {
    std::ofstream(path, std::ios::binary) << old;
    testing::internal::CaptureStderr();
    EXPECT_EQ(write_output("t", path, "@41\n", kind, {}), replaced) << old;
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

TEST(OutputFile, TheExtensionNamesTheKind) {
  const std::pair<const char*, OutputKind> cases[] = {
      {"-", OutputKind::patch_text},       {"f.txt", OutputKind::patch_text},
      {"f", OutputKind::patch_text},       {"png", OutputKind::patch_text},
      {"a.png/f", OutputKind::patch_text}, {"a.png\\f", OutputKind::patch_text},
      {"F.PNG", OutputKind::png},          {"d.x/f.Bdf", OutputKind::bdf},
      {"f.psf", OutputKind::psf},          {"f.hex", OutputKind::hex},
      {"f.psf.gz", OutputKind::patch_text}};
  for (const auto& [path, kind] : cases) EXPECT_EQ(output_kind_of(path), kind) << path;
}

}  // namespace
