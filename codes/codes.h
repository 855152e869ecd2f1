// Character codes in hexadecimal, as every format and tool here reads and
// writes them. Pure functions: no file, no message.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The smallest code that cannot be patched: its slot would not fit a signed
// 32-bit file offset.
constexpr uint32_t kCodeLimit = 1u << 28;

// A value read past 32 bits: more than any code.
constexpr uint64_t kHexTooBig = uint64_t{1} << 32;

// The value of the hexadecimal digit `c`, either case; -1 when it is none.
constexpr int hex_digit(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The byte that the two hexadecimal digits at `digits` spell.
constexpr uint8_t hex_byte(const char* digits) {
  return static_cast<uint8_t>(hex_digit(static_cast<unsigned char>(digits[0])) << 4 |
                              hex_digit(static_cast<unsigned char>(digits[1])));
}

// Reads the hexadecimal digits at the front of `text` into `value`, moving
// past all of them; false when there is none. A value past 32 bits reads as
// kHexTooBig.
bool read_hex_digits(std::string_view& text, uint64_t& value);

// The same after an optional "0x" or "0X".
bool read_hex_code(std::string_view& text, uint64_t& value);

// `value` in upper-case hexadecimal, at least `digits` digits: "41", "0041".
std::string hex_text(uint64_t value, int digits = 1);

// "0x" and `value` in hexadecimal: "0x41".
std::string hex_code(uint64_t value);

// A code read as a signed 32-bit value, in hexadecimal: "0x41" or "-0x5".
std::string format_code(uint32_t code);
