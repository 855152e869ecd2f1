#include "codes.h"

#include <algorithm>
#include <cstdio>

bool read_hex_digits(std::string_view& text, uint64_t& value) {
  size_t digits = 0;
  value = 0;
  for (int d;
       digits < text.size() && (d = hex_digit(static_cast<unsigned char>(text[digits]))) >= 0;
       ++digits)
    value = std::min(value << 4 | static_cast<uint64_t>(d), kHexTooBig);
  text.remove_prefix(digits);
  return digits > 0;
}

bool read_hex_code(std::string_view& text, uint64_t& value) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text.remove_prefix(2);
  return read_hex_digits(text, value);
}

std::string hex_text(uint64_t value, int digits) {
  char text[24];  // sixteen digits at most: never cut short
  (void)std::snprintf(text, sizeof text, "%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

std::string hex_code(uint64_t value) { return "0x" + hex_text(value); }

std::string format_code(uint32_t code) {
  if (code & 0x80000000u) return "-" + hex_code(0u - code);
  return hex_code(code);
}
