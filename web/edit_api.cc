#include "edit_api.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "codes.h"
#include "font_formats.h"
#include "font_select.h"
#include "font_writers.h"
#include "glyph_picture.h"
#include "patch_parser.h"
#include "patch_writer.h"
#include "picture_reader.h"

namespace {

// The largest image the page holds: it keeps two copies in 32-bit memory.
constexpr uint32_t kMostImageBytes = uint32_t{512} << 20;

// The codes that Export writes as a picture or font, as zenpo-dump -o does.
constexpr uint32_t kExportFirst = 1, kExportLast = 0xFF;

// What the module holds between calls.
struct State {
  std::vector<uint8_t> image;
  std::vector<uint8_t> opened;  // the image as opened or last saved
  std::vector<uint32_t> import_codes;
  std::vector<uint8_t> import_rows;
  std::string output;
  std::string message;
};

// The one state of the page.
State& state() {
  static State s;
  return s;
}

// Adds the warning line that the tools print for `text` of `name`.
void add_warning(const std::string& name, uint64_t line, const std::string& text) {
  std::string& m = state().message;
  m += name + (line ? ":" + std::to_string(line) : "") + ": warning: " + text + "\n";
}

// Sets the error line that `tool` prints for `text` of `name` (no name:
// the tool's own error); returns -1.
int set_error(const char* tool, const std::string& name, uint64_t line, const std::string& text) {
  std::string where = name.empty() ? "" : name + (line ? ":" + std::to_string(line) : "") + ": ";
  state().message += std::string(tool) + ": " + where + text + "\n";
  return -1;
}

// Reads the map textbox, ranges separated by blanks, into `map`; false
// after the usage error.
bool read_map(const char* text, std::vector<CodeRange>& map) {
  std::string_view rest = text ? text : "";
  std::string error;
  while (!rest.empty()) {
    size_t start = rest.find_first_not_of(" \t");
    if (start == std::string_view::npos) break;
    rest.remove_prefix(start);
    std::string_view word = rest.substr(0, rest.find_first_of(" \t"));
    rest.remove_prefix(word.size());
    if (!parse_code_map(word, map, error)) {
      set_error("zenpo-convert", "", 0, "-m: " + error);
      return false;
    }
  }
  return true;
}

// Reads the drop textbox into `drop`; false after the usage error.
bool read_drop(const char* text, DropSide& drop) {
  std::string value = text ? text : "";
  value.erase(0, value.find_first_not_of(' '));
  value.erase(value.find_last_not_of(' ') + 1);
  drop = DropSide::fewest;
  std::string error;
  if (value.empty() || parse_drop_side(value, drop, error)) return true;
  set_error("zenpo-convert", "", 0, error);
  return false;
}

// Queues glyph `code` with the bytes `rows` for the image, the rows without
// kRowGiven in `given` kept as the image has them; false past its slots.
bool queue_glyph(uint32_t code, const uint8_t* rows, uint8_t given) {
  State& s = state();
  if (code >= zp_glyph_count()) return false;
  s.import_codes.push_back(code);
  for (int r = 0; r < 8; ++r) {
    bool row_given = ((given >> r) & 1) != 0;
    s.import_rows.push_back(row_given ? rows[r] & kRowBits : s.image[size_t{code} * 8 + r]);
  }
  return true;
}

// Warns of the `count` glyphs from `first` on that lie past the image's end.
void warn_past_end(const std::string& name, uint32_t count, uint32_t first) {
  if (count == 0) return;
  add_warning(name, 0,
              std::to_string(count) + " glyphs from code " + hex_code(first) +
                  " on lie past the end of the image, which the page does not lengthen: left out");
}

// Queues the glyphs of the font patch `text` as zenpo applies it.
void import_patch(std::string_view text, const std::string& name) {
  PatchText patch = parse_font_patch(text);
  merge_patch_glyphs(patch);
  for (const PatchWarning& w : patch.warnings) add_warning(name, w.line, w.text);
  uint32_t past = 0;
  uint32_t first_past = 0;
  for (const PatchGlyph& g : patch.glyphs) {
    uint8_t given = 0;
    for (int r = 0; r < 8; ++r) given |= (g.rows[r] & kRowGiven) ? 1 << r : 0;
    if (!queue_glyph(g.code, g.rows, given) && past++ == 0) first_past = g.code;
  }
  warn_past_end(name, past, first_past);
}

// Queues the glyphs of the font or picture `bytes` as zenpo applies
// zenpo-convert's patch of it; -1 after the error.
int import_font(std::string_view bytes, const std::string& name, std::vector<CodeRange> map,
                DropSide drop) {
  Font font = bytes.substr(0, 8) == "\x89PNG\r\n\x1a\n" ? read_glyph_picture(bytes, SheetOptions{})
                                                        : parse_font(bytes, false);
  for (const FontMessage& w : font.warnings) add_warning(name, w.line, w.text);
  if (font.failed) return set_error("zenpo-convert", name, font.error.line, font.error.text);
  if (drop == DropSide::fewest)
    drop = font.marked == 0x80 ? DropSide::left : font.marked == 0x01 ? DropSide::right : drop;
  if (map.empty()) {
    bool own = font.format == "PNG picture";
    map = own ? std::vector<CodeRange>{{1, kCodeLimit - 1, 1}} : default_code_map();
  }
  PatchPlan plan = plan_patch(font, map, drop);
  for (const std::string& w : plan.warnings) add_warning(name, 0, w);
  uint32_t past = 0;
  uint32_t first_past = 0;
  for (const FontGlyph& g : plan.glyphs) {
    uint8_t rows[8];
    for (int r = 0; r < 8; ++r) rows[r] = image_row(g.rows[r], plan.dropped);
    if (!queue_glyph(g.code, rows, 0xFF) && past++ == 0) first_past = g.code;
  }
  warn_past_end(name, past, first_past);
  return 0;
}

// True when `name` ends in ".txt", any case.
bool is_patch_name(std::string_view name) {
  if (name.size() < 4) return false;
  std::string end(name.substr(name.size() - 4));
  std::transform(end.begin(), end.end(), end.begin(),
                 [](unsigned char c) { return std::tolower(c); });
  return end == ".txt";
}

// The patch of the glyphs that differ from the image as opened.
std::string changed_patch(const std::string& name) {
  const State& s = state();
  std::string text = "; Glyphs of " + name + " (" + std::to_string(s.image.size()) +
                     " bytes) changed in zenpo-edit.html.\n"
                     "; Apply it with \"zenpo FILE.txt\" in the folder of the image as it was "
                     "opened.\n";
  long high = 0;
  const uint8_t* image = s.image.data();
  const uint8_t* opened = s.opened.data();
  for (uint32_t code = 0; code < zp_glyph_count(); ++code) {
    const uint8_t* now = image + size_t{code} * 8;
    if (std::memcmp(now, opened + size_t{code} * 8, 8) == 0) continue;
    if (code == 0) {
      add_warning(name, 0, "glyph 0x0 changed, but codes start at 1: a patch cannot write it");
      continue;
    }
    high += append_glyph_text(text, code, now);
  }
  if (high) {
    add_warning(name, 0,
                std::to_string(high) +
                    " rows have bit 7 set, which a patch cannot write: patched back, they lose it");
  }
  return text;
}

// Codes 01 to FF of the image, those it has whole slots for.
std::vector<FontGlyph> export_glyphs() {
  std::vector<FontGlyph> glyphs;
  uint32_t end = std::min(zp_glyph_count(), kExportLast + 1);
  for (uint32_t code = kExportFirst; code < end; ++code) {
    glyphs.push_back({code, static_cast<uint32_t>(glyphs.size()), {}});
    std::memcpy(glyphs.back().rows, &state().image[size_t{code} * 8], 8);
  }
  return glyphs;
}

// The bits of the 7 columns of a row.
constexpr uint8_t kColumns = 0x7F;

// Row `row` with columns 1 to 7 (bits 6 to 0) in reverse order.
uint8_t mirrored(uint8_t row) {
  uint8_t out = row & 0x80;
  for (int bit = 0; bit < 7; ++bit) out |= ((row >> bit) & 1) << (6 - bit);
  return out;
}

// Changes the 8 rows of a glyph as `edit` says; see ZpEdit.
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the edit, then its pixel, as ZpEdit reads
void edit_rows(uint8_t* rows, int edit, int row, int bit) {
  auto mask = static_cast<uint8_t>(1u << (bit & 7));
  uint8_t old[8];
  std::memcpy(old, rows, 8);
  for (int r = 0; r < 8; ++r) {
    uint8_t& b = rows[r];
    uint8_t high = b & 0x80;
    switch (edit) {
      case ZP_TOGGLE:
        b = r == row ? b ^ mask : b;
        break;
      case ZP_SET:
        b = r == row ? b | mask : b;
        break;
      case ZP_CLEAR_BIT:
        b = r == row ? b & ~mask : b;
        break;
      case ZP_SHIFT_UP:
        b = high | (r < 7 ? old[r + 1] & kColumns : 0);
        break;
      case ZP_SHIFT_DOWN:
        b = high | (r > 0 ? old[r - 1] & kColumns : 0);
        break;
      case ZP_SHIFT_LEFT:
        b = high | ((b << 1) & kColumns);
        break;
      case ZP_SHIFT_RIGHT:
        b = high | ((b & kColumns) >> 1);
        break;
      case ZP_FLIP_ACROSS:
        b = mirrored(b);
        break;
      case ZP_FLIP_DOWN:
        b = old[7 - r];
        break;
      case ZP_INVERT:
        b = high | (~b & kColumns);
        break;
      case ZP_CLEAR:
        b = 0;
        break;
      default:
        break;
    }
  }
}

}  // namespace

uint8_t* zp_image_reserve(uint32_t size) {
  State& s = state();
  s.message.clear();
  if (size > kMostImageBytes) {
    set_error("zenpo-edit", "", 0,
              "the image is " + std::to_string(size) + " bytes, more than the " +
                  std::to_string(kMostImageBytes >> 20) + " MiB that the page holds");
    return nullptr;
  }
  s.image.assign(size, 0);
  s.opened.clear();
  return s.image.data();
}

void zp_image_opened() { state().opened = state().image; }

uint8_t* zp_image() { return state().image.data(); }

uint32_t zp_image_size() { return static_cast<uint32_t>(state().image.size()); }

uint32_t zp_glyph_count() { return zp_image_size() / 8; }

const uint8_t* zp_opened_glyph(uint32_t code) {
  const State& s = state();
  size_t slots = s.opened.size() / 8;
  return code < slots ? s.opened.data() + size_t{code} * 8 : nullptr;
}

int zp_put_glyph(uint32_t code, const uint8_t* rows) {
  if (code >= zp_glyph_count()) return 0;
  std::memcpy(&state().image[size_t{code} * 8], rows, 8);
  return 1;
}

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): a flat C call for the page
int zp_edit_glyph(uint32_t code, int edit, int row, int bit) {
  if (code >= zp_glyph_count()) return 0;
  uint8_t* rows = &state().image[size_t{code} * 8];
  uint8_t old[8];
  std::memcpy(old, rows, 8);
  edit_rows(rows, edit, row, bit);
  return std::memcmp(old, rows, 8) != 0 ? 1 : 0;
}

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): a flat C call for the page
int zp_import(const uint8_t* bytes, uint32_t size, const char* name, const char* map,
              const char* drop) {
  State& s = state();
  s.message.clear();
  s.import_codes.clear();
  s.import_rows.clear();
  std::string file = name ? name : "";
  std::string_view data(reinterpret_cast<const char*>(bytes), size);
  std::vector<CodeRange> ranges;
  DropSide side = DropSide::fewest;
  if (!read_map(map, ranges) || !read_drop(drop, side)) return -1;
  if (is_patch_name(file)) {
    import_patch(data, file);
  } else if (import_font(data, file, ranges, side) != 0) {
    s.import_codes.clear();
    s.import_rows.clear();
    return -1;
  }
  return static_cast<int>(s.import_codes.size());
}

const uint32_t* zp_import_codes() { return state().import_codes.data(); }

const uint8_t* zp_import_rows() { return state().import_rows.data(); }

// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): a flat C call for the page
int zp_export(int format, const char* name, const char* sample) {
  State& s = state();
  s.message.clear();
  s.output.clear();
  std::string file = name ? name : "";
  std::string error;
  if (format == ZP_PATCH) {
    s.output = changed_patch(file);
  } else if (format == ZP_PNG) {
    error = sample_text_error(sample && *sample ? sample : nullptr, true);
    Picture picture;
    if (error.empty() && !draw_glyph_picture(picture_glyphs(export_glyphs()), 0x80, picture,
                                             {sample ? sample : "", kBitSevenLegend})) {
      error = std::to_string(kMostPictureRows) + " rows of 16 glyphs at most fit one picture";
    }
    if (error.empty()) s.output = encode_png(picture);
    if (error.empty() && s.output.empty()) error = "cannot write it: the PNG encoder failed";
  } else if (format == ZP_BDF) {
    s.output = write_bdf_font(export_glyphs(), file);
  } else if (format == ZP_PSF) {
    s.output = write_psf_font(export_glyphs(), error);
  } else if (format == ZP_HEX) {
    s.output = write_hex_font(export_glyphs());
  }
  if (error.empty()) return 1;
  s.output.clear();
  set_error("zenpo-dump", "", 0, error);
  return 0;
}

const uint8_t* zp_output() { return reinterpret_cast<const uint8_t*>(state().output.data()); }

uint32_t zp_output_size() { return static_cast<uint32_t>(state().output.size()); }

const char* zp_message() { return state().message.c_str(); }
