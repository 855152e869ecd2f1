// zenpo-dump [-o FILE | --png FILE] [--text STRING] [ROMFILE [FIRST [LAST]]]:
// writes the glyphs of a ROM image as the font-patch text that zenpo reads,
// so that a font can be seen, edited and patched back, or as a picture, a
// BDF, PSF or hex font, as the output's name asks.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "codes.h"
#include "console.h"
#include "files.h"
#include "font_writers.h"
#include "glyph_picture.h"
#include "interrupts.h"
#include "output_file.h"
#include "patch_writer.h"
#include "rom_image.h"
#include "rom_recovery.h"
#include "windows_text.h"

namespace {

// Glyphs read at a time.
constexpr uint32_t kBatch = 8192;

constexpr char kTool[] = "zenpo-dump";
constexpr char kUsage[] =
    "usage: zenpo-dump [-o FILE | --png FILE] [--text STRING] [ROMFILE [FIRST [LAST]]]\n";

// What --help prints.
constexpr char kHelp[] =
    "\n"
    "Writes the glyphs of a ROM image as the font patch that zenpo reads, so that\n"
    "the font can be seen, edited and patched back.\n"
    "\n"
    "  ROMFILE     the image to read; without it, the one that zenpo would patch\n"
    "              here: SUBSYSCG.ROM, else SUBSYS_C.ROM\n"
    "  FIRST LAST  the codes to write, in hexadecimal (0x optional), from 1 up to\n"
    "              FFFFFFF; 1 to FF by default, and LAST is FF or FIRST without it\n"
    "  -o FILE     write into FILE instead of standard output ('-' is standard\n"
    "              output), as its extension asks: a PNG picture (.png), a BDF\n"
    "              (.bdf), PSF (.psf) or hex (.hex) font, else the patch\n"
    "  --png FILE  write a PNG picture of the glyphs into FILE: 16 a row, codes\n"
    "              along the edges, bit 7 of each row as a red first column\n"
    "  --text STRING\n"
    "              draw STRING under the picture's glyphs, as the machine shows it\n"
    "  --help      show this text\n"
    "  --version   show the version\n"
    "\n"
    "No file is written over the image being read, nor over an existing file of\n"
    "another kind; a file is replaced only once all of it is written.\n"
    "\n"
    "Example, in the folder of the image:\n"
    "  zenpo-dump -o font.txt      (then edit font.txt)\n"
    "  zenpo font.txt\n";

// What the command line asks for.
struct Options {
  const char* output = "-";
  OutputKind kind = OutputKind::patch_text;
  const char* text = nullptr;  // --text
  const char* rom = nullptr;
  uint32_t first = 1;
  uint32_t last = 0xFF;
};

// Prints "zenpo-dump: WHY", then the usage line; returns the status 1.
int usage_error(const std::string& why) {
  report_usage_error(kTool, why, kUsage);
  return 1;
}

// Reads the character code `text` in hexadecimal, with or without 0x, named
// `what` in the error; the error's text, empty when it is a code that a
// patch can write, 1 to 0xFFFFFFF.
std::string parse_code(const char* what, const char* text, uint32_t& code) {
  std::string_view rest = text;
  uint64_t value = 0;
  if (!read_hex_code(rest, value) || !rest.empty())
    return std::string(what) + " '" + text + "' is not a hexadecimal code";
  code = static_cast<uint32_t>(std::min<uint64_t>(value, kCodeLimit));
  if (value == 0) return std::string(what) + " " + text + " cannot be patched: codes start at 1";
  if (value >= kCodeLimit)
    return std::string(what) + " " + text + " is past the largest code 0xFFFFFFF";
  return "";
}

// Reads ROMFILE, FIRST and LAST, each null when not given, into `o`; the
// error's text, empty when they are good.
std::string parse_positional(const char* const (&positional)[3], Options& o) {
  o.rom = positional[0];
  std::string error;
  if (positional[1]) error = parse_code("FIRST", positional[1], o.first);
  if (error.empty() && positional[2]) error = parse_code("LAST", positional[2], o.last);
  if (!positional[2]) o.last = std::max(o.last, o.first);
  if (error.empty() && o.last < o.first)
    error = std::string("LAST ") + positional[2] + " is below FIRST " + positional[1];
  return error;
}

// Reads the arguments into `o`; the error's text, empty when they are good.
std::string parse_options(int argc, char** argv, Options& o) {
  const char* positional[3] = {};
  int count = 0;
  const char* output = nullptr;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "-o" || arg == "--png") {
      if (i + 1 == argc) return arg + " needs a FILE";
      if (output) return "-o and --png both name an output: give one";
      output = argv[++i];
      o.kind = arg == "--png" ? OutputKind::png : output_kind_of(output);
    } else if (arg == "--text") {
      if (i + 1 == argc) return "--text needs a STRING";
      o.text = argv[++i];
    } else if (arg.size() > 1 && arg[0] == '-') {
      return "unknown option '" + arg + "'";
    } else if (count == 3) {
      return "too many arguments: '" + arg + "' after LAST";
    } else {
      positional[count++] = argv[i];
    }
  }
  if (output) o.output = output;
  std::string text_error = sample_text_error(o.text, o.kind == OutputKind::png);
  if (!text_error.empty()) return text_error;
  return parse_positional(positional, o);
}

// Prints "zenpo-dump: PATH: cannot WHAT it: REASON" for errno; returns the status 1.
int cannot(const char* what, const char* path) {
  (void)report_cannot(kTool, path, what);
  return 1;
}

// Opens ROMFILE when it is given, or else the image that zenpo would patch,
// named on standard error; null after the error line.
FILE* open_source_rom(const char* path, const char*& name) {
  if (path) {
    name = path;
    FILE* rom = open_for_reading(path);
    if (!rom) (void)cannot("open", path);
    return rom;
  }
  int which = 0;
  int reasons[2] = {};
  FILE* rom = open_target_rom(which, reasons);
  if (rom) {
    name = kRomNames[which];
    (void)std::fprintf(stderr, "Source file is the %s\n", name);
    return rom;
  }
  report_tool_error(kTool, std::string("no ROMFILE given, and neither ") + kRomNames[0] + " nor " +
                               kRomNames[1] +
                               " opens for update here: " + std::strerror(reasons[1]));
  if (reasons[0] != ENOENT) {
    // The first image is there but read-only, a folder or out of reach.
    errno = reasons[0];
    (void)cannot("open", kRomNames[0]);
  }
  return nullptr;
}

// The comment that opens the text: where it comes from and how to use it.
std::string dump_heading(const char* name, int64_t size, uint32_t first, uint32_t last,
                         uint32_t end) {
  std::string heading = std::string("; Font of ") + name + " (" + std::to_string(size) +
                        " bytes), codes " + hex_code(first) + " to " + hex_code(last) + ".\n" +
                        "; Edit the rows, then apply it with \"zenpo FILE.txt\" in the folder of "
                        "the image.\n"
                        "; Each glyph is \"@\" and its code, then rows 0 to 7 of seven columns, "
                        "'0' clear and '" +
                        kSetColumn + "' set.\n";
  if (end <= last)
    heading += "; Codes from " + hex_code(end) + " on lie past the end of the image: left out.\n";
  return heading;
}

// The end of the codes up to `last` that have a whole slot in an image of
// `size` bytes: a patch of a part slot would lengthen the image.
uint32_t whole_slots_end(int64_t size, uint32_t last) {
  return static_cast<uint32_t>(std::min<int64_t>(size / 8, int64_t{last} + 1));
}

// Hands `take` the code and the eight bytes of each slot from `first` up to
// `end`, reading a batch at a time; false after the error line, or when an
// interrupt came (the output is then removed and the run ends).
bool read_slots(FILE* rom, const char* name, uint32_t first, uint32_t end,
                const std::function<void(uint32_t code, const uint8_t* rows)>& take) {
  std::vector<uint8_t> bytes;
  for (uint32_t code = first; code < end; code += kBatch) {
    uint32_t count = std::min(kBatch, end - code);
    bytes.resize(size_t{count} * 8);
    if (!read_rom_bytes(rom, int64_t{code} * 8, bytes)) return report_cannot(kTool, name, "read");
    if (held_interrupt()) return false;
    for (uint32_t i = 0; i < count; ++i) take(code + i, &bytes[size_t{i} * 8]);
  }
  return true;
}

// Writes glyphs `first` to `last` of `rom` to `out`; the status of the run.
int dump_glyphs(FILE* rom, const char* name, uint32_t first, uint32_t last, FILE* out) {
  int64_t size = stream_size(rom);
  if (size < 0) return cannot("read", name);
  uint32_t end = whole_slots_end(size, last);
  std::string text = dump_heading(name, size, first, last, std::max(end, first));
  // Out a glyph at a time, through the stream's buffer; a failed write shows
  // in its error flag at the end.
  (void)std::fwrite(text.data(), 1, text.size(), out);
  long high = 0;
  bool read = read_slots(rom, name, first, end, [&](uint32_t code, const uint8_t* rows) {
    text.clear();
    high += append_glyph_text(text, code, rows);
    (void)std::fwrite(text.data(), 1, text.size(), out);
  });
  if (!read) return 1;
  if (high) {
    report_warning(name, 0,
                   std::to_string(high) +
                       " rows have bit 7 set, which a patch cannot write: patched back, they "
                       "lose it");
  }
  return 0;
}

// Reads glyphs `first` to `last` of `rom` into `glyphs`; the status of the run.
int read_glyphs(FILE* rom, const char* name, uint32_t first, uint32_t last,
                std::vector<FontGlyph>& glyphs) {
  int64_t size = stream_size(rom);
  if (size < 0) return cannot("read", name);
  bool read = read_slots(rom, name, first, whole_slots_end(size, last),
                         [&](uint32_t code, const uint8_t* rows) {
                           glyphs.push_back({code, static_cast<uint32_t>(glyphs.size()), {}});
                           std::memcpy(glyphs.back().rows, rows, sizeof glyphs.back().rows);
                         });
  return read ? 0 : 1;
}

// Writes glyphs `first` to `last` of `rom` as the picture or font that
// `o.kind` names into `data`, each row's bit 7 in the first column; the
// status of the run.
int export_glyphs(FILE* rom, const char* name, const Options& o, std::string& data) {
  std::vector<FontGlyph> glyphs;
  if (read_glyphs(rom, name, o.first, o.last, glyphs) != 0) return 1;
  std::string error;
  if (o.kind == OutputKind::png) {
    Picture picture;
    if (!draw_glyph_picture(picture_glyphs(glyphs), 0x80, picture,
                            {o.text ? o.text : "", kBitSevenLegend})) {
      report_tool_error(
          kTool, std::to_string(kMostPictureRows) + " rows of 16 glyphs at most fit one picture");
      return 1;
    }
    data = encode_png(picture);
  } else if (o.kind == OutputKind::bdf) {
    data = write_bdf_font(glyphs, name);
  } else if (o.kind == OutputKind::hex) {
    data = write_hex_font(glyphs);
  } else {
    data = write_psf_font(glyphs, error);
  }
  if (error.empty()) return 0;
  report_file_error(kTool, o.output, 0, error);
  return 1;
}

}  // namespace

// The whole run, with the arguments in UTF-8 on every system.
int run_dump(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    return print_help(kUsage, kHelp);
  }
  if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
    return print_help(kTool, " " ZENPO_VERSION "\n");  // "zenpo-dump 0.2.0"
  }
  Options o;
  std::string error = parse_options(argc, argv, o);
  if (!error.empty()) return usage_error(error);
  const char* name = nullptr;
  FILE* rom = open_source_rom(o.rom, name);
  if (!rom) return 1;
  // Shared with other readers, so that a zenpo run writing the image is
  // waited for rather than shown half done; one that did not finish is put
  // back before the image is shown.
  bool whole = lock_and_recover(rom, name, false, kTool);
  OutputFile out;
  int status = 1;
  if (whole && open_output(kTool, o.output, o.kind, identity_of(rom), out)) {
    std::string data;
    status = o.kind == OutputKind::patch_text ? dump_glyphs(rom, name, o.first, o.last, out.file)
                                              : export_glyphs(rom, name, o, data);
    (void)std::fwrite(data.data(), 1, data.size(), out.file);
    if (status != 0) {
      discard_output(out);  // a failed run leaves no output behind it
    } else if (!close_output(kTool, out)) {
      status = 1;
    }
  }
  (void)std::fclose(rom);  // read only: a failed close loses nothing
  return end_tool_run(kTool, status);
}

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return run_with_utf8_arguments(argc, argv, run_dump); }
#else
int main(int argc, char** argv) { return run_dump(argc, argv); }
#endif
