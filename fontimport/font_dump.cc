#include "font_dump.h"

#include <cstdio>

int append_glyph_text(std::string& out, uint32_t code, const uint8_t* rows) {
  char line[80];
  int high = 0;
  for (int r = 0; r < 8; ++r) {
    if (rows[r] & 0x80) {
      (void)std::snprintf(line, sizeof line,
                          "; row %d of 0x%X is 0x%02X: bit 7 cannot be written back\n", r,
                          static_cast<unsigned>(code), rows[r]);
      out += line;
      ++high;
    }
  }
  (void)std::snprintf(line, sizeof line, "@%02X\n", static_cast<unsigned>(code));
  out += line;
  for (int r = 0; r < 8; ++r) {
    for (int bit = 6; bit >= 0; --bit) out += (rows[r] >> bit) & 1 ? kSetColumn : '0';
    out += '\n';
  }
  return high;
}
