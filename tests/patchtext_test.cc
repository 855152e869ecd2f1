#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "codes.h"
#include "patch_parser.h"
#include "text_encoding.h"

namespace {

// The merged glyphs of `text` as "CODE: r0 r1 ... r7", a row not given as
// "--", then its warnings, one "/ LINE: TEXT" each.
std::string parsed(std::string_view text) {
  PatchText p = parse_font_patch(text);
  merge_patch_glyphs(p);
  std::string out;
  for (const PatchGlyph& g : p.glyphs) {
    out += (out.empty() ? "" : " | ") + hex_text(g.code) + ":";
    for (uint8_t row : g.rows) out += (row & kRowGiven) ? " " + hex_text(row & kRowBits, 2) : " --";
  }
  for (const PatchWarning& w : p.warnings) out += " / " + std::to_string(w.line) + ": " + w.text;
  return out;
}

// A header and eight copies of one row line.
std::string glyph(const std::string& header, const std::string& row) {
  std::string text = header + "\n";
  for (int i = 0; i < 8; ++i) text += row + "\n";
  return text;
}

const char kLetterA[] =
    "; letter A\n@41\n0001000\n0010100\n0100010\n0100010\n0111110\n0100010\n0100010\n0000000\n";

// `text` as the bytes of UTF-16, little-endian or `big`-endian, unit by unit.
std::string utf16(const std::u16string& text, bool big = false) {
  std::string out;
  for (char16_t unit : text) {
    out += static_cast<char>(big ? unit >> 8 : unit & 0xFF);
    out += static_cast<char>(big ? unit & 0xFF : unit >> 8);
  }
  return out;
}

// The warning of a glyph cut short after `rows` rows.
std::string cut(const char* code, int rows) {
  return "glyph " + std::string(code) + " ends after " + std::to_string(rows) +
         " of its 8 rows; the others keep their old bytes";
}

TEST(FontPatch, TextsGiveTheseRowsAndWarnings) {
  // Each text and what it parses to.
  const std::pair<std::string, std::string> cases[] = {
      // The eighth byte on is ignored; every byte but '0' is set, space included.
      // Short rows, two of them within the eight bytes that a row of seven columns takes.
      {"@1\n000\n000\n0000000\n", "1: 0F 0F 00 -- -- -- -- -- / 1: " + cut("0x1", 3)},
      {"@1\n1111111\n1000000\r \nx.x.x-x\n 0 0 0 \n0111111\n000\n\n0\xFF",
       "1: 7F 40 7F 55 3F 0F 7F 3F / 4: '.' in this row sets a pixel: only '0' is a clear column "
       "(said of the first such row only)"},
      // Other tools' clear pixels are said of once, also past the fast path's reach.
      {"@1\n000000-\n0_00000\n@2\n00",
       "1: 01 20 -- -- -- -- -- -- | 2: 1F -- -- -- -- -- -- -- / 1: " + cut("0x1", 2) +
           " / 2: '-' in this row sets a pixel: only '0' is a clear column (said of the first such "
           "row only) / 4: " +
           cut("0x2", 1)},
      // Byte-order marks of text saved by Windows tools: the same text without them.
      {"\xEF\xBB\xBF" + std::string(kLetterA), "41: 08 14 22 22 3E 22 22 00"},
      {utf16(u"\xFEFF" + std::u16string(std::begin(kLetterA), std::end(kLetterA) - 1), true),
       "41: 08 14 22 22 3E 22 22 00"},
      // A character is its UTF-8 bytes; half a surrogate pair is U+FFFD.
      {utf16(u"\xFEFF@1\n\U00010000000\n\xD800\xE000"
             u"0\n\xDC00\xDC01"
             u"0"),
       "1: 78 7E 7E -- -- -- -- -- / 1: " + cut("0x1", 3)},
      {"@1", " / 1: " + cut("0x1", 0)},  // too short for a byte-order mark
      // Glyphs sorted by code, all 28 bits of it.
      {glyph("@2000", "0") + glyph("@1FFF", "0"),
       "1FFF: 3F 3F 3F 3F 3F 3F 3F 3F | 2000: 3F 3F 3F 3F 3F 3F 3F 3F"},
      {"\xEF\xBB@1\n" + std::string(8, '\n'), ""},
      // Nothing after a Ctrl-Z counts, half a UTF-16 unit at the end included.
      {utf16(u"\xFEFF@1\n0000000\n\x1A") + "x", "1: 00 -- -- -- -- -- -- -- / 1: " + cut("0x1", 1)},
      // Comments of a row's length, too, which a whole-line path could take for rows.
      {"A41\nfree "
       "text\n0000000\n@2\n0000000\n;c\n#c\n#000000\n;000000\r\n#0000000\n0000001\n0000010\n"
       "0000011\n0000100\n0000101\n0000110\n0000111\n0001000\nstray\n",
       "2: 00 01 02 03 04 05 06 07"},
      {std::string("@1\n0000000\n00\x1A") + "0000\n0000000\n@2\n",
       "1: 00 1F -- -- -- -- -- -- / 1: " + cut("0x1", 2)},
      {glyph("@0", "1") + glyph("@-5", "1") + glyph("@10000000", "1") + glyph("@FFFFFFFF", "1") +
           glyph("@FFFFFFF", "0000011") + glyph("@1", "0000001"),
       "1: 01 01 01 01 01 01 01 01 | FFFFFFF: 03 03 03 03 03 03 03 03 / 1: code 0 cannot be "
       "patched; glyph skipped / 10: code -0x5 is negative; glyph skipped / 19: code 0x10000000 "
       "is past the largest code 0xFFFFFFF; glyph skipped / 28: code -0x1 is negative; glyph "
       "skipped"},
      // Headers as C's "%x" reads them: a sign, a leading 0x or 0, digits modulo 2^32.
      {glyph("@0x", "1") + glyph("@x41", "1") + glyph("@ - 1", "1") + glyph("@00x41", "1") +
           glyph("@-0", "1") + glyph("@123456789abcdef", "1") + glyph("@+7fffffff", "1"),
       " / 1: code 0 cannot be patched; glyph skipped / 10: header has no hexadecimal code; the "
       "rows "
       "after it are ignored / 19: header has no hexadecimal code; the rows after it are ignored / "
       "28: code 0 cannot be patched; glyph skipped / 37: code 0 cannot be patched; glyph skipped "
       "/ "
       "46: code -0x76543211 is negative; glyph skipped / 55: code 0x7FFFFFFF is past the largest "
       "code 0xFFFFFFF; glyph skipped"},
      // Glyphs of the usual shape but for one line: 8 digits, a CR LF header
      // over LF rows, a CR among the columns, a row short before a header.
      {glyph("@1234567", "0000001") + glyph("@12345678", "1") + glyph("@3\r", "0000011") +
           glyph("@4", "1\r00000") + "@5\n0000000\n" + glyph("@6", "1000000"),
       "3: 03 03 03 03 03 03 03 03 | 4: 60 60 60 60 60 60 60 60 | 5: 00 -- -- -- -- -- -- -- | "
       "6: 40 40 40 40 40 40 40 40 | 1234567: 01 01 01 01 01 01 01 01 / 10: code 0x12345678 is "
       "past the largest code 0xFFFFFFF; glyph skipped / 37: " +
           cut("0x5", 1)},
      // Warnings in line order, those of repeats among the others.
      {glyph("@43", "0000001") + kLetterA + "@43\n1111111\n0000000\n@7\n",
       "41: 08 14 22 22 3E 22 22 00 | 43: 7F 00 01 01 01 01 01 01 / 20: " + cut("0x43", 2) +
           " / 20: code 0x43 was already given at line 1; the later rows win / 23: " +
           cut("0x7", 0)},
  };
  for (const auto& [text, result] : cases) EXPECT_EQ(parsed(text), result) << text;
}

TEST(TextEncoding, UTF16ReadsAsUTF8) {
  TextDecoder decoders[2];  // little-endian, then big-endian
  const std::string text = utf16(u"\uFEFFA\u00E9\u0800\u4E00\U00010000\xD800\xE000\xDC00");
  EXPECT_EQ(
      decode_text(decoders[0], text, true),
      "A\xC3\xA9\xE0\xA0\x80\xE4\xB8\x80\xF0\x90\x80\x80\xEF\xBF\xBD\xEE\x80\x80\xEF\xBF\xBD");
  EXPECT_EQ(decode_text(decoders[1], utf16(u"\xFEFF\x0400", true) + "x", true),
            "\xD0\x80\xEF\xBF\xBD");
}

TEST(FontPatch, HeaderNumbersReadAsPercentX) {
  for (const char* header : {"@41", "@0x41", "@0X41", "@ 41", "@\t+41", "@41h", "@100000041",
                             "@0000000041", "@41 ; A", "@\v41", "@\f41", "@\r41"}) {
    EXPECT_EQ(parsed(glyph(header, "1111111")), "41: 7F 7F 7F 7F 7F 7F 7F 7F") << header;
  }
}

}  // namespace
