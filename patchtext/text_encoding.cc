#include "text_encoding.h"

#include <utility>

namespace {

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

// The text of the UTF-16 units held and in `chunk`, in UTF-8. A unit or a
// surrogate pair that the chunk cuts is held for the next; a surrogate
// without its other half reads as U+FFFD.
std::string decode_utf16(TextDecoder& d, std::string_view chunk) {
  std::string in = std::move(d.held);
  in.append(chunk);
  bool big = d.encoding == TextEncoding::utf16be;
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
  d.held = in.substr(at);
  return out;
}

// Tells the encoding from the first bytes held, unless there are too few
// for a byte-order mark yet. The mark itself is dropped.
void tell_encoding(TextDecoder& d, bool at_end) {
  std::string& h = d.held;
  const std::string_view utf8_mark = "\xEF\xBB\xBF";
  if (h.compare(0, 2, "\xFF\xFE") == 0 || h.compare(0, 2, "\xFE\xFF") == 0) {
    d.encoding = h[0] == '\xFF' ? TextEncoding::utf16le : TextEncoding::utf16be;
    h.erase(0, 2);
  } else if (at_end || h.size() >= utf8_mark.size()) {
    d.encoding = TextEncoding::bytes;
    if (h.compare(0, utf8_mark.size(), utf8_mark) == 0) h.erase(0, utf8_mark.size());
  }
}

}  // namespace

std::string_view decode_text(TextDecoder& d, std::string_view chunk, bool at_end) {
  if (d.encoding == TextEncoding::bytes) return chunk;
  if (d.encoding == TextEncoding::unknown && d.held.empty() && chunk.size() >= 3 &&
      chunk.compare(0, 2, "\xFF\xFE") != 0 && chunk.compare(0, 2, "\xFE\xFF") != 0) {
    // Bytes as they are, told from the first chunk alone: no copy of it.
    d.encoding = TextEncoding::bytes;
    if (chunk.compare(0, 3, "\xEF\xBB\xBF") == 0) chunk.remove_prefix(3);
    return chunk;
  }
  if (d.encoding == TextEncoding::unknown) {
    d.held.append(chunk);
    tell_encoding(d, at_end);
    if (d.encoding == TextEncoding::unknown) return {};
    chunk = {};
    if (d.encoding == TextEncoding::bytes) {
      d.decoded = std::move(d.held);
      d.held.clear();
      return d.decoded;
    }
  }
  d.decoded = decode_utf16(d, chunk);
  if (at_end && !d.held.empty()) {
    d.held.clear();
    d.decoded += "\xEF\xBF\xBD";  // half a UTF-16 character: U+FFFD
  }
  return d.decoded;
}
