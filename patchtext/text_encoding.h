// How the bytes of a text spell it, told by its first bytes: a byte-order
// mark of UTF-16 (as Windows tools save text) or of UTF-8 is read past, and
// UTF-16 is read as the same text in UTF-8.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum class TextEncoding : uint8_t { unknown, bytes, utf16le, utf16be };

// A text being read chunk by chunk.
struct TextDecoder {
  TextEncoding encoding = TextEncoding::unknown;
  std::string held;     // first bytes until the encoding is known, or a
                        // UTF-16 unit or pair cut by the end of a chunk
  std::string decoded;  // the text handed out last, when it is not `chunk` itself
};

// The text of the next `chunk` of bytes in UTF-8, without a byte-order mark:
// `chunk` itself when it needs no decoding, else valid until the next call.
// `at_end` when no chunk follows: what is held then goes out, half a UTF-16
// character as U+FFFD.
std::string_view decode_text(TextDecoder& decoder, std::string_view chunk, bool at_end);
