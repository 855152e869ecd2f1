// Font-patch text, as read here.
//
// A patch is a text of lines ended by LF. The first byte of a line decides
// what it is:
//
//   ';' or '#'   a comment, wherever it stands; never a row
//   '@'          a header: the character code in hexadecimal, read as C's
//                "%x" reads it (blanks, sign, 0x, every digit modulo 2^32)
//   anything else  the next row of the open glyph, or nothing when none is open
//
// A header opens a glyph of eight rows. Row r of code c is the byte at image
// offset c * 8 + r. Its first seven bytes are columns, the first one bit 6 and
// the seventh bit 0: '0' is a clear column, every other byte a set one. The
// newline, the end of the text and anything past them are set columns too, so
// a CR before the LF gives the same byte as the LF itself and CR LF needs no
// translation. Bytes from the eighth on are ignored, however long the line.
//
// A byte 0x1A (Ctrl-Z) ends the text. Codes below 1 (as signed 32-bit values)
// or from 2^28 on cannot be patched: their slots are either nonsense or past
// what a signed 32-bit offset reaches. Such a glyph is skipped with a warning.
#include "font_patch.h"

#include <algorithm>
#include <cinttypes>
#include <climits>
#include <cstdio>
#include <cstring>

namespace {

// What the line being read is, decided by its first byte.
enum : uint8_t {
  kLineNone,    // no byte of it read yet
  kLineIgnore,  // a comment, or a row line that no glyph wants
  kLineRow,
  kLineHeader,
};

void warn(PatchParser& p, uint64_t line, std::string text) {
  p.warnings.push_back(PatchWarning{line, std::move(text)});
}

std::string format_hex(const char* format, uint32_t value) {
  char text[32];
  std::snprintf(text, sizeof text, format, static_cast<unsigned>(value));
  return text;
}

int hex_digit(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool is_blank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Takes one byte of a header's number; false once the number is over.
bool scan_hex(HexScan& h, unsigned char c) {
  int d = hex_digit(c);
  switch (h.stage) {
    case 0:
      if (is_blank(c)) return true;
      h.stage = 1;
      if (c == '+' || c == '-') {
        h.negative = c == '-';
        return true;
      }
      [[fallthrough]];
    case 1:
      if (c == '0') {
        // "0x" with no digit after it still reads as the number 0.
        h.digits = true;
        h.stage = 2;
        return true;
      }
      break;
    case 2:
      if (c == 'x' || c == 'X') {
        h.stage = 3;
        return true;
      }
      break;
    default:
      break;
  }
  if (h.stage == 4 || d < 0) {
    h.stage = 4;
    return false;
  }
  h.value = h.value * 16 + static_cast<uint32_t>(d);
  h.digits = true;
  h.stage = 3;
  return true;
}

// Closes the open glyph, keeping the rows it has and warning when it is short.
void end_glyph(PatchParser& p) {
  if (p.row < 0) return;
  if (p.row < 8) {
    warn(p, p.glyph.line,
         "glyph " + format_code(p.glyph.code) + " ends after " + std::to_string(p.row) +
             " of its 8 rows; the others keep their old bytes");
  }
  if (p.row > 0) p.glyphs.push_back(p.glyph);
  p.row = -1;
}

// Opens the glyph that a finished header names, or says why it cannot.
void take_header(PatchParser& p) {
  const HexScan& h = p.hex;
  if (!h.digits) {
    warn(p, p.line, "header has no hexadecimal code; the rows after it are ignored");
    return;
  }
  uint32_t code = h.negative ? 0u - h.value : h.value;
  std::string why;
  if (code == 0) {
    why = " cannot be patched";
  } else if (code & 0x80000000u) {
    why = " is negative";
  } else if (code >= kCodeLimit) {
    why = " is past the largest code " + format_code(kCodeLimit - 1);
  }
  if (!why.empty()) {
    warn(p, p.line, "code " + (code ? format_code(code) : "0") + why + "; glyph skipped");
    return;
  }
  p.glyph = PatchGlyph{code, static_cast<uint32_t>(std::min<uint64_t>(p.line, UINT32_MAX)), {}};
  p.row = 0;
}

// Starts a line on its first byte; returns how many bytes that took.
size_t begin_line(PatchParser& p, unsigned char first) {
  if (first == ';' || first == '#') {
    p.line_kind = kLineIgnore;
    return 0;
  }
  if (first == '@') {
    // A header is never a row: it ends the glyph before it.
    end_glyph(p);
    p.line_kind = kLineHeader;
    p.hex = HexScan{};
    return 1;
  }
  p.line_kind = p.row >= 0 ? kLineRow : kLineIgnore;
  p.columns = 0;
  p.bits = 0;
  return 0;
}

// Ends the current line: a row goes into its glyph, a header opens one.
void end_line(PatchParser& p) {
  if (p.line_kind == kLineRow) {
    int missing = 7 - p.columns;  // past the end of the line: set
    uint8_t bits = static_cast<uint8_t>((p.bits << missing) | ((1 << missing) - 1));
    p.glyph.rows[p.row] = static_cast<uint8_t>(kRowGiven | bits);
    if (++p.row == 8) end_glyph(p);
  } else if (p.line_kind == kLineHeader) {
    take_header(p);
  }
  p.line_kind = kLineNone;
}

// Reads the columns of a row line from [s, stop).
void read_columns(PatchParser& p, const char* s, const char* stop) {
  while (p.columns < 7 && s < stop) {
    p.bits = static_cast<uint8_t>((p.bits << 1) | (*s++ != '0'));
    ++p.columns;
  }
}

// Reads the number of a header line from [s, stop).
void read_header(PatchParser& p, const char* s, const char* stop) {
  while (s < stop && p.hex.stage != 4 && scan_hex(p.hex, static_cast<unsigned char>(*s))) ++s;
}

}  // namespace

void parse_patch_chunk(PatchParser& p, const char* data, size_t size) {
  if (p.ended) return;
  const char* end = data + size;
  if (const void* z = std::memchr(data, 0x1A, size)) {
    end = static_cast<const char*>(z);
    p.ended = true;
  }
  const char* s = data;
  while (s < end) {
    if (p.line_kind == kLineNone) s += begin_line(p, static_cast<unsigned char>(*s));
    const void* nl = std::memchr(s, '\n', static_cast<size_t>(end - s));
    const char* stop = nl ? static_cast<const char*>(nl) : end;
    if (p.line_kind == kLineRow) read_columns(p, s, stop);
    if (p.line_kind == kLineHeader) read_header(p, s, stop);
    if (!nl) break;  // the line goes on in the next chunk
    end_line(p);
    ++p.line;
    s = stop + 1;
  }
}

void finish_patch_parse(PatchParser& p) {
  if (p.line_kind != kLineNone) end_line(p);  // a last line with no newline
  end_glyph(p);
}

PatchParser parse_font_patch(std::string_view text) {
  PatchParser p;
  parse_patch_chunk(p, text.data(), text.size());
  finish_patch_parse(p);
  return p;
}

void merge_patch_glyphs(PatchParser& p) {
  std::vector<PatchGlyph>& g = p.glyphs;
  auto by_code = [](const PatchGlyph& a, const PatchGlyph& b) { return a.code < b.code; };
  if (!std::is_sorted(g.begin(), g.end(), by_code)) std::stable_sort(g.begin(), g.end(), by_code);
  bool repeats = false;
  size_t first = 0;
  for (size_t i = 1; i < g.size(); ++i) {
    if (g[i].code != g[first].code) {
      g[++first] = g[i];
      continue;
    }
    warn(p, g[i].line,
         "code " + format_code(g[i].code) + " was already given at line " +
             std::to_string(g[first].line) + "; the later rows win");
    for (int r = 0; r < 8; ++r) {
      if (g[i].rows[r] & kRowGiven) g[first].rows[r] = g[i].rows[r];
    }
    repeats = true;
  }
  if (!g.empty()) g.resize(first + 1);
  if (repeats) {
    auto by_line = [](const PatchWarning& a, const PatchWarning& b) { return a.line < b.line; };
    std::stable_sort(p.warnings.begin(), p.warnings.end(), by_line);
  }
}

std::string format_code(uint32_t code) {
  if (code & 0x80000000u) return format_hex("-0x%X", 0u - code);
  return format_hex("0x%X", code);
}
