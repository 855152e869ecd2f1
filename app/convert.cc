// zenpo-convert [-u] [-m MAP]... [--drop left|right] [-o FILE | --png FILE]
// [--text STRING] [SHEET OPTIONS] FONTFILE: writes a PSF, BDF or hex font, or
// a picture of glyphs, as the font-patch text that zenpo reads, or as a
// picture, a BDF, PSF or hex font of the glyphs that the patch would hold.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "codes.h"
#include "console.h"
#include "files.h"
#include "font_formats.h"
#include "font_select.h"
#include "font_writers.h"
#include "glyph_picture.h"
#include "output_file.h"
#include "patch_writer.h"
#include "picture_reader.h"
#include "windows_text.h"

namespace {

constexpr char kTool[] = "zenpo-convert";
constexpr char kUsage[] =
    "usage: zenpo-convert [-u] [-m MAP]... [--drop left|right] [-o FILE | --png FILE]\n"
    "                     [--text STRING] [SHEET OPTIONS] FONTFILE\n";

// What a picture says of its red column.
constexpr char kLegend[] = "RED COLUMN: DROPPED, AS THE IMAGE HAS 7 COLUMNS";

// The options that say how a sheet picture made elsewhere lies.
constexpr const char* kSheetOptions[] = {"--cell",  "--margin",  "--gap",
                                         "--scale", "--columns", "--first"};

// What --help prints after the usage line.
constexpr char kHelp[] =
    "\n"
    "Converts a bitmap font of another program into a font patch for zenpo.\n"
    "FONTFILE is a PSF 1 or 2 console font (gzip'd too), a BDF font, a hex font\n"
    "or a PNG picture: one that zenpo-dump or zenpo-convert drew (and a paint\n"
    "program changed), or a sheet of glyphs in a grid, 16 8x8 cells a row from\n"
    "code 0 unless the sheet options say otherwise. Glyphs must be at most 8\n"
    "rows high and 8 columns wide.\n"
    "\n"
    "  -m MAP        take the glyphs of MAP: a range FIRST-LAST or a code, in\n"
    "                hexadecimal (0x optional), with =TARGET to move it; give -m\n"
    "                again for each further range. Without -m: 01-FF in place\n"
    "  -u            take a PSF glyph's codes from its Unicode table\n"
    "  --drop left|right\n"
    "                the column that an 8-column glyph loses; by default the one\n"
    "                with fewer set pixels, the right one on a tie, the left one\n"
    "                when neither has any\n"
    "  -o FILE       write into FILE instead of standard output ('-' is standard\n"
    "                output), as its extension asks: a PNG picture (.png), a BDF\n"
    "                (.bdf), PSF (.psf) or hex (.hex) font, else the patch\n"
    "  --png FILE    write a PNG picture of the glyphs into FILE\n"
    "  --text STRING draw STRING under the picture's glyphs, as the machine shows it\n"
    "  --help        show this text\n"
    "  --version     show the version\n"
    "\n"
    "Sheet options, for a picture that the tools did not draw:\n"
    "  --cell WxH    its cells, 8x8 by default\n"
    "  --margin XxY  the border around its grid, in pixels (N for NxN; 0)\n"
    "  --gap XxY     the space between its cells, in pixels (N for NxN; 0)\n"
    "  --scale N     the pixels of the picture that make one of a glyph (1)\n"
    "  --columns N   its cells a row (16)\n"
    "  --first CODE  the code of its first cell, in hexadecimal (0)\n"
    "\n"
    "With FIRST-LAST=TARGET the glyph of FIRST lands on TARGET and the others\n"
    "follow it in order; a range without =TARGET stays at its own codes. Where\n"
    "two ranges reach one code, the earlier -m wins. Also accepted, quoted from\n"
    "the shell: '>' for '=', and ranges joined by ',' in one -m.\n"
    "\n"
    "No file is written over the font being read, nor over an existing file of\n"
    "another kind; a file is replaced only once all of it is written.\n"
    "\n"
    "Example: ASCII in place and half-width katakana at A1 to DF:\n"
    "  zenpo-convert -u -m 20-7E -m FF61-FF9F=A1 -o font.txt font.psf.gz\n"
    "  zenpo font.txt\n";

// What the command line asks for.
struct Options {
  bool unicode = false;
  std::string map_text;  // the -m options as given, for the heading
  std::vector<CodeRange> map;
  DropSide drop = DropSide::fewest;
  const char* output = "-";
  bool output_given = false;  // by -o or --png
  OutputKind kind = OutputKind::patch_text;
  const char* text = nullptr;  // --text
  SheetOptions sheet;
  const char* path = nullptr;
};

// Prints "zenpo-convert: WHY", then the usage line; returns false.
bool usage_error(const std::string& why) {
  report_usage_error(kTool, why, kUsage);
  return false;
}

// What the output option `option` writes into `file`: the one place that
// chooses an output's kind.
OutputKind output_kind(const std::string& option, const char* file) {
  return option == "--png" ? OutputKind::png : output_kind_of(file);
}

// True when `arg` is one of the options of a sheet picture.
bool is_sheet_option(const std::string& arg) {
  return std::any_of(std::begin(kSheetOptions), std::end(kSheetOptions),
                     [&](const char* name) { return arg == name; });
}

// Takes FONTFILE `arg`; false after the error line when one was given already.
bool take_path(Options& o, const char* arg) {
  if (!o.path) return o.path = arg, true;
  std::vector<CodeRange> map;
  std::string error;
  // PowerShell passes "-m 20-7E,41-5A=61" as two arguments: the second looks like a map.
  bool split_map = std::strpbrk(o.path, "-=>") != nullptr && parse_code_map(o.path, map, error);
  return usage_error("'" + std::string(arg) + "' is a second FONTFILE after '" + o.path + "'" +
                     (split_map ? "; give each range of a map its own -m" : ""));
}

// What option `arg` takes, for the error when its value is missing.
const char* what_it_needs(const std::string& arg) {
  if (arg == "-m") return "a MAP";
  if (arg == "--drop") return "left or right";
  if (arg == "--text") return "a STRING";
  return is_sheet_option(arg) ? "a value" : "a FILE";
}

// Takes the output option `arg` (-o or --png) naming `file`; false after the
// error line.
bool take_output(Options& o, const std::string& arg, const char* file) {
  if (o.output_given) return usage_error("-o and --png both name an output: give one");
  o.output_given = true;
  o.output = file;
  o.kind = output_kind(arg, file);
  return true;
}

// Reads the option `arg` with its `value` (null when there is none) into
// `o`, moving `i` past the value; false after the error line.
bool take_option(Options& o, const std::string& arg, const char* value, int& i) {
  if (!value) return usage_error(arg + " needs " + what_it_needs(arg));
  ++i;
  std::string error;
  if (arg == "-m") {
    if (!parse_code_map(value, o.map, error)) return usage_error("-m: " + error);
    o.map_text += (o.map_text.empty() ? "-m " : " -m ") + std::string(value);
  } else if (arg == "--drop") {
    if (!parse_drop_side(value, o.drop, error)) return usage_error(error);
  } else if (arg == "--text") {
    o.text = value;
  } else if (is_sheet_option(arg)) {
    if (!parse_sheet_option(arg, value, o.sheet, error)) return usage_error(error);
  } else {
    return take_output(o, arg, value);
  }
  return true;
}

// Reads the arguments into `o`; false after the error line and the usage
// line, or after --help with `help` set.
bool parse_options(int argc, char** argv, Options& o, bool& help) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (arg == "--help" || arg == "-h") return help = true, false;
    if (arg == "-u") {
      o.unicode = true;
    } else if (arg == "-m" || arg == "--drop" || arg == "-o" || arg == "--png" || arg == "--text" ||
               is_sheet_option(arg)) {
      if (!take_option(o, arg, value, i)) return false;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return usage_error("unknown option '" + arg + "'");
    } else if (!take_path(o, argv[i])) {
      return false;
    }
  }
  if (!o.path) return usage_error("no FONTFILE given");
  std::string text_error = sample_text_error(o.text, o.kind == OutputKind::png);
  if (!text_error.empty()) return usage_error(text_error);
  return true;
}

// Reads the font file into `bytes`, learning which file it is in `source`;
// false after the error line.
bool load_font(const Options& o, std::vector<char>& bytes, FileIdentity& source) {
  FILE* file = open_for_reading(o.path);
  if (!file) return report_cannot(kTool, o.path, "open");
  source = identity_of(file);
  bool read = read_stream(file, bytes);
  int saved = errno;
  (void)std::fclose(file);  // read only: a failed close loses nothing
  errno = saved;
  return read || report_cannot(kTool, o.path, "read");
}

// The comment that opens the patch: where it comes from and what it holds.
std::string heading(const Options& o, const Font& font, const PatchPlan& plan) {
  std::string text =
      std::string("; Converted from ") + o.path + ": " + font.format + ", " +
      std::to_string(font.count) + " glyphs of " + std::to_string(font.width) + "x" +
      std::to_string(font.height) + (font.unicode_table ? ", with a Unicode table" : "") +
      (font.light_ink ? ", light on dark paper (the commoner colour of its cells)" : "") + ".\n";
  text += std::string("; Codes ") + (o.unicode && font.unicode_table ? "by code point, " : "") +
          o.map_text + ": " + std::to_string(plan.glyphs.size()) + " glyphs; " +
          std::to_string(plan.left_out) + " of the font left out.\n";
  if (plan.dropped) {
    // Why this column: --drop, fewer set pixels, or a tie.
    uint32_t dropped = plan.dropped == 0x80 ? plan.left_pixels : plan.right_pixels;
    uint32_t kept = plan.left_pixels + plan.right_pixels - dropped;
    std::string counts = std::to_string(dropped) + " set pixels against " + std::to_string(kept);
    std::string why = o.drop != DropSide::fewest ? ", as --drop asks (" + counts + ")"
                      : font.marked != 0         ? ", as the picture marks it red (" + counts + ")"
                      : dropped < kept ? ", the one with fewer set pixels (" + counts + ")"
                      : kept == 0      ? ", as neither has a set pixel"
                                       : ", as both have " + std::to_string(kept) + " set pixels";
    text += std::string("; The ") + dropped_column(plan) + " column of each glyph is dropped" +
            why + ": the image has 7 columns.\n";
  }
  text += "; Apply it with \"zenpo FILE.txt\" in the folder of the image.\n";
  return text;
}

// The patch text of `plan`.
std::string patch_text(const Options& o, const Font& font, const PatchPlan& plan) {
  std::string text = heading(o, font, plan);
  for (const FontGlyph& glyph : plan.glyphs) {
    uint8_t rows[8];
    for (int r = 0; r < 8; ++r) rows[r] = image_row(glyph.rows[r], plan.dropped);
    append_glyph_text(text, glyph.code, rows);
  }
  return text;
}

// The glyphs of `plan` as the image will hold them: seven columns, the
// first column of eight blank.
std::vector<FontGlyph> image_glyphs(const PatchPlan& plan) {
  std::vector<FontGlyph> glyphs = plan.glyphs;
  for (FontGlyph& glyph : glyphs) {
    for (uint8_t& row : glyph.rows) row = image_row(row, plan.dropped);
  }
  return glyphs;
}

// The picture, or the BDF, PSF or hex font, of `plan` in `data`, as
// `o.kind` asks; false after the error line.
bool export_plan(const Options& o, const PatchPlan& plan, std::string& data) {
  std::string why;
  if (o.kind == OutputKind::png) {
    Picture picture;
    PictureText text{o.text ? o.text : "", plan.dropped ? kLegend : ""};
    if (!draw_glyph_picture(picture_glyphs(plan.glyphs), plan.dropped, picture, text)) {
      why = "the glyphs fill more than 1024 rows of 16: choose fewer with -m";
    } else {
      data = encode_png(picture);
      if (data.empty()) why = "cannot write it: the PNG encoder failed";
    }
  } else if (o.kind == OutputKind::bdf) {
    data = write_bdf_font(image_glyphs(plan), o.path);
  } else if (o.kind == OutputKind::hex) {
    data = write_hex_font(image_glyphs(plan));
  } else {
    data = write_psf_font(image_glyphs(plan), why);
  }
  if (!why.empty()) report_file_error(kTool, o.output, 0, why);
  return why.empty();
}

// The font in `bytes`: a picture when it is a PNG, else a PSF, BDF or hex
// font; failed too when sheet options were given for a font that is no
// picture.
Font read_font(const Options& o, std::string_view bytes) {
  if (bytes.substr(0, 8) == "\x89PNG\r\n\x1a\n") return read_glyph_picture(bytes, o.sheet);
  Font font = parse_font(bytes, o.unicode);
  if (o.sheet.given && !font.failed) {
    font.failed = true;
    font.error = {0, "the sheet options read a PNG picture, and this is " + font.format};
  }
  return font;
}

}  // namespace

// The whole run, with the arguments in UTF-8 on every system.
int run_convert(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    return print_help(kTool, " " ZENPO_VERSION "\n");  // "zenpo-convert 0.2.0"
  }
  Options o;
  bool help = false;
  if (!parse_options(argc, argv, o, help)) return help ? print_help(kUsage, kHelp) : 1;
  FileIdentity source;
  std::vector<char> bytes;
  if (!load_font(o, bytes, source)) return 1;
  Font font = read_font(o, std::string_view(bytes.data(), bytes.size()));
  for (const FontMessage& w : font.warnings) report_warning(o.path, w.line, w.text);
  if (font.failed) {
    report_file_error(kTool, o.path, font.error.line, font.error.text);
    return 1;
  }
  // A picture's red column is the one its image drops, unless --drop says.
  DropSide drop = o.drop != DropSide::fewest ? o.drop
                  : font.marked == 0x80      ? DropSide::left
                  : font.marked == 0x01      ? DropSide::right
                                             : DropSide::fewest;
  if (o.map.empty()) {
    // The tools' own picture shows the codes it holds; other fonts, a sheet
    // included, give 01-FF, so that the image never grows.
    bool own = font.format == "PNG picture";
    o.map = own ? std::vector<CodeRange>{{1, kCodeLimit - 1, 1}} : default_code_map();
    o.map_text = own ? "-m 01-FFFFFFF" : "-m 01-FF";
  }
  PatchPlan plan = plan_patch(font, o.map, drop);
  for (const std::string& w : plan.warnings) report_warning(o.path, 0, w);
  std::string data;
  if (o.kind == OutputKind::patch_text) {
    data = patch_text(o, font, plan);
  } else if (!export_plan(o, plan, data)) {
    return 1;
  }
  return end_tool_run(kTool, write_output(kTool, o.output, data, o.kind, source) ? 0 : 1);
}

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return run_with_utf8_arguments(argc, argv, run_convert); }
#else
int main(int argc, char** argv) { return run_convert(argc, argv); }
#endif
