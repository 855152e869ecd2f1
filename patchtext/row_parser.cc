// A glyph of the usual shape is 9 lines of known lengths: its rows are read
// with a few word operations each, and one test at the end tells whether
// all of it had that shape.
#include "row_parser.h"

#include <algorithm>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "codes.h"

namespace {

// Bit 7 of each byte set where that byte of `x`, below 0x80, is `c` or more.
constexpr uint64_t at_least(uint64_t x, uint8_t c) {
  return ((x & kEachByte * 0x7F) + kEachByte * (0x80 - c)) & kEachByte * 0x80;
}

// Bit 7 of each byte set where that byte of `x` is a hexadecimal digit.
constexpr uint64_t hex_digits(uint64_t x) {
  uint64_t decimal = at_least(x, '0') & ~at_least(x, '9' + 1);
  uint64_t folded = x | kEachByte * 0x20;  // 'A' to 'F' as 'a' to 'f'
  uint64_t letters = at_least(folded, 'a') & ~at_least(folded, 'f' + 1);
  return (decimal | letters) & ~x;  // no byte from 0x80 on
}

// The number that the hexadecimal digits in the high bytes of `x` spell, the
// last in the top byte; the low bytes are 0, leading zeros, and at least the
// lowest is one.
uint32_t hex_value(uint64_t x) {
  // Each digit's value: its low four bits, plus 9 for a letter (bit 6 set).
  uint64_t v = (x & kEachByte * 0x0F) + 9 * ((x >> 6) & kEachByte);
  // Adjacent digits paired up, then pairs, then fours: the lower byte of
  // each pair holds the higher digit.
  v = (v >> 8 & 0x000F000F000F000Fu) | (v << 4 & 0x00F000F000F000F0u);
  v = (v >> 16 & 0x000000FF000000FFu) | (v << 8 & 0x0000FF000000FF00u);
  return static_cast<uint32_t>(v >> 32 | v << 16);
}

// Where the first LF lies among the eight bytes after the '@' at `s`: at
// s + 1 + the result, 8 when none does. Nothing else is looked at, so that
// the next glyph's start is known a few instructions after the header's
// load; what else the header holds is checked apart.
int header_newline(const char* s) {
  uint64_t lf = load_le64(s + 1) ^ (kEachByte * '\n');
  uint64_t found = (lf - kEachByte) & ~lf & (kEachByte * 0x80);
  return found ? __builtin_ctzll(found) / 8 : 8;
}

// Reads a header "@" and 1 to 7 hexadecimal digits, not all 0, ended by a
// line end of kEol bytes (LF, or CR LF) whose LF lies at s + 1 + `newline`
// (found by header_newline(), or there when it is 8): its code into `code`.
// False for any other line. Ten bytes from `s` are readable.
template <size_t kEol>
bool usual_header(const char* s, int newline, uint32_t& code) {
  // Seven digits keep the code below kCodeLimit: no check of its range.
  static_assert(kCodeLimit == 1u << 28, "seven digits are the codes that can be patched");
  int n = newline + 1 - static_cast<int>(kEol);  // digits
  if (*s != '@' || n <= 0 || n > 7) return false;
  uint64_t x = load_le64(s + 1);
  uint64_t digits = kEachByte * 0x80 >> (8 * (8 - n));
  if ((hex_digits(x) & digits) != digits) return false;
  // With seven digits and CR LF the LF lies past the eight bytes looked at.
  if ((kEol == 2 && s[newline] != '\r') || (newline == 8 && s[9] != '\n')) return false;
  code = hex_value(x << (8 * (8 - n)));  // the last digit in the top byte, the bytes after it gone
  return code != 0;
}

// Reads the eight rows of a glyph from `r`, each 7 columns and a line end of
// `kEol` bytes, into `rows`, row i in byte i; false when any row has another
// shape, or a column other than '0' and '1' unless `kAnyColumns`.
template <size_t kEol, bool kAnyColumns>
bool usual_rows(const char* r, uint64_t& rows) {
  constexpr uint64_t last = uint64_t{kEol == 1 ? '\n' : '\r'} << 56;
  uint64_t odd = 0;  // a bit set where some row is not of the usual shape
  uint64_t bits = 0;
  for (int i = 0; i < 8; ++i, r += 7 + kEol) {
    uint64_t x = load_le64(r);
    uint64_t row;
    if (kAnyColumns) {
      odd |= static_cast<uint64_t>(!has_seven_columns(x)) | ((x & ~(kColumnBytes * 0xFF)) ^ last);
      row = row_bits(x);
    } else {
      // Columns of '0' and '1' only are their own bits 0: '1' has it set,
      // '0' clear. A multiply gathers the seven, byte 0 in bit 6.
      odd |= (x | kColumnBytes) ^ (kColumnBytes * '1' | last);
      row = ((x & kColumnBytes) * 0x4020100804020100u) >> 56 & kRowBits;
    }
    if (kEol == 2) odd |= static_cast<uint64_t>(r[8] != '\n');
    bits |= row << (8 * i);
  }
  rows = bits | kEachByte * kRowGiven;
  return odd == 0;
}

#ifdef __SSE2__
// The rows of a glyph from their columns' values, bit c of byte i being
// column c of row i, bit 7 clear.
uint64_t rows_of_columns(uint64_t bits) {
  // Each byte's bits reversed: column 0, the row's bit 6, then in bit 7.
  bits = (bits >> 1 & kEachByte * 0x55) | (bits & kEachByte * 0x55) << 1;
  bits = (bits >> 2 & kEachByte * 0x33) | (bits & kEachByte * 0x33) << 2;
  bits = (bits >> 4 & kEachByte * 0x0F) | (bits & kEachByte * 0x0F) << 4;
  return (bits >> 1 & kEachByte * kRowBits) | kEachByte * kRowGiven;
}

// Bit 0 of each of the 16 bytes of `v`, the first byte's in bit 0: the
// value of a column of '0' or '1'.
uint32_t low_bits(__m128i v) {
  return static_cast<uint32_t>(_mm_movemask_epi8(_mm_slli_epi64(v, 7)));
}

// usual_rows for LF line ends and columns of '0' and '1', with SSE2: the 64
// bytes of the rows in four loads, each tested in one step.
bool binary_rows(const char* r, uint64_t& rows) {
  const __m128i ones = _mm_set1_epi64x(static_cast<int64_t>(kColumnBytes));
  const __m128i usual =
      _mm_set1_epi64x(static_cast<int64_t>(kColumnBytes * '1' | uint64_t{'\n'} << 56));
  uint32_t odd = 0;
  uint64_t bits = 0;  // bit c of byte i: column c of row i; bit 7 the LF's, 0
  for (size_t i = 0; i < 4; ++i) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + 16 * i));
    odd |= _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(v, ones), usual)) ^ 0xFFFF;
    bits |= uint64_t{low_bits(v)} << (16 * i);
  }
  rows = rows_of_columns(bits);
  return odd == 0;
}

// For CR LF rows, what binary_rows tests each byte with: the bits set in
// it, then the byte that it must then be; 0 past the 72 bytes of the rows.
constexpr std::array<std::array<uint8_t, 80>, 2> kCrLfRows = [] {
  std::array<std::array<uint8_t, 80>, 2> bytes{};
  for (size_t i = 0; i < 72; ++i) {
    bytes[0][i] = i % 9 < 7 ? 1 : 0;
    bytes[1][i] = i % 9 < 7 ? '1' : i % 9 == 7 ? '\r' : '\n';
  }
  return bytes;
}();

// binary_rows for CR LF line ends: 72 bytes in five loads, which read 8
// bytes past the rows.
bool binary_rows_crlf(const char* r, uint64_t& rows) {
  uint32_t odd = 0;
  uint64_t low = 0;   // the values of bytes 0 to 63 as columns
  uint64_t high = 0;  // and of bytes 64 to 79
  for (size_t i = 0; i < 5; ++i) {
    __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + 16 * i));
    auto ones = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kCrLfRows[0].data() + 16 * i));
    auto usual = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kCrLfRows[1].data() + 16 * i));
    uint32_t same = _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(v, ones), usual));
    odd |= (same | (i == 4 ? 0xFF00 : 0)) ^ 0xFFFF;  // the 8 bytes past the rows are no matter
    (i < 4 ? low : high) |= uint64_t{low_bits(v)} << (i < 4 ? 16 * i : 0);
  }
  uint64_t bits = 0;
  for (size_t k = 0; k < 8; ++k) {
    uint64_t row = k < 7 ? low >> (9 * k) : low >> 63 | high << 1;
    bits |= (row & kRowBits) << (8 * k);
  }
  rows = rows_of_columns(bits);
  return odd == 0;
}
#endif

// usual_rows for line ends of kEol bytes, the text ending at `end`.
template <size_t kEol, bool kAnyColumns>
bool glyph_rows(const char* r, const char* end, uint64_t& rows) {
#ifdef __SSE2__
  if (kEol == 1 && !kAnyColumns) return binary_rows(r, rows);
  if (!kAnyColumns && end - r >= 80) return binary_rows_crlf(r, rows);
#else
  (void)end;
#endif
  return usual_rows<kEol, kAnyColumns>(r, rows);
}

// read_usual_glyphs for one kind of columns and line ends of kEol bytes.
template <size_t kEol, bool kAnyColumns>
size_t usual_glyphs(const char* s, const char* end, uint64_t& line,
                    std::vector<PatchGlyph>& glyphs) {
  constexpr size_t kRows = 8 * (7 + kEol);
  const char* start = s;
  // Room for the header's eight bytes after the '@' (so for the newline's
  // search) and for the rows.
  while (end - s >= 9 + static_cast<ptrdiff_t>(kRows)) {
    int newline = header_newline(s);
    const char* r = s + newline + 2;
    if (end - r < static_cast<ptrdiff_t>(kRows)) break;
    // Read in place: a glyph put together first and then copied would be
    // read back before its parts are stored, which stalls.
    PatchGlyph& g = glyphs.emplace_back();
    uint64_t rows = 0;
    bool usual = usual_header<kEol>(s, newline, g.code);
    usual = glyph_rows<kEol, kAnyColumns>(r, end, rows) && usual;
    if (!usual) {
      glyphs.pop_back();
      break;
    }
    store_le64(g.rows, rows);
    g.line = static_cast<uint32_t>(std::min<uint64_t>(line, UINT32_MAX));
    s = r + kRows;
    line += 9;
  }
  return static_cast<size_t>(s - start);
}

// read_usual_glyphs for one kind of columns: the first header's line end
// decides the others'.
template <bool kAnyColumns>
size_t usual_glyphs(const char* s, const char* end, uint64_t& line,
                    std::vector<PatchGlyph>& glyphs) {
  if (end - s < 10) return 0;
  int newline = header_newline(s);
  return newline > 0 && s[newline] == '\r' ? usual_glyphs<2, kAnyColumns>(s, end, line, glyphs)
                                           : usual_glyphs<1, kAnyColumns>(s, end, line, glyphs);
}

}  // namespace

size_t read_usual_glyphs(const char* s, const char* end, bool any_columns, uint64_t& line,
                         std::vector<PatchGlyph>& glyphs) {
  return any_columns ? usual_glyphs<true>(s, end, line, glyphs)
                     : usual_glyphs<false>(s, end, line, glyphs);
}
