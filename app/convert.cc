// zenpo-convert [-u] [-m MAP] [--drop left|right] [--png FILE] FONTFILE:
// writes a PSF, BDF or hex font as the font-patch text that zenpo reads, or
// with --png a picture of the glyphs that the patch would hold.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "console.h"
#include "font_dump.h"
#include "font_formats.h"
#include "font_io.h"
#include "font_png.h"
#include "font_select.h"
#include "windows_text.h"

namespace {

const char kUsage[] =
    "usage: zenpo-convert [-u] [-m MAP] [--drop left|right] [--png FILE] FONTFILE\n";

// What the command line asks for.
struct Options {
  bool unicode = false;
  const char* map_text = "01-FF";
  std::vector<CodeRange> map = default_code_map();
  DropSide drop = DropSide::right;
  const char* png = nullptr;
  const char* path = nullptr;
};

// Prints `why` when there is one, then the usage line; returns the status 1.
int usage_error(const std::string& why = "") {
  (void)std::fflush(stdout);
  if (!why.empty()) (void)std::fprintf(stderr, "zenpo-convert: %s\n", why.c_str());
  (void)std::fputs(kUsage, stderr);
  return 1;
}

// Reads the arguments into `o`; false after the usage line.
bool parse_options(int argc, char** argv, Options& o, int& status) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    bool has_value = i + 1 < argc;
    if (arg == "-u") {
      o.unicode = true;
    } else if (arg == "-m" && has_value) {
      std::string error;
      o.map_text = argv[++i];
      if (!parse_code_map(o.map_text, o.map, error)) return status = usage_error(error), false;
    } else if (arg == "--drop" && has_value &&
               (std::strcmp(argv[i + 1], "left") == 0 || std::strcmp(argv[i + 1], "right") == 0)) {
      o.drop = std::strcmp(argv[++i], "left") == 0 ? DropSide::left : DropSide::right;
    } else if (arg == "--png" && has_value) {
      o.png = argv[++i];
    } else if (arg.empty() || arg[0] == '-' || o.path) {
      return status = usage_error(), false;
    } else {
      o.path = argv[i];
    }
  }
  if (!o.path) return status = usage_error(), false;
  return true;
}

// Prints "PATH[:LINE]: error: TEXT".
void report_font_error(const char* path, uint64_t line, const std::string& text) {
  (void)std::fflush(stdout);
  if (line) {
    (void)std::fprintf(stderr, "%s:%llu: error: %s\n", path, static_cast<unsigned long long>(line),
                       text.c_str());
  } else {
    (void)std::fprintf(stderr, "%s: error: %s\n", path, text.c_str());
  }
}

// Reads and parses the font file; a failed Font after its error line.
Font load_font(const Options& o) {
  Font font;
  FILE* file = open_for_reading(o.path);
  if (!file) return fail_font(font, 0, std::string("cannot open it: ") + std::strerror(errno));
  std::vector<char> bytes;
  bool read = read_font_bytes(file, bytes);
  int saved = errno;
  (void)std::fclose(file);  // read only: a failed close loses nothing
  if (!read) return fail_font(font, 0, std::string("cannot read it: ") + std::strerror(saved));
  return parse_font(std::string_view(bytes.data(), bytes.size()), o.unicode);
}

const char* column_name(const PatchPlan& plan) {
  return plan.dropped == 0x80 ? "leftmost" : "rightmost";
}

// The comment that opens the patch: where it comes from and what it holds.
std::string heading(const Options& o, const Font& font, const PatchPlan& plan) {
  std::string text = std::string("; Converted from ") + o.path + ": " + font.format + ", " +
                     std::to_string(font.count) + " glyphs of " + std::to_string(font.width) +
                     "x8" + (font.unicode_table ? ", with a Unicode table" : "") + ".\n";
  text += std::string("; Codes ") + (o.unicode && font.unicode_table ? "by code point, " : "") +
          "-m " + o.map_text + ": " + std::to_string(plan.glyphs.size()) + " glyphs; " +
          std::to_string(plan.left_out) + " of the font left out.\n";
  if (plan.dropped) {
    text += std::string("; The ") + column_name(plan) +
            " column of each glyph is dropped: the image has 7 columns.\n";
  }
  text += "; Apply it with \"zenpo FILE.txt\" in the folder of the image.\n";
  return text;
}

// The patch text of `plan`.
std::string patch_text(const Options& o, const Font& font, const PatchPlan& plan) {
  std::string text = heading(o, font, plan);
  for (const FontGlyph& glyph : plan.glyphs) {
    uint8_t rows[8];
    for (int r = 0; r < 8; ++r) rows[r] = image_row(glyph.rows[r], font.width, o.drop);
    append_glyph_text(text, glyph.code, rows);
  }
  return text;
}

// Writes the picture of `plan` to the --png file; the status of the run.
int write_picture(const Options& o, const PatchPlan& plan) {
  std::vector<PictureGlyph> glyphs;
  for (const FontGlyph& g : plan.glyphs) {
    PictureGlyph picture_glyph{g.code, {}};
    std::memcpy(picture_glyph.rows, g.rows, sizeof picture_glyph.rows);
    glyphs.push_back(picture_glyph);
  }
  Picture picture;
  if (!draw_glyph_picture(glyphs, plan.dropped, picture)) {
    report_font_error(o.png, 0, "the glyphs fill more than 1024 rows of 16: choose fewer with -m");
    return 1;
  }
  std::string png = encode_png(picture);
  if (png.empty() || !write_whole_file(o.png, png)) {
    report_font_error(o.png, 0,
                      std::string("cannot write it: ") +
                          (png.empty() ? "the encoder failed" : std::strerror(errno)));
    return 1;
  }
  return 0;
}

}  // namespace

// The whole run, with the arguments in UTF-8 on every system.
int run_convert(int argc, char** argv) {
  Options o;
  int status = 0;
  if (!parse_options(argc, argv, o, status)) return status;
  Font font = load_font(o);
  for (const FontMessage& w : font.warnings) report_warning(o.path, w.line, w.text);
  if (font.failed) {
    report_font_error(o.path, font.error.line, font.error.text);
    return 1;
  }
  PatchPlan plan = plan_patch(font, o.map, o.drop);
  for (const std::string& w : plan.warnings) report_warning(o.path, 0, w);
  if (plan.lost_pixels) {
    report_warning(o.path, 0,
                   std::to_string(plan.lost_pixels) + " glyphs lose set pixels of their " +
                       column_name(plan) + " column, which the image has no room for");
  }
  if (o.png) return write_picture(o, plan);
  std::string text = patch_text(o, font, plan);
  (void)std::fwrite(text.data(), 1, text.size(), stdout);  // checked below
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    report_error("Failed to write standard output");
    return 1;
  }
  return 0;
}

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return run_with_utf8_arguments(argc, argv, run_convert); }
#else
int main(int argc, char** argv) { return run_convert(argc, argv); }
#endif
