// Fuzzes the whole text import: the input becomes a font file on disk and is
// imported into a fresh 64-byte image, which must then hold exactly the rows
// of the patch written one by one in file order over its old bytes, size
// included. CR LF line ends must parse as LF does.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "font_patch.h"
#include "fontimport.h"
#include "fuzz_common.h"

namespace {

constexpr size_t kOldSize = 64;
// Inputs that write past this are skipped: they would only make large files.
constexpr size_t kLargestOffset = size_t{1} << 20;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  // The import warns of nearly every input. The fuzzer writes to the stream
  // that stderr named at start-up and the sanitizers to descriptor 2, so
  // pointing stderr elsewhere silences only the import; freopen would change
  // that very stream.
  stderr = std::fopen("/dev/null", "w");
  check(stderr != nullptr, "cannot open /dev/null");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  PatchParser parsed = parse_font_patch(text);
  std::string crlf;
  for (char c : text) crlf += c == '\n' ? std::string_view("\r\n") : std::string_view(&c, 1);
  check(same_parse(parse_font_patch(crlf), parsed), "CR LF parses differently from LF");

  // The old bytes have bit 7 set, which no row has; a gap reads as zeros.
  std::string old(kOldSize, '\0');
  for (size_t i = 0; i < kOldSize; ++i) old[i] = static_cast<char>(0x80 | (i * 37 + 11));
  std::string want = old;
  for (const PatchGlyph& g : fold_in_file_order(parsed.glyphs)) {
    for (size_t r = 0; r < 8 && (g.rows[r] & kRowGiven); ++r) {
      size_t offset = size_t{g.code} * 8 + r;
      if (offset >= kLargestOffset) return 0;
      if (offset >= want.size()) want.resize(offset + 1, '\0');
      want[offset] = static_cast<char>(g.rows[r] & kRowBits);
    }
  }

  // The font file is opened again by name, as zenpo opens it.
  FILE* font = std::tmpfile();
  FILE* rom = std::tmpfile();
  check(font != nullptr && rom != nullptr && std::fwrite(data, 1, size, font) == size &&
            std::fflush(font) == 0 && std::fwrite(old.data(), 1, kOldSize, rom) == kOldSize &&
            std::fflush(rom) == 0,
        "cannot make the font file and the image");
  std::string path = "/dev/fd/" + std::to_string(fileno(font));
  check(patch_text_font(rom, path.c_str()), "the import failed");
  std::string got(want.size() + 1, '\0');
  std::rewind(rom);
  got.resize(std::fread(got.data(), 1, got.size(), rom));
  check(got == want, "the image is not the rows written one by one over the old bytes");
  (void)std::fclose(font);
  (void)std::fclose(rom);
  return 0;
}
