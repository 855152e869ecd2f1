// A font file of any supported kind: gzip is unpacked first, then the
// kind is told by the first bytes. PSF fonts start with their magic number,
// a BDF font with the keyword STARTFONT and a hex font with a hexadecimal
// code and a colon.
#include <algorithm>
#include <string>

#include "codes.h"
#include "font_formats.h"
#include "gunzip.h"
#include "parse_common.h"

namespace {

// True when the first line of `text` that is not blank or '#' starts as a
// hex font line does.
bool looks_like_hex_font(std::string_view text) {
  size_t start = 0;
  while (start < text.size() &&
         (text[start] == '\n' || text[start] == '\r' || text[start] == '#')) {
    if (text[start] == '#') {
      start = std::min(text.find('\n', start), text.size());
    } else {
      ++start;
    }
  }
  std::string_view rest = text.substr(start);
  uint64_t code = 0;
  return read_hex_digits(rest, code) && rest.substr(0, 1) == ":";
}

// True when `data` starts with the two bytes of a gzip member.
bool is_gzip(std::string_view data) {
  return data.size() >= 2 && data[0] == '\x1f' && data[1] == '\x8b';
}

}  // namespace

Font parse_font(std::string_view data, bool unicode) {
  std::string unpacked;
  if (is_gzip(data)) {
    std::string error = gunzip(data, unpacked);
    if (!error.empty()) {
      Font font;
      return fail_font(font, 0, error);
    }
    data = unpacked;
  }
  if (data.size() >= 2 &&
      ((data[0] == '\x36' && data[1] == '\x04') || (data[0] == '\x72' && data[1] == '\xb5'))) {
    return parse_psf(data, unicode);
  }
  size_t start = data.find_first_not_of(" \t\r\n");
  if (start != std::string_view::npos && data.substr(start, 9) == "STARTFONT")
    return parse_bdf(data);
  if (looks_like_hex_font(data)) return parse_hex_font(data);
  Font font;
  return fail_font(font, 0, "not a font that converts: neither PSF 1 or 2, BDF nor a hex font");
}
