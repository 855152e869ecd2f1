// Fuzzes the whole text import: the input becomes a font file on disk and is
// imported into a fresh 64-byte image, which must then hold exactly the rows
// of the patch written one by one in file order over its old bytes.
#include <unistd.h>

#include <algorithm>
#include <cinttypes>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>

#include "font_patch.h"
#include "fontimport.h"

namespace {

constexpr int64_t kOldSize = 64;
// Inputs that write past this are skipped: they would only make large files.
constexpr int64_t kLargestOffset = int64_t{64} << 20;

FILE* report = stderr;  // standard error as it was at start-up
char folder[4096];
char font_path[4096];

void check(bool ok, const char* what, int64_t offset = -1) {
  if (ok) return;
  (void)std::fprintf(report, "import_fuzz: %s", what);
  if (offset >= 0) {
    (void)std::fprintf(report, " at offset 0x%" PRIX64, static_cast<uint64_t>(offset));
  }
  (void)std::fprintf(report, "\n");
  std::abort();
}

// The image's bytes before the import; bit 7 is set, which no row has.
uint8_t old_byte(int64_t offset) { return static_cast<uint8_t>(0x80 | (offset * 37 + 11)); }

bool same_parse(const PatchParser& a, const PatchParser& b) {
  auto same_glyph = [](const PatchGlyph& x, const PatchGlyph& y) {
    return x.code == y.code && x.line == y.line && std::memcmp(x.rows, y.rows, sizeof x.rows) == 0;
  };
  auto same_warning = [](const PatchWarning& x, const PatchWarning& y) {
    return x.line == y.line && x.text == y.text;
  };
  return std::equal(a.glyphs.begin(), a.glyphs.end(), b.glyphs.begin(), b.glyphs.end(),
                    same_glyph) &&
         std::equal(a.warnings.begin(), a.warnings.end(), b.warnings.begin(), b.warnings.end(),
                    same_warning);
}

// Reads single bytes of an image a block at a time, never the whole of it.
struct ImageReader {
  FILE* file;
  int64_t start = -1;
  size_t got = 0;
  unsigned char block[4096];

  int at(int64_t offset) {
    int64_t want = offset & ~int64_t{sizeof block - 1};
    if (want != start) {
      check(fseeko(file, want, SEEK_SET) == 0, "cannot seek in the image", want);
      got = std::fread(block, 1, sizeof block, file);
      start = want;
    }
    size_t i = static_cast<size_t>(offset - want);
    return i < got ? block[i] : -1;
  }
};

void remove_folder() {
  (void)unlink(font_path);
  (void)rmdir(folder);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  const char* tmp = std::getenv("TMPDIR");
  (void)std::snprintf(folder, sizeof folder, "%s/zenpo-fuzz-XXXXXX", tmp && *tmp ? tmp : "/tmp");
  check(mkdtemp(folder) != nullptr, "cannot make a temporary folder");
  (void)std::snprintf(font_path, sizeof font_path, "%s/font.txt", folder);
  check(std::atexit(remove_folder) == 0, "cannot register the clean-up");
  // The import warns of nearly every input. The fuzzer writes its own lines
  // to the stream that stderr named at start-up and the sanitizers write to
  // descriptor 2, so pointing stderr elsewhere silences only the import;
  // freopen would silence the fuzzer too, as it changes that very stream.
  FILE* null = std::fopen("/dev/null", "w");
  check(null != nullptr, "cannot open /dev/null");
  stderr = null;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  PatchParser parsed = parse_font_patch(text);

  // The rows in file order; a later row at the same offset replaces one before.
  std::map<int64_t, uint8_t> rows;
  for (const PatchGlyph& g : parsed.glyphs) {
    check(g.code >= 1 && g.code < kCodeLimit, "a glyph has a code that cannot be patched");
    for (int r = 0; r < 8; ++r) {
      if (g.rows[r] & kRowGiven) rows[int64_t{g.code} * 8 + r] = g.rows[r] & kRowBits;
    }
  }

  std::string crlf;
  crlf.reserve(size * 2);
  for (char c : text) {
    if (c == '\n') crlf += '\r';
    crlf += c;
  }
  check(same_parse(parse_font_patch(crlf), parsed), "CR LF gives other glyphs or warnings");

  if (!rows.empty() && rows.rbegin()->first >= kLargestOffset) return 0;

  FILE* font = std::fopen(font_path, "wb");
  check(font != nullptr && std::fwrite(data, 1, size, font) == size && std::fclose(font) == 0,
        "cannot write the font file");
  FILE* rom = std::tmpfile();
  check(rom != nullptr, "cannot make a temporary image");
  for (int64_t i = 0; i < kOldSize; ++i) {
    check(std::fputc(old_byte(i), rom) != EOF, "cannot fill the image");
  }
  check(std::fflush(rom) == 0, "cannot fill the image");

  check(patch_text_font(rom, font_path), "the import failed");

  int64_t want_size = std::max(kOldSize, rows.empty() ? 0 : rows.rbegin()->first + 1);
  check(fseeko(rom, 0, SEEK_END) == 0 && ftello(rom) == want_size, "the image has the wrong size");
  // Every row, the bytes beside each row and every old byte; a gap between
  // the old end and the rows reads as zero bytes.
  ImageReader image{rom};
  auto expected = [&](int64_t offset) -> int {
    auto it = rows.find(offset);
    if (it != rows.end()) return it->second;
    return offset < kOldSize ? old_byte(offset) : 0;
  };
  auto check_byte = [&](int64_t offset) {
    if (offset >= 0 && offset < want_size) {
      check(image.at(offset) == expected(offset), "a byte of the image is wrong", offset);
    }
  };
  for (int64_t i = 0; i < kOldSize; ++i) check_byte(i);
  for (const auto& [offset, byte] : rows) {
    check_byte(offset);
    check((image.at(offset) & 0x80) == 0, "a row has bit 7 set", offset);
    check_byte(offset - 1);
    check_byte(offset + 1);
  }
  (void)std::fclose(rom);
  return 0;
}
