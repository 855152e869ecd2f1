#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "files.h"
#include "rom_guard.h"
#include "rom_image.h"

namespace {

TEST(WriteRomGuarded, AGrownImageGoesBackToItsOldSize) {
  struct Case {
    int64_t old_size;   // as the caller learnt it
    bool writer_fails;  // after writing all of it
    const char* errors;
    std::string image;  // afterwards
  };
  const std::string old = "0123456789ABCDEF";
  const Case cases[] = {
      {16, false, "", "0123xy6789ABCDEF" + std::string(12, '\0') + "zz"},
      {16, true, "Failed to write ROM image: Input/output error\n", old},
      {20, false, "Failed to read ROM image: Input/output error\n", old},
  };
  for (const Case& c : cases) {
    FILE* rom = std::tmpfile();
    ASSERT_NE(rom, nullptr);
    ASSERT_EQ(std::setvbuf(rom, nullptr, _IONBF, 0), 0);
    ASSERT_EQ(std::fwrite(old.data(), 1, old.size(), rom), old.size());
    testing::internal::CaptureStderr();
    errno = 0;  // no reason left over from an earlier case
    bool done = write_rom_guarded(rom, c.old_size, {{4, 2}, {18, 4}, {28, 2}}, [&](FILE* f) {
      bool ok = seek_file(f, 4, SEEK_SET) && std::fputs("xy", f) >= 0 &&
                seek_file(f, 28, SEEK_SET) && std::fputs("zz", f) >= 0;
      errno = EIO;
      return (ok && !c.writer_fails) || report_rom_write_failure();
    });
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.errors);
    EXPECT_EQ(done, *c.errors == '\0');
    std::string image(64, '?');
    std::rewind(rom);
    image.resize(std::fread(image.data(), 1, image.size(), rom));
    EXPECT_EQ(image, c.image) << c.errors;
    (void)std::fclose(rom);
  }
}

}  // namespace
