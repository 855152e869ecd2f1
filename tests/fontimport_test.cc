#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "files.h"
#include "rom_guard.h"
#include "rom_image.h"

namespace {

TEST(WriteRomGuarded, AFailedPatchLeavesTheImageAsItWas) {
  const std::string old = "0123456789ABCDEF";
  // The size that the caller learnt, and the error; 20 is more than the image holds.
  for (auto [said, error] : {std::pair(16, "write"), std::pair(20, "read")}) {
    FILE* rom = std::tmpfile();
    ASSERT_TRUE(rom && std::setvbuf(rom, nullptr, _IONBF, 0) == 0 &&
                std::fputs(old.c_str(), rom) >= 0);
    testing::internal::CaptureStderr();
    // The patch grows the image, leaving a gap, and then fails.
    EXPECT_FALSE(write_rom_guarded(rom, said, {{4, 2}, {18, 4}, {28, 2}}, [](FILE* f) {
      bool written = seek_file(f, 4, SEEK_SET) && std::fputs("xy", f) >= 0 &&
                     seek_file(f, 28, SEEK_SET) && std::fputs("zz", f) >= 0;
      EXPECT_TRUE(written);
      errno = EIO;
      return report_rom_write_failure();
    }));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              std::string("Failed to ") + error + " ROM image: Input/output error\n");
    std::string image(64, '?');
    std::rewind(rom);
    image.resize(std::fread(image.data(), 1, image.size(), rom));
    EXPECT_EQ(image, old);
    (void)std::fclose(rom);
  }
}

// `size` bytes of a pattern.
std::string pattern(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 >> 3);
  return bytes;
}

TEST(WriteRomGuarded, APatchPastTheMemoryBoundIsUndoneFromASpillFile) {
  const std::string old = pattern(300000);
  std::string fresh = pattern(400000);
  std::reverse(fresh.begin(), fresh.end());
  const std::string folder = testing::TempDir();
  const std::string missing = folder + "missing";
  // A binary font that grows the image, and rows apart, one half ending in
  // the second's middle; the patch writes `written` bytes, failing if short.
  const std::vector<RomExtent> font = {{0, 400000}};
  const std::vector<RomExtent> rows = {{1000, 40000}, {200000, 30000}, {280000, 40000}};
  const char* failed = "Failed to write ROM image: Input/output error\n";
  struct Case {
    std::vector<RomExtent> extents;
    std::string folder;
    int64_t fallback, written;
    const char* error;
  };
  for (const Case& c :
       {Case{font, folder, 0, 250000, failed}, Case{rows, folder, 0, 50000, failed},
        Case{rows, folder, 0, 110000, ""}, Case{font, missing, 1 << 20, 250000, failed},
        Case{font, missing, 1 << 10, 0,
             "Failed to back up ROM image: No such file or directory\n"}}) {
    FILE* rom = std::tmpfile();
    ASSERT_TRUE(rom && std::setvbuf(rom, nullptr, _IONBF, 0) == 0 &&
                std::fwrite(old.data(), 1, old.size(), rom) == old.size());
    std::string expected = old;
    testing::internal::CaptureStderr();
    bool done = write_rom_guarded(
        rom, static_cast<int64_t>(old.size()), c.extents,
        [&](FILE* f) {
          int64_t left = c.written;
          for (RomExtent e : c.extents) {
            auto part = static_cast<size_t>(std::min(left, e.size));
            if (!seek_file(f, e.offset, SEEK_SET) ||
                std::fwrite(fresh.data() + e.offset, 1, part, f) != part) {
              return report_rom_write_failure();
            }
            expected.resize(std::max(expected.size(), static_cast<size_t>(e.offset + e.size)));
            expected.replace(static_cast<size_t>(e.offset), part, fresh, e.offset, part);
            left -= static_cast<int64_t>(part);
            errno = EIO;
            if (static_cast<int64_t>(part) < e.size) return report_rom_write_failure();
          }
          return true;
        },
        {c.folder.c_str(), 1 << 10, c.fallback});
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.error);
    EXPECT_EQ(done, *c.error == '\0');
    std::string image(500000, '?');
    std::rewind(rom);
    image.resize(std::fread(image.data(), 1, image.size(), rom));
    EXPECT_TRUE(image == (done ? expected : old)) << image.size() << " bytes";
    (void)std::fclose(rom);
  }
}

}  // namespace
