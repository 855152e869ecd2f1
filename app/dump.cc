// zenpo-dump [--png FILE] [ROMFILE [FIRST [LAST]]]: writes the glyphs of a
// ROM image as the font-patch text that zenpo reads, so that a font can be
// seen, edited and patched back, or as a picture.
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console.h"
#include "font_dump.h"
#include "font_io.h"
#include "font_patch.h"
#include "font_png.h"
#include "windows_text.h"

namespace {

// Glyphs read and written at a time.
constexpr uint32_t kBatch = 8192;

// Prints the usage line on standard error; returns the status 1.
int usage_error() {
  (void)std::fflush(stdout);
  (void)std::fputs("usage: zenpo-dump [--png FILE] [ROMFILE [FIRST [LAST]]]\n", stderr);
  return 1;
}

// Reads a character code in hexadecimal, with or without 0x; false unless
// the whole text is one code that a patch can write, 1 to 0xFFFFFFF.
bool parse_code(const char* text, uint32_t& code) {
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
  if (*text == '\0') return false;
  uint32_t value = 0;
  for (; *text; ++text) {
    char c = *text;
    int digit = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
    if (digit < 0) return false;
    value = value * 16 + static_cast<uint32_t>(digit);
    if (value >= kCodeLimit) return false;
  }
  code = value;
  return code >= 1;
}

// True when `file` is open on something that is not a directory.
bool is_readable_file(FILE* file) {
  struct stat info;
  return fstat(fileno(file), &info) == 0 && !S_ISDIR(info.st_mode);
}

// Opens ROMFILE when it is given, or else the image that zenpo would patch,
// named on standard error; null after the error line.
FILE* open_source_rom(const char* path, const char*& name) {
  if (path) {
    name = path;
    FILE* rom = open_for_reading(path);
    if (!rom) report_error("Failed to open ROM image");
    return rom;
  }
  for (const char* candidate : {"SUBSYSCG.ROM", "SUBSYS_C.ROM"}) {
    FILE* rom = open_for_reading(candidate);
    if (rom && is_readable_file(rom)) {
      (void)std::fprintf(stderr, "Source file is the %s\n", candidate);
      name = candidate;
      return rom;
    }
    if (rom) (void)std::fclose(rom);
  }
  report_error("Failed to open 'SUBSYS_C.ROM(V1) or SUBSYS_CG.ROM(V2)' file");
  return nullptr;
}

// The comment that opens the text: where it comes from and how to use it.
std::string dump_heading(const char* name, int64_t size, uint32_t first, uint32_t last,
                         uint32_t end) {
  char text[512];
  (void)std::snprintf(text, sizeof text,
                      "; Font of %s (%lld bytes), codes 0x%X to 0x%X.\n"
                      "; Edit the rows, then apply it with \"zenpo FILE.txt\" in the folder of "
                      "the image.\n"
                      "; Each glyph is \"@\" and its code, then rows 0 to 7 of seven columns, "
                      "'0' clear and '%c' set.\n",
                      name, static_cast<long long>(size), first, last, kSetColumn);
  std::string heading = text;
  if (end <= last) {
    (void)std::snprintf(text, sizeof text,
                        "; Codes from 0x%X on lie past the end of the image: left out.\n", end);
    heading += text;
  }
  return heading;
}

// Writes glyphs `first` to `last` of `rom` to standard output; the status of the run.
int dump_glyphs(FILE* rom, const char* name, uint32_t first, uint32_t last) {
  int64_t size = rom_size(rom);
  if (size < 0) {
    report_error("Failed to read ROM image");
    return 1;
  }
  // Only whole slots: a patch of a part slot would lengthen the image.
  auto end = static_cast<uint32_t>(std::min<int64_t>(size / 8, int64_t{last} + 1));
  std::string text = dump_heading(name, size, first, last, std::max(end, first));
  long high = 0;
  std::vector<uint8_t> bytes;
  for (uint32_t code = first; code < end; code += kBatch) {
    uint32_t count = std::min(kBatch, end - code);
    bytes.resize(size_t{count} * 8);
    if (!read_rom_bytes(rom, int64_t{code} * 8, bytes)) {
      report_error("Failed to read ROM image");
      return 1;
    }
    for (uint32_t i = 0; i < count; ++i)
      high += append_glyph_text(text, code + i, &bytes[size_t{i} * 8]);
    (void)std::fwrite(text.data(), 1, text.size(), stdout);  // checked at the end
    text.clear();
  }
  (void)std::fwrite(text.data(), 1, text.size(), stdout);
  if (high) {
    (void)std::fflush(stdout);
    (void)std::fprintf(stderr,
                       "%s: warning: %ld rows have bit 7 set, which a patch cannot write: "
                       "patched back, they lose it\n",
                       name, high);
  }
  return 0;
}

// Draws glyphs `first` to `last` of `rom` as a PNG file at `png`, each row
// with its bit 7 as a red first column; the status of the run.
int draw_glyphs(FILE* rom, uint32_t first, uint32_t last, const char* png) {
  int64_t size = rom_size(rom);
  auto end = static_cast<uint32_t>(std::min<int64_t>(size / 8, int64_t{last} + 1));
  std::vector<PictureGlyph> glyphs(end > first ? end - first : 0);
  std::vector<uint8_t> bytes(glyphs.size() * 8);
  if (size < 0 || !read_rom_bytes(rom, int64_t{first} * 8, bytes)) {
    report_error("Failed to read ROM image");
    return 1;
  }
  for (size_t i = 0; i < glyphs.size(); ++i) {
    glyphs[i].code = first + static_cast<uint32_t>(i);
    std::memcpy(glyphs[i].rows, &bytes[i * 8], sizeof glyphs[i].rows);
  }
  Picture picture;
  if (!draw_glyph_picture(glyphs, 0x80, picture)) {
    (void)std::fprintf(stderr, "zenpo-dump: %u rows of 16 glyphs at most fit one picture\n",
                       kMostPictureRows);
    return 1;
  }
  if (!write_whole_file(png, encode_png(picture))) {
    report_error("Failed to write picture");
    return 1;
  }
  return 0;
}

}  // namespace

// The whole run, with the arguments in UTF-8 on every system.
int run_dump(int argc, char** argv) {
  uint32_t first = 1;
  uint32_t last = 0xFF;
  const char* png = nullptr;
  if (argc > 2 && std::strcmp(argv[1], "--png") == 0) {
    png = argv[2];
    argv += 2;
    argc -= 2;
  }
  if (argc > 4 || (argc > 1 && argv[1][0] == '-')) return usage_error();
  if (argc > 2 && !parse_code(argv[2], first)) return usage_error();
  if (argc == 3) last = std::max(last, first);
  if (argc > 3 && (!parse_code(argv[3], last) || last < first)) return usage_error();
  const char* name = nullptr;
  FILE* rom = open_source_rom(argc > 1 ? argv[1] : nullptr, name);
  if (!rom) return 1;
  int status = png ? draw_glyphs(rom, first, last, png) : dump_glyphs(rom, name, first, last);
  (void)std::fclose(rom);  // read only: a failed close loses nothing
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    report_error("Failed to write standard output");
    status = 1;
  }
  return status;
}

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return run_with_utf8_arguments(argc, argv, run_dump); }
#else
int main(int argc, char** argv) { return run_dump(argc, argv); }
#endif
