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
  size_t budget;
  bool stuck;
  size_t at = 0;
};

FailingImage& image_of(void* cookie) { return *static_cast<FailingImage*>(cookie); }

constexpr cookie_io_functions_t kFailingImage = {
    [](void* cookie, char* out, size_t size) -> ssize_t {
      FailingImage& image = image_of(cookie);
      size_t n = image.at < image.bytes.size() ? image.bytes.copy(out, size, image.at) : 0;
      image.at += n;
      return static_cast<ssize_t>(n);
    },
    [](void* cookie, const char* data, size_t size) -> ssize_t {
      FailingImage& image = image_of(cookie);
      size_t n = std::min(size, image.budget);
      image.bytes.resize(std::max(image.bytes.size(), image.at + n));
      image.bytes.replace(image.at, n, data, n);
      image.at += n;
      image.budget -= n;
      if (n == size) return static_cast<ssize_t>(n);
      // The write fails after storing what fits; a cookie says so by writing none.
      image.budget = image.stuck ? 0 : SIZE_MAX;
      errno = EIO;
      return 0;
    },
    [](void* cookie, off64_t* offset, int whence) {
      FailingImage& image = image_of(cookie);
      size_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? image.at : image.bytes.size();
      *offset = static_cast<off64_t>(image.at = base + static_cast<size_t>(*offset));
      return 0;
    },
    nullptr};

// Patches `image` with `text` through write_rom_guarded; its result, with
// what it printed on standard error in `errors`.
bool patch_image(FailingImage& image, const std::string& text, std::string& errors) {
  FILE* rom = fopencookie(&image, "r+", kFailingImage);
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
  const std::string failed = "Failed to write ROM image: Input/output error\n";
  const std::pair<size_t, bool> cases[] = {{0, false}, {1, false},       {7, false},   {8, false},
                                           {9, false}, {100, false},     {250, false}, {333, false},
                                           {20, true}, {SIZE_MAX, false}};
  for (auto [budget, stuck] : cases) {
    FailingImage image{old, budget, stuck};
    std::string errors;
    bool done = patch_image(image, scattered_patch(), errors);
    EXPECT_EQ(done, budget == SIZE_MAX);
    EXPECT_EQ(errors, done    ? ""
                      : stuck ? failed + "Failed to restore ROM image: Input/output error\n"
                              : failed)
        << budget;
    if (done) {
      EXPECT_EQ(image.bytes.substr(8, 24), std::string(8, '\x55') + old.substr(16, 16));
    } else if (!stuck) {
      EXPECT_TRUE(image.bytes == old) << "after " << budget << " bytes";
    }
  }
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
    errno = 0;  // no reason left over from an earlier case
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
