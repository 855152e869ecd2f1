#include "fontimport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "files.h"
#include "glyph_spill.h"
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
    EXPECT_FALSE(write_rom_guarded(rom, nullptr, said, {{4, 2}, {18, 4}, {28, 2}}, [](FILE* f) {
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

TEST(WriteRomGuarded, APatchPastTheMemoryBoundIsUndoneFromItsJournal) {
  const std::string old = pattern(300000);
  std::string fresh = pattern(400000);
  std::reverse(fresh.begin(), fresh.end());
  const std::string name = testing::TempDir() + "image.rom";
  const std::string missing = testing::TempDir() + "missing/image.rom";
  // A binary font that grows the image, and rows apart, one ending past the
  // middle of the old bytes; the patch writes `written` bytes, failing if short.
  const std::vector<RomExtent> font = {{0, 400000}};
  const std::vector<RomExtent> rows = {{1000, 40000}, {200000, 30000}, {280000, 40000}};
  const char* failed = "Failed to write ROM image: Input/output error\n";
  struct Case {
    std::vector<RomExtent> extents;
    std::string name;
    int64_t written;
    const char* error;
  };
  // Where no journal can be made, nothing is written: memory does not stand in.
  for (const Case& c :
       {Case{font, name, 250000, failed}, Case{rows, name, 50000, failed},
        Case{rows, name, 110000, ""},
        Case{font, missing, 0, "Failed to write journal: No such file or directory\n"}}) {
    FILE* rom = std::tmpfile();
    ASSERT_TRUE(rom && std::setvbuf(rom, nullptr, _IONBF, 0) == 0 &&
                std::fwrite(old.data(), 1, old.size(), rom) == old.size());
    std::string expected = old;
    testing::internal::CaptureStderr();
    bool done = write_rom_guarded(
        rom, c.name.c_str(), static_cast<int64_t>(old.size()), c.extents,
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
        1 << 10);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.error);
    EXPECT_EQ(done, *c.error == '\0');
    std::string image(500000, '?');
    std::rewind(rom);
    image.resize(std::fread(image.data(), 1, image.size(), rom));
    EXPECT_TRUE(image == (done ? expected : old)) << image.size() << " bytes";
    (void)std::fclose(rom);
    // Given up once the image is whole, however the run ended.
    FILE* journal = std::fopen((c.name + "-journal").c_str(), "rb");
    EXPECT_EQ(journal, nullptr);
    if (journal) (void)std::fclose(journal);
  }
}

// The order of the codes of a patch.
enum class Codes { any, ascending, each_once };

// A patch of `glyphs` glyphs in every shape that the parser warns of:
// repeated codes, short glyphs, bad headers, drawn rows, CR LF, comments,
// codes past a bucket of 4096; or with codes 1 to `glyphs` that only
// ascend or come each once in any order; a Ctrl-Z at byte `stop` when it
// is given.
struct OddPatch {
  size_t glyphs;
  unsigned seed;
  Codes order = Codes::any;
  size_t stop = std::string::npos;
};

// A glyph of code `code` as odd_patch() writes it: its header and rows.
std::string odd_glyph(std::mt19937& random, unsigned code) {
  auto pick = [&](unsigned n) { return static_cast<unsigned>(random() % n); };
  char line[16];
  (void)std::snprintf(line, sizeof line, pick(300) == 0 ? "@-%X\n" : "@%X\n", code);
  std::string text = pick(500) == 0 ? "@zz\n" : pick(400) == 0 ? "; note\n" : line;
  const unsigned rows = pick(30) == 0 ? pick(8) : 8;
  for (unsigned r = 0; r < rows; ++r) {
    for (int c = 0; c < 7; ++c) text += pick(1000) == 0 ? '.' : "01"[pick(2)];
    text += pick(10) == 0 ? "\r\n" : "\n";
  }
  return text;
}

std::string odd_patch(const OddPatch& p) {
  std::mt19937 random(p.seed);
  std::vector<unsigned> codes(p.glyphs);
  for (size_t i = 0; i < p.glyphs; ++i) codes[i] = static_cast<unsigned>(1 + i);
  if (p.order == Codes::each_once) std::shuffle(codes.begin(), codes.end(), random);
  std::string text;
  for (size_t i = 0; i < p.glyphs; ++i) {
    unsigned code = random() % 20 == 0 ? 0x123400 + random() % 9 : 1 + random() % 0x3000;
    text += odd_glyph(random, p.order == Codes::any ? code : codes[i]);
  }
  if (p.stop < text.size()) text[p.stop] = 0x1A;
  return text;
}

// Writes `text` to a new file at `path`; false when it cannot.
bool write_file(const char* path, const std::string& text) {
  FILE* file = std::fopen(path, "wb");
  return file != nullptr && std::fwrite(text.data(), 1, text.size(), file) == text.size() &&
         std::fclose(file) == 0;
}

// The image after the patch at `path` went into a copy of `old`, holding
// `held` glyphs, then what the run printed; "failed" ends it when it failed.
std::string patched(const std::string& path, size_t held, const std::string& old) {
  FILE* rom = std::tmpfile();
  EXPECT_TRUE(rom && std::setvbuf(rom, nullptr, _IONBF, 0) == 0 &&
              std::fwrite(old.data(), 1, old.size(), rom) == old.size());
  testing::internal::CaptureStderr();
  bool done = patch_text_font(rom, nullptr, path.c_str(), held);
  std::string printed = testing::internal::GetCapturedStderr();
  std::string image(size_t{0x123500} * 8, '?');
  std::rewind(rom);
  image.resize(std::fread(image.data(), 1, image.size(), rom));
  (void)std::fclose(rom);
  return image + printed + (done ? "" : "failed");
}

TEST(PatchTextFont, AFontOfMoreGlyphsThanHeldComesOutAsOneHeldWhole) {
  const std::string path = testing::TempDir() + "odd.txt";
  const std::string old = pattern(size_t{0x3000} * 8);
  // Under the size that is parsed in parts, past it, and past it with a
  // Ctrl-Z in the first part, which leaves the later ones unread, its codes
  // in any order or ascending.
  const size_t none = std::string::npos;
  for (const OddPatch& odd :
       {OddPatch{3000, 1, Codes::any, none}, OddPatch{70000, 2, Codes::any, none},
        OddPatch{70000, 3, Codes::any, 1000000}, OddPatch{70000, 4, Codes::ascending, 1000000}}) {
    ASSERT_TRUE(write_file(path.c_str(), odd_patch(odd)));
    const std::string whole = patched(path, kGlyphsHeld, old);
    ASSERT_GT(whole.size(), old.size());
    for (size_t held : {0, 5, 2000}) EXPECT_TRUE(patched(path, held, old) == whole) << held;
    // Applied again, nothing changes: the image keeps the bytes it has.
    const std::string again = whole.substr(0, size_t{0x123409} * 8);
    EXPECT_EQ(patched(path, 5, again).substr(0, again.size()), again);
  }
  (void)std::remove(path.c_str());
}

TEST(PatchTextFont, APatchAppliedAgainWarnsAsAnyOther) {
  const std::string path = testing::TempDir() + "again.txt";
  const std::string ascending = odd_patch({70000, 3, Codes::ascending});
  // Its codes ascend in every part, then some come again at its end, as
  // they were: the image holds their first glyphs, left out as the codes
  // ascend, which matter after all. Codes in any order, each once.
  size_t from = ascending.find("\n@", 100000) + 1;
  const std::string again = ascending.substr(from, ascending.find("\n@", from + 5000) + 1 - from);
  const std::string shuffled = odd_patch({70000, 5, Codes::each_once});
  for (const std::string& text : {ascending, ascending + again, shuffled}) {
    ASSERT_TRUE(write_file(path.c_str(), text));
    std::string once = patched(path, kGlyphsHeld, pattern(size_t{0x3000} * 8));
    std::string image = once.substr(0, once.find(path));
    // The warnings of the text read byte by byte, which no image changes.
    PatchText plain = parse_font_patch(text, true);
    merge_patch_glyphs(plain);
    std::string warned;
    for (const PatchWarning& w : plain.warnings) {
      warned += path + ":" + std::to_string(w.line) + ": warning: " + w.text + "\n";
    }
    EXPECT_TRUE(patched(path, kGlyphsHeld, image) == image + warned);
  }
  (void)std::remove(path.c_str());
}

TEST(GatherCodeRange, GlyphsLeftInMemoryFollowThoseSpilled) {
  PatchText patch = parse_font_patch(odd_patch({5000, 7}));
  std::vector<GlyphStore> stores(2);
  // The first store spills half its glyphs; the second none, as when no
  // spill file could be made.
  const std::vector<PatchGlyph> all = patch.glyphs;
  std::vector<PatchGlyph> half(patch.glyphs.begin(), patch.glyphs.begin() + 1200);
  spill_glyphs(stores[0], half, testing::TempDir().c_str());
  ASSERT_TRUE(half.empty() && stores[0].spilled == 1200);
  stores[0].rest.assign(patch.glyphs.begin() + 1200, patch.glyphs.begin() + 2500);
  stores[1].rest.assign(patch.glyphs.begin() + 2500, patch.glyphs.end());
  patch.warnings.clear();
  merge_patch_glyphs(patch);
  PatchText joined;
  // Room for them all: one range, buckets of few glyphs joined.
  EXPECT_EQ(plan_code_ranges(stores, 100000).size(), 1u);
  for (CodeSpan range : plan_code_ranges(stores, 1000)) {
    // Only a range of one bucket of codes holds more glyphs than asked.
    auto in_range = [&](const PatchGlyph& g) {
      return g.code >= range.first && g.code < range.end;
    };
    EXPECT_TRUE(range.end - range.first == 4096 ||
                std::count_if(all.begin(), all.end(), in_range) <= 1000);
    PatchText part;
    ASSERT_TRUE(gather_code_range(stores, range, 1000, part));
    joined.glyphs.insert(joined.glyphs.end(), part.glyphs.begin(), part.glyphs.end());
    joined.warnings.insert(joined.warnings.end(), part.warnings.begin(), part.warnings.end());
  }
  close_glyph_store(stores[0]);
  ASSERT_EQ(joined.glyphs.size(), patch.glyphs.size());
  for (size_t i = 0; i < patch.glyphs.size(); ++i) {
    EXPECT_EQ(std::memcmp(&joined.glyphs[i], &patch.glyphs[i], sizeof(PatchGlyph)), 0) << i;
  }
  EXPECT_EQ(joined.warnings.size(), patch.warnings.size());
}

}  // namespace
