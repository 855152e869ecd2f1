// The parser's fast paths: rows and glyphs of the usual shapes read a word
// at a time. Each gives exactly what reading the same lines byte by byte
// gives, or takes nothing and leaves them to that.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "patch_parser.h"

// Each byte of a 64-bit word set to 1: multiplied by a byte, that byte in
// every place, so that eight rows or columns are handled at once.
constexpr uint64_t kEachByte = 0x0101010101010101u;

// 1 in each of the low seven bytes of a word, which hold the columns of a row.
constexpr uint64_t kColumnBytes = kEachByte >> 8;

// Eight bytes from `s`, the first in the low byte.
inline uint64_t load_le64(const char* s) {
  uint64_t x;
  std::memcpy(&x, s, sizeof x);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  x = __builtin_bswap64(x);
#endif
  return x;
}

// Stores `x` as eight bytes at `s`, the low byte first.
inline void store_le64(uint8_t* s, uint64_t x) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  x = __builtin_bswap64(x);
#endif
  std::memcpy(s, &x, sizeof x);
}

// Bit 7 of each byte of the result is set where that byte of `x` is not 0.
inline uint64_t nonzero_bytes(uint64_t x) {
  constexpr uint64_t low7 = kEachByte * 0x7F;
  return (((x & low7) + low7) | x) & ~low7;
}

// True when the first eight bytes of a line hold seven columns: the first
// starts no comment or header and none of the seven ends the line.
inline bool has_seven_columns(uint64_t x) {
  unsigned char first = x & 0xFF;
  uint64_t newlines = ~nonzero_bytes(x ^ (kEachByte * '\n')) & (kColumnBytes << 7);
  return newlines == 0 && first != ';' && first != '#' && first != '@';
}

// The value of a row from its first seven bytes: byte 0 gives bit 6, byte 6 bit 0.
inline uint8_t row_bits(uint64_t x) {
  // Swapping the bytes puts byte 0 in the high bit of the gathered byte.
  uint64_t set = __builtin_bswap64(nonzero_bytes(x ^ (kEachByte * '0'))) >> 7;
  return static_cast<uint8_t>((set * 0x0102040810204080u) >> 57);
}

// True when the seven columns in the low bytes of `x` are all '0' or '1'.
inline bool binary_columns(uint64_t x) {
  return (((x | kEachByte) ^ (kEachByte * '1')) & (kColumnBytes * 0xFF)) == 0;
}

// Reads glyphs of the usual shape from `s` on, one after another, as long as
// they come: a header "@" and 1 to 7 hexadecimal digits (not all 0), then
// eight rows of seven columns, each of the nine lines ended by LF, or each
// by CR LF. Unless `any_columns`, only rows of '0' and '1' count. Appends
// them to `glyphs`, each with its header's line, counting `line` on; returns
// the bytes taken, 0 when the first line is no such header.
size_t read_usual_glyphs(const char* s, const char* end, bool any_columns, uint64_t& line,
                         std::vector<PatchGlyph>& glyphs);
