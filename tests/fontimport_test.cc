#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

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

}  // namespace
