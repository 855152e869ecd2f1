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
#include "patch_parser.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "codes.h"
#include "files.h"
#include "row_parser.h"
#include "text_encoding.h"

namespace {

// Reads "%x" style: white space, sign, 0x, hex digits; one byte at a time.
struct HexScan {
  uint8_t stage = 0;  // 0 blanks, 1 after sign, 2 after a leading 0, 3 digits, 4 done
  bool negative = false;
  bool digits = false;
  uint32_t value = 0;  // modulo 2^32, as the digits come
};

// What the line being read is, decided by its first byte.
enum : uint8_t {
  kLineNone,    // no byte of it read yet
  kLineIgnore,  // a comment, or a row line that no glyph wants
  kLineRow,
  kLineHeader,
};

// A parse in progress: what it has found so far and where it stands.
struct PatchParser {
  PatchText text;                 // what it has found so far
  uint64_t line = 1;              // number of the line being read
  bool ended = false;             // a Ctrl-Z byte ended the text
  uint8_t line_kind = kLineNone;  // what the line being read is
  uint8_t columns = 0;            // columns read of the current row line
  uint8_t bits = 0;               // their values, first column highest
  HexScan hex;                    // the number of the current header line
  int row = -1;                   // next row of `glyph`, -1 when none is open
  PatchGlyph glyph{};             // the glyph being read
  bool told_drawing = false;      // a row drawn with '.', '-', '_' or ' ' was warned of
  int64_t drawing = -1;           // index of that warning in text.warnings, -1 when none
  bool plain = false;             // byte by byte only, without the fast paths
};

void warn(PatchText& patch, uint64_t line, std::string text) {
  patch.warnings.push_back(PatchWarning{line, std::move(text)});
}

// The blanks of C's isspace() but the newline, which has ended the line before.
bool is_blank(unsigned char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
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
    warn(p.text, p.glyph.line,
         "glyph " + format_code(p.glyph.code) + " ends after " + std::to_string(p.row) +
             " of its 8 rows; the others keep their old bytes");
  }
  if (p.row > 0) p.text.glyphs.push_back(p.glyph);
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
    warn(p.text, p.line, "header has no hexadecimal code; the rows after it are ignored");
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
    warn(p.text, p.line, "code " + (code ? format_code(code) : "0") + why + "; glyph skipped");
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

// Warns, once a file, of a row drawn as other tools' text formats draw one,
// with '.', '-', '_' or ' ' for a clear pixel: here each of them is set.
void note_column(PatchParser& p, char c) {
  if (c != '.' && c != '-' && c != '_' && c != ' ') return;
  p.drawing = static_cast<int64_t>(p.text.warnings.size());
  warn(p.text, p.line,
       std::string("'") + c +
           "' in this row sets a pixel: only '0' is a clear column (said of the first such "
           "row only)");
  p.told_drawing = true;
}

// The same for the seven columns in the low bytes of `x`.
void note_columns(PatchParser& p, uint64_t x) {
  // Rows of '0' and '1' alone, the usual ones, are told apart at once.
  if (binary_columns(x)) return;
  for (int i = 0; i < 7 && !p.told_drawing; ++i) note_column(p, static_cast<char>(x >> (8 * i)));
}

// Takes the usual lines in one step from `s`: whole glyphs of the usual
// shape, a row of seven columns and a LF or CR LF, or a plain header.
// Returns the bytes taken, 0 for any other line, which is read byte by byte.
size_t take_common_line(PatchParser& p, const char* s, const char* end) {
  if (*s == '@') {
    end_glyph(p);  // a header ends the open glyph, however it is read
    size_t taken = read_usual_glyphs(s, end, p.told_drawing, p.line, p.text.glyphs);
    return taken ? taken : take_plain_header(p, s, end);
  }
  if (p.row < 0 || end - s < 9) return 0;
  size_t length = s[7] == '\n' ? 8 : (s[7] == '\r' && s[8] == '\n') ? 9 : 0;
  uint64_t x = load_le64(s);
  if (!length || !has_seven_columns(x)) return 0;
  if (!p.told_drawing) note_columns(p, x);
  put_row(p, row_bits(x));
  ++p.line;
  return length;
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

// Parses bytes of the text in UTF-8 (or any encoding that ASCII is part of).
void parse_bytes(PatchParser& p, std::string_view text) {
  if (text.empty()) return;
  const char* data = text.data();
  size_t size = text.size();
  const char* end = data + size;
  if (const void* z = std::memchr(data, 0x1A, size)) {
    end = static_cast<const char*>(z);
    p.ended = true;
  }
  const char* s = data;
  while (s < end) {
    if (p.line_kind == kLineNone) {
      size_t taken = p.plain ? 0 : take_common_line(p, s, end);
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

// Makes room in `glyphs` for what a patch of `size` bytes usually holds, but
// no more than `most`, so that they need not move as they come; nothing for
// an unknown size.
void reserve_glyphs(std::vector<PatchGlyph>& glyphs, int64_t size, uint64_t most) {
  // A glyph of the usual shape takes at least 11 bytes ("@1" and eight empty
  // lines); odder files still work, the vector then grows as it goes. No
  // more than 16 Mi glyphs, and no more than a 32-bit process can spare.
  most = std::min<uint64_t>({most, SIZE_MAX / 4096, uint64_t{1} << 24});
  glyphs.reserve(std::min(static_cast<uint64_t>(std::max<int64_t>(size, 0)) / 11, most));
  advise_huge_pages(glyphs.data(), glyphs.capacity() * sizeof(PatchGlyph));
}

// Runs a parser over the chunks of `next`: from the start of a patch when
// `first`, else from a header line within one that is not UTF-16.
PatchParser run_parser(const PatchChunks& next, int64_t size, bool first, bool plain,
                       const GlyphSink& sink = {}) {
  PatchParser p;
  p.plain = plain;
  // A chunk adds a few thousand glyphs before the sink takes them.
  reserve_glyphs(p.text.glyphs, size, sink.take ? sink.room + (1 << 15) : UINT64_MAX);
  TextDecoder decoder;
  if (!first) decoder.encoding = TextEncoding::bytes;  // no byte-order mark within a patch
  std::string_view chunk;
  while (!p.ended && next(chunk)) {
    parse_bytes(p, decode_text(decoder, chunk, false));
    if (sink.take) sink.take(p.text.glyphs);
  }
  if (!p.ended) parse_bytes(p, decode_text(decoder, {}, true));
  if (p.line_kind != kLineNone) end_line(p);  // a last line with no newline
  end_glyph(p);
  return p;
}

}  // namespace

PatchText parse_patch_chunks(const PatchChunks& next, int64_t size) {
  return std::move(run_parser(next, size, true, false).text);
}

PatchText parse_font_patch(std::string_view text, bool plain) {
  bool given = false;
  auto next = [&](std::string_view& chunk) {
    chunk = text;
    return !std::exchange(given, true);
  };
  return std::move(run_parser(next, 0, true, plain).text);
}

bool patch_splits(std::string_view start) {
  return start.size() >= 2 && start.compare(0, 2, "\xFF\xFE") != 0 &&
         start.compare(0, 2, "\xFE\xFF") != 0;
}

size_t next_header_line(std::string_view bytes) {
  size_t at = bytes.find("\n@");
  return at == std::string_view::npos ? at : at + 1;
}

PatchPart parse_patch_part(const PatchChunks& next, int64_t size, bool first,
                           const GlyphSink& sink) {
  PatchParser p = run_parser(next, size, first, false, sink);
  return PatchPart{std::move(p.text), p.line - 1, p.ended, p.drawing};
}
