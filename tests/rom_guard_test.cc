#include "rom_guard.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "font_io.h"
#include "font_patch.h"

#ifdef __GLIBC__
namespace {

// An image in memory whose writes fail with EIO once `budget` bytes have
// gone out, part-way through a write. After that, writes work again unless
// `stuck`.
struct FailingImage {
  std::string bytes;
  size_t at = 0;
  size_t budget = 0;
  bool stuck = false;
};

ssize_t read_image(void* cookie, char* out, size_t size) {
  auto* image = static_cast<FailingImage*>(cookie);
  size_t n = image->at < image->bytes.size() ? std::min(size, image->bytes.size() - image->at) : 0;
  image->bytes.copy(out, n, image->at);
  image->at += n;
  return static_cast<ssize_t>(n);
}

ssize_t write_image(void* cookie, const char* data, size_t size) {
  auto* image = static_cast<FailingImage*>(cookie);
  size_t n = std::min(size, image->budget);
  if (image->at + n > image->bytes.size()) image->bytes.resize(image->at + n);
  image->bytes.replace(image->at, n, data, n);
  image->at += n;
  image->budget -= n;
  if (n == size) return static_cast<ssize_t>(n);
  // The write fails after storing what fits; a cookie says so by writing none.
  image->budget = image->stuck ? 0 : SIZE_MAX;
  errno = EIO;
  return 0;
}

int seek_image(void* cookie, off64_t* offset, int whence) {
  auto* image = static_cast<FailingImage*>(cookie);
  size_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? image->at : image->bytes.size();
  image->at = static_cast<size_t>(static_cast<off64_t>(base) + *offset);
  *offset = static_cast<off64_t>(image->at);
  return 0;
}

// Patches `image` with `text` through write_rom_guarded; its result, with
// what it printed on standard error in `errors`.
bool patch_image(FailingImage& image, const std::string& text, std::string& errors) {
  FILE* rom = fopencookie(&image, "r+", {read_image, write_image, seek_image, nullptr});
  EXPECT_NE(rom, nullptr);
  EXPECT_EQ(std::setvbuf(rom, nullptr, _IONBF, 0), 0);
  PatchParser parser = parse_font_patch(text);
  merge_patch_glyphs(parser);
  testing::internal::CaptureStderr();
  bool done = write_rom_guarded(
      rom, static_cast<int64_t>(image.bytes.size()), glyph_extents(parser.glyphs),
      [&](FILE* f) { return write_glyph_rows(f, parser.glyphs) ? nullptr : kRomWriteFailed; });
  errors = testing::internal::GetCapturedStderr();
  (void)std::fclose(rom);
  return done;
}

// Whole glyphs and single rows, far apart: a write for each of many runs.
std::string scattered_patch() {
  std::string text;
  for (int code = 1; code < 200; code += 3) {
    char header[16];
    (void)std::snprintf(header, sizeof header, "@%x\n", code);
    text += header;
    for (int r = 0; r < (code % 2 ? 8 : 2); ++r) text += "1010101\n";
  }
  return text;
}

TEST(WriteRomGuarded, AFailedWritePutsBackEveryOldByte) {
  std::string old(2048, '\0');
  for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<char>(i * 13 + 1);
  for (size_t budget : {0, 1, 7, 8, 9, 100, 250, 333}) {
    FailingImage image{old, 0, budget, false};
    std::string errors;
    EXPECT_FALSE(patch_image(image, scattered_patch(), errors)) << budget;
    EXPECT_EQ(errors, "Failed to write ROM image: Input/output error\n") << budget;
    EXPECT_TRUE(image.bytes == old) << "after " << budget << " bytes";
  }
  FailingImage image{old, 0, SIZE_MAX, false};
  std::string errors;
  EXPECT_TRUE(patch_image(image, scattered_patch(), errors));
  EXPECT_EQ(errors, "");
  EXPECT_EQ(image.bytes.substr(8, 8), std::string(8, '\x55'));
  EXPECT_EQ(image.bytes.substr(16, 16), old.substr(16, 16));
}

TEST(WriteRomGuarded, SaysSoWhenTheImageCannotBePutBack) {
  FailingImage image{std::string(2048, '\x11'), 0, 20, true};
  std::string errors;
  EXPECT_FALSE(patch_image(image, scattered_patch(), errors));
  EXPECT_EQ(errors,
            "Failed to write ROM image: Input/output error\n"
            "Failed to restore ROM image: Input/output error\n");
}

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
    bool done = write_rom_guarded(rom, c.old_size, {{4, 2}, {18, 4}, {28, 2}}, [&](FILE* f) {
      bool ok = seek_file(f, 4, SEEK_SET) && std::fputs("xy", f) >= 0 &&
                seek_file(f, 28, SEEK_SET) && std::fputs("zz", f) >= 0;
      errno = EIO;
      return ok && !c.writer_fails ? nullptr : kRomWriteFailed;
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
#endif
