#include "patch_writer.h"

#include "codes.h"

int append_glyph_text(std::string& out, uint32_t code, const uint8_t* rows) {
  int high = 0;
  for (int r = 0; r < 8; ++r) {
    if (rows[r] & 0x80) {
      out += "; row " + std::to_string(r) + " of " + hex_code(code) + " is 0x" +
             hex_text(rows[r], 2) + ": bit 7 cannot be written back\n";
      ++high;
    }
  }
  out += "@" + hex_text(code, 2) + "\n";
  for (int r = 0; r < 8; ++r) {
    for (int bit = 6; bit >= 0; --bit) out += (rows[r] >> bit) & 1 ? kSetColumn : '0';
    out += '\n';
  }
  return high;
}
