// A font file of any supported kind: gzip is unpacked with zlib, then the
// kind is told by the first bytes. PSF fonts start with their magic number,
// a BDF font with the keyword STARTFONT and a hex font with a hexadecimal
// code and a colon.
#include <zlib.h>

#include <algorithm>
#include <string>

#include "codes.h"
#include "font_formats.h"
#include "parse_common.h"

namespace {

// The most that gzip data may unpack to: far more than any bitmap font.
constexpr size_t kMaxUnpacked = size_t{64} << 20;

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

// Unpacks gzip data into `out`; the reason why not when the data is
// damaged, cut short or unpacks to more than 64 MiB, else empty.
std::string gunzip(std::string_view data, std::string& out) {
  z_stream z{};
  if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) return "zlib cannot start";
  const auto* next = reinterpret_cast<const Bytef*>(data.data());
  size_t left = data.size();
  int status = Z_OK;
  out.clear();
  while (status == Z_OK || status == Z_BUF_ERROR) {
    if (z.avail_in == 0) {  // zlib counts in 32 bits: feed a large input in parts
      z.next_in = const_cast<Bytef*>(next);
      z.avail_in = static_cast<uInt>(std::min<size_t>(left, 1u << 30));
      next += z.avail_in;
      left -= z.avail_in;
    }
    if (out.size() >= kMaxUnpacked) break;
    size_t used = out.size();
    out.resize(std::min(used + (size_t{1} << 16), kMaxUnpacked));
    z.next_out = reinterpret_cast<Bytef*>(&out[used]);
    z.avail_out = static_cast<uInt>(out.size() - used);
    status = inflate(&z, Z_NO_FLUSH);
    out.resize(out.size() - z.avail_out);
    if (status == Z_BUF_ERROR && z.avail_in == 0 && left == 0) break;  // input ends mid-stream
    // Debian's fonts are one member; a second one is unpacked after the first.
    if (status == Z_STREAM_END && (z.avail_in > 0 || left > 0)) status = inflateReset(&z);
  }
  std::string reason = z.msg ? z.msg : "";
  inflateEnd(&z);
  if (status == Z_STREAM_END) return "";
  if (out.size() >= kMaxUnpacked) return "the gzip data unpacks to more than 64 MiB";
  if (status == Z_BUF_ERROR) return "the gzip data is cut short";
  return "the gzip data is damaged" + (reason.empty() ? "" : ": " + reason);
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
