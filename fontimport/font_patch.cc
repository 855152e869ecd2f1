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

#ifdef __linux__
#include <sys/mman.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

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
  char text[32];  // "-0x" and at most eight digits: never cut short
  (void)std::snprintf(text, sizeof text, format, static_cast<unsigned>(value));
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

// Takes one byte of a header's number; stage 4 once the number is over.
void scan_hex(HexScan& h, unsigned char c) {
  int d = hex_digit(c);
  switch (h.stage) {
    case 0:
      if (is_blank(c)) return;
      h.stage = 1;
      if (c == '+' || c == '-') {
        h.negative = c == '-';
        return;
      }
      [[fallthrough]];
    case 1:
      if (c == '0') {
        // "0x" with no digit after it still reads as the number 0.
        h.digits = true;
        h.stage = 2;
        return;
      }
      break;
    case 2:
      if (c == 'x' || c == 'X') {
        h.stage = 3;
        return;
      }
      break;
    default:
      break;
  }
  if (d < 0) {
    h.stage = 4;
    return;
  }
  h.value = h.value * 16 + static_cast<uint32_t>(d);
  h.digits = true;
  h.stage = 3;
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

// Stores the next row of the open glyph.
void put_row(PatchParser& p, uint8_t bits) {
  p.glyph.rows[p.row] = static_cast<uint8_t>(kRowGiven | bits);
  if (++p.row == 8) end_glyph(p);
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

// Takes a whole header line of the usual shape, "@" and hex digits up to the
// newline, from `s`; returns its length, or 0 for any other line.
size_t take_plain_header(PatchParser& p, const char* s, const char* end) {
  const char* t = s + 1;
  uint32_t value = 0;
  for (int d; t < end && (d = hex_digit(static_cast<unsigned char>(*t))) >= 0; ++t) {
    value = value * 16 + static_cast<uint32_t>(d);
  }
  if (t == s + 1 || t == end || *t != '\n') return 0;
  end_glyph(p);
  p.hex = HexScan{4, false, true, value};
  take_header(p);
  ++p.line;
  return static_cast<size_t>(t + 1 - s);
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
    put_row(p, static_cast<uint8_t>((p.bits << missing) | ((1 << missing) - 1)));
  } else if (p.line_kind == kLineHeader) {
    take_header(p);
  }
  p.line_kind = kLineNone;
}

// Eight bytes from `s`, the first in the low byte.
uint64_t load_le64(const char* s) {
  uint64_t x;
  std::memcpy(&x, s, sizeof x);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  x = __builtin_bswap64(x);
#endif
  return x;
}

// Bit 7 of each byte of the result is set where that byte of `x` is not 0.
uint64_t nonzero_bytes(uint64_t x) {
  constexpr uint64_t low7 = kEachByte * 0x7F;
  return (((x & low7) + low7) | x) & ~low7;
}

// True when the first eight bytes of a line hold seven columns: the first
// starts no comment or header and none of the seven ends the line.
bool has_seven_columns(uint64_t x) {
  unsigned char first = x & 0xFF;
  uint64_t newlines = ~nonzero_bytes(x ^ (kEachByte * '\n')) & (kEachByte << 7);
  return (newlines & ~(uint64_t{0xFF} << 56)) == 0 && first != ';' && first != '#' && first != '@';
}

// The value of a row from its first seven bytes: byte 0 gives bit 6, byte 6 bit 0.
uint8_t plain_row_bits(uint64_t x) {
  // Swapping the bytes puts byte 0 in the high bit of the gathered byte.
  uint64_t set = __builtin_bswap64(nonzero_bytes(x ^ (kEachByte * '0'))) >> 7;
  return static_cast<uint8_t>((set * 0x0102040810204080u) >> 57);
}

// Warns, once a file, of a row drawn as other tools' text formats draw one,
// with '.', '-', '_' or ' ' for a clear pixel: here each of them is set.
void note_column(PatchParser& p, char c) {
  if (c != '.' && c != '-' && c != '_' && c != ' ') return;
  warn(p, p.line,
       std::string("'") + c +
           "' in this row sets a pixel: only '0' is a clear column (said of the first such "
           "row only)");
  p.told_drawing = true;
}

// The same for the seven columns in the low bytes of `x`.
void note_columns(PatchParser& p, uint64_t x) {
  // Rows of '0' and '1' alone, the usual ones, are told apart at once.
  constexpr uint64_t seven = kEachByte >> 8;
  if ((((x | seven) ^ (seven * '1')) & (seven * 0xFF)) == 0) return;
  for (int i = 0; i < 7 && !p.told_drawing; ++i) note_column(p, static_cast<char>(x >> (8 * i)));
}

// Takes the usual lines in one step from `s`: a row of seven columns and a
// LF or CR LF, or a plain header. A longer row gives its columns and leaves
// its end to be found. Returns the bytes taken, 0 for any other line.
size_t take_common_line(PatchParser& p, const char* s, const char* end) {
  if (p.row >= 0 && end - s >= 9) {
    uint64_t x = load_le64(s);
    if (has_seven_columns(x)) {
      if (!p.told_drawing) note_columns(p, x);
      put_row(p, plain_row_bits(x));
      size_t length = s[7] == '\n' ? 8 : (s[7] == '\r' && s[8] == '\n') ? 9 : 0;
      if (!length) {
        p.line_kind = kLineIgnore;
        return 7;
      }
      ++p.line;
      return length;
    }
  }
  return *s == '@' ? take_plain_header(p, s, end) : 0;
}

// Reads the columns of a row line from [s, stop).
void read_columns(PatchParser& p, const char* s, const char* stop) {
  while (p.columns < 7 && s < stop) {
    if (!p.told_drawing) note_column(p, *s);
    p.bits = static_cast<uint8_t>((p.bits << 1) | static_cast<int>(*s++ != '0'));
    ++p.columns;
  }
}

// Reads the number of a header line from [s, stop).
void read_header(PatchParser& p, const char* s, const char* stop) {
  while (s < stop && p.hex.stage != 4) scan_hex(p.hex, static_cast<unsigned char>(*s++));
}

// Sorts glyphs by code, keeping file order among equal codes: codes have 28
// bits, so four stable counting passes of 7 bits each do it in linear time,
// with few enough buckets that every pass writes to cached lines.
void sort_by_code(std::vector<PatchGlyph>& glyphs) {
  std::vector<PatchGlyph> spare;
  spare.reserve(glyphs.size());
  advise_huge_pages(spare.data(), spare.capacity() * sizeof(PatchGlyph));
  spare.resize(glyphs.size());
  size_t starts[128];
  for (int shift = 0; shift < 28; shift += 7) {
    std::fill(std::begin(starts), std::end(starts), 0);
    for (const PatchGlyph& g : glyphs) ++starts[(g.code >> shift) & 0x7F];
    size_t sum = 0;
    for (size_t& start : starts) sum += std::exchange(start, sum);
    for (const PatchGlyph& g : glyphs) spare[starts[(g.code >> shift) & 0x7F]++] = g;
    glyphs.swap(spare);
  }
}

// Parses bytes of the text as they are.
void parse_bytes(PatchParser& p, const char* data, size_t size) {
  if (p.ended || size == 0) return;
  const char* end = data + size;
  if (const void* z = std::memchr(data, 0x1A, size)) {
    end = static_cast<const char*>(z);
    p.ended = true;
  }
  const char* s = data;
  while (s < end) {
    if (p.line_kind == kLineNone) {
      size_t taken = take_common_line(p, s, end);
      if (taken) {
        s += taken;
        continue;
      }
      s += begin_line(p, static_cast<unsigned char>(*s));
    }
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

// Appends code point `c` in UTF-8 to `out`.
void append_utf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
    return;
  }
  int tail = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
  out += static_cast<char>(((0xFF00 >> (tail + 1)) & 0xFF) | (c >> (6 * tail)));
  for (int i = tail - 1; i >= 0; --i) out += static_cast<char>(0x80 | ((c >> (6 * i)) & 0x3F));
}

// The text of the UTF-16 units held and in `data`, in UTF-8. A unit or a
// surrogate pair that the chunk cuts is held for the next; a surrogate
// without its other half reads as U+FFFD.
std::string decode_utf16(PatchParser& p, const char* data, size_t size) {
  std::string in = std::move(p.held);
  if (size > 0) in.append(data, size);
  bool big = p.encoding == PatchEncoding::utf16be;
  auto unit = [&](size_t at) {
    auto first = static_cast<uint8_t>(in[at]);
    auto second = static_cast<uint8_t>(in[at + 1]);
    return big ? uint32_t{first} << 8 | second : uint32_t{second} << 8 | first;
  };
  std::string out;
  out.reserve(in.size());
  size_t at = 0;
  for (; at + 2 <= in.size(); at += 2) {
    uint32_t c = unit(at);
    if (c >= 0xD800 && c < 0xDC00) {
      if (at + 4 > in.size()) break;  // its low half is in the next chunk
      uint32_t low = unit(at + 2);
      if (low >= 0xDC00 && low < 0xE000) {
        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
        at += 2;
      } else {
        c = 0xFFFD;
      }
    } else if (c >= 0xDC00 && c < 0xE000) {
      c = 0xFFFD;
    }
    append_utf8(out, c);
  }
  p.held = in.substr(at);
  return out;
}

// Tells the encoding from the first bytes held; false while they could
// still be the start of a byte-order mark. The mark itself is dropped.
bool tell_encoding(PatchParser& p, bool at_end) {
  const std::string& h = p.held;
  if (h.compare(0, 2, "\xFF\xFE") == 0 || h.compare(0, 2, "\xFE\xFF") == 0) {
    p.encoding = h[0] == '\xFF' ? PatchEncoding::utf16le : PatchEncoding::utf16be;
    p.held.erase(0, 2);
    return true;
  }
  const std::string_view utf8_mark = "\xEF\xBB\xBF";
  if (!at_end && h.size() < 3 && (utf8_mark.substr(0, h.size()) == h || h == "\xFF" || h == "\xFE"))
    return false;
  p.encoding = PatchEncoding::bytes;
  if (h == utf8_mark) p.held.clear();
  return true;
}

// Parses what is held and then `data`, in the encoding of the text.
void parse_in_encoding(PatchParser& p, const char* data, size_t size) {
  if (p.encoding == PatchEncoding::bytes) {
    std::string held = std::move(p.held);
    p.held.clear();
    parse_bytes(p, held.data(), held.size());
    parse_bytes(p, data, size);
    return;
  }
  std::string text = decode_utf16(p, data, size);
  parse_bytes(p, text.data(), text.size());
}

}  // namespace

void parse_patch_chunk(PatchParser& p, const char* data, size_t size) {
  if (p.encoding == PatchEncoding::bytes) {  // what it holds went out when it was told
    parse_bytes(p, data, size);
    return;
  }
  if (p.ended) return;
  if (p.encoding == PatchEncoding::unknown) {
    size_t take = std::min(size, size_t{3} - p.held.size());
    p.held.append(data, take);
    data += take;
    size -= take;
    if (!tell_encoding(p, false)) return;
  }
  parse_in_encoding(p, data, size);
}

void finish_patch_parse(PatchParser& p) {
  if (p.encoding == PatchEncoding::unknown) {
    (void)tell_encoding(p, true);
    parse_in_encoding(p, nullptr, 0);
  }
  if (!p.held.empty()) {
    p.held.clear();
    parse_bytes(p, "\xEF\xBF\xBD", 3);  // half a UTF-16 character: U+FFFD
  }
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
  if (!std::is_sorted(g.begin(), g.end(), by_code)) sort_by_code(g);
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
  }
  if (!g.empty()) g.resize(first + 1);
  // The warnings of repeats come last: put them among the others by line.
  auto by_line = [](const PatchWarning& a, const PatchWarning& b) { return a.line < b.line; };
  if (!std::is_sorted(p.warnings.begin(), p.warnings.end(), by_line))
    std::stable_sort(p.warnings.begin(), p.warnings.end(), by_line);
}

void advise_huge_pages(void* data, size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr uintptr_t huge = uintptr_t{2} << 20;
  uintptr_t at = reinterpret_cast<uintptr_t>(data);
  uintptr_t begin = (at + huge - 1) & ~(huge - 1);
  uintptr_t end = (at + size) & ~(huge - 1);
  // Step from `data` itself rather than turn the number back into a pointer.
  if (end > begin) madvise(static_cast<char*>(data) + (begin - at), end - begin, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}

std::string format_code(uint32_t code) {
  if (code & 0x80000000u) return format_hex("-0x%X", 0u - code);
  return format_hex("0x%X", code);
}
