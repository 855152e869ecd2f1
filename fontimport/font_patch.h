// The font-patch text parser: bytes in, glyph rows and warnings out. It
// touches no file, so it can be tested, fuzzed and measured on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Set in PatchGlyph::rows[i] when the patch gives row i; the low seven bits
// are the row's columns and bit 7 of a written byte is always 0.
constexpr uint8_t kRowGiven = 0x80;
constexpr uint8_t kRowBits = 0x7F;

// Each byte of a 64-bit word set to 1: multiplied by a byte, that byte in
// every place, so that eight rows or columns are handled at once.
constexpr uint64_t kEachByte = 0x0101010101010101u;

// The smallest code that cannot be patched: its slot would not fit a signed
// 32-bit file offset.
constexpr uint32_t kCodeLimit = 1u << 28;

// The rows that a patch gives for one code.
struct PatchGlyph {
  uint32_t code;    // 1 to kCodeLimit - 1
  uint32_t line;    // line of its header (capped at UINT32_MAX)
  uint8_t rows[8];  // row i is given when rows[i] & kRowGiven
};

// A warning about one line of a patch.
struct PatchWarning {
  uint64_t line;
  std::string text;
};

// Reads "%x" style: white space, sign, 0x, hex digits; one byte at a time.
struct HexScan {
  uint8_t stage = 0;  // 0 blanks, 1 after sign, 2 after a leading 0, 3 digits, 4 done
  bool negative = false;
  bool digits = false;
  uint32_t value = 0;  // modulo 2^32, as the digits come
};

// How the bytes of a patch spell its text, told by its first bytes: a
// byte-order mark of UTF-16 (as Windows tools save text) or of UTF-8 is
// read past, and UTF-16 is read as the same text in UTF-8.
enum class PatchEncoding : uint8_t { unknown, bytes, utf16le, utf16be };

// A parse in progress: what it has found so far and where it stands.
struct PatchParser {
  std::vector<PatchGlyph> glyphs;      // complete or cut-short glyphs, file order
  std::vector<PatchWarning> warnings;  // in line order
  uint64_t line = 1;                   // number of the line being read
  bool ended = false;                  // a Ctrl-Z byte ended the text
  uint8_t line_kind = 0;               // see kLine* in font_patch.cc
  uint8_t columns = 0;                 // columns read of the current row line
  uint8_t bits = 0;                    // their values, first column highest
  HexScan hex;                         // the number of the current header line
  int row = -1;                        // next row of `glyph`, -1 when none is open
  PatchGlyph glyph{};                  // the glyph being read
  bool told_drawing = false;           // a row drawn with '.', '-', '_' or ' ' was warned of
  PatchEncoding encoding = PatchEncoding::unknown;
  std::string held;  // first bytes until the encoding is known, or
                     // a UTF-16 unit or pair cut by the end of a chunk
};

// Feeds the next bytes of a patch; a line may run across any number of calls.
void parse_patch_chunk(PatchParser& parser, const char* data, size_t size);

// Ends the parse at the end of the input: finishes the last line and glyph.
void finish_patch_parse(PatchParser& parser);

// Parses a whole patch held in memory.
PatchParser parse_font_patch(std::string_view text);

// Sorts the glyphs by code and folds each repeated code into its first
// glyph, row by row, the later rows winning; warns of each repeat.
void merge_patch_glyphs(PatchParser& parser);

// Asks the system to back [data, data + size) with large pages where it can:
// a large patch then takes a few dozen page faults instead of thousands.
void advise_huge_pages(void* data, size_t size);

// Formats a code as a signed 32-bit value in hexadecimal, as "0x41" or "-0x5".
std::string format_code(uint32_t code);
