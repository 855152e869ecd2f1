#include "font_patch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>

namespace {

// The merged glyphs of `text` as "CODE: r0 r1 ... r7", a row not given as "--".
std::string glyphs_of(std::string_view text) {
  PatchParser p = parse_font_patch(text);
  merge_patch_glyphs(p);
  std::string out;
  for (const PatchGlyph& g : p.glyphs) {
    char part[16];
    (void)std::snprintf(part, sizeof part, "%s%X:", out.empty() ? "" : " | ",
                        static_cast<unsigned>(g.code));
    out += part;
    for (uint8_t row : g.rows) {
      (void)std::snprintf(part, sizeof part, (row & kRowGiven) ? " %02X" : " --", row & kRowBits);
      out += part;
    }
  }
  return out;
}

// The warnings of `text`, one "LINE: TEXT" line each.
std::string warnings_of(std::string_view text) {
  PatchParser p = parse_font_patch(text);
  merge_patch_glyphs(p);
  std::string out;
  for (const PatchWarning& w : p.warnings) out += std::to_string(w.line) + ": " + w.text + "\n";
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

TEST(FontPatchRows, ColumnsBecomeTheLowSevenBits) {
  EXPECT_EQ(glyphs_of(kLetterA), "41: 08 14 22 22 3E 22 22 00");
  // The eighth byte on is ignored; every byte but '0' is set, space included.
  EXPECT_EQ(glyphs_of("@1\n1111111\n10000001\nx.x.x.x\n 0 0 0 \n0111111\n000\n\n0\xFF"),
            "1: 7F 40 7F 55 3F 0F 7F 3F");
}

TEST(FontPatchRows, CommentsAndStrayLinesTakeNoRow) {
  // Comments of a row's length, too, which a whole-line path could take for rows.
  EXPECT_EQ(glyphs_of("free text\n0000000\n@2\n0000000\n;c\n#c\n#000000\n;000000\r\n"
                      "#0000000\n0000001\n0000010\n"
                      "0000011\n0000100\n0000101\n0000110\n0000111\n0001000\nstray\n"),
            "2: 00 01 02 03 04 05 06 07");
}

TEST(FontPatchLineEnds, CrLfAndLfGiveTheSameRows) {
  std::string lf = std::string(kLetterA) + "@42\n000\n\n0\n";
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(glyphs_of(crlf), glyphs_of(lf));
  EXPECT_EQ(warnings_of(crlf), warnings_of(lf));
}

TEST(FontPatchLineEnds, CtrlZEndsTheText) {
  EXPECT_EQ(glyphs_of("@1\n0000000\n00\x1A"
                      "0000\n0000000\n@2\n"),
            "1: 00 1F -- -- -- -- -- --");
  EXPECT_EQ(warnings_of("@1\n\x1A\n0000000\n"),
            "1: glyph 0x1 ends after 0 of its 8 rows; the others keep their old bytes\n");
}

TEST(FontPatchLineEnds, AnyChunkingGivesTheSameResult) {
  // Chunks of one byte never hold a whole line, so they also check the
  // whole-line paths against the byte-by-byte one.
  std::string text = std::string(kLetterA) + "@43\r\n0001000\r\n1111111xyz\n00000000\r\n\r\n#c\n" +
                     "0 0 0 0\r\n;0000000\n@0000000000044\n0011001\n@ -0x3\n0\n@+0x10\n" +
                     "0101\r\n0\x1A@5\n";
  PatchParser whole = parse_font_patch(text);
  EXPECT_EQ(glyphs_of(text),
            "10: 2F 3F -- -- -- -- -- -- | 41: 08 14 22 22 3E 22 22 00 | "
            "43: 08 7F 00 7F 2A -- -- -- | 44: 19 -- -- -- -- -- -- --");
  for (size_t cut = 0; cut <= text.size(); ++cut) {
    PatchParser p;
    for (size_t at = 0; at < text.size(); at += cut ? cut : 1) {
      parse_patch_chunk(p, text.data() + at, std::min(cut ? cut : 1, text.size() - at));
    }
    finish_patch_parse(p);
    ASSERT_EQ(p.glyphs.size(), whole.glyphs.size()) << "chunks of " << cut;
    for (size_t i = 0; i < p.glyphs.size(); ++i) {
      EXPECT_EQ(0, std::memcmp(&p.glyphs[i], &whole.glyphs[i], sizeof(PatchGlyph)));
    }
    ASSERT_EQ(p.warnings.size(), whole.warnings.size());
    for (size_t i = 0; i < p.warnings.size(); ++i) {
      EXPECT_EQ(p.warnings[i].line, whole.warnings[i].line);
      EXPECT_EQ(p.warnings[i].text, whole.warnings[i].text);
    }
  }
}

TEST(FontPatchLongLines, ALineIsOneLineWhateverItsLength) {
  // A long comment never turns into a row, and a long row is one row.
  std::string text = "@7\n;" + std::string(100000, '0') + "\n" + std::string(300, '0') + "1\n" +
                     "0000001" + std::string(254, 'x') + "\n";
  EXPECT_EQ(glyphs_of(text), "7: 00 01 -- -- -- -- -- --");
}

TEST(FontPatchHeaders, NumbersReadAsPercentX) {
  for (const char* header : {"@41", "@0x41", "@0X41", "@ 41", "@\t+41", "@41h", "@100000041",
                             "@0000000041", "@41 ; A"}) {
    EXPECT_EQ(glyphs_of(glyph(header, "1111111")), "41: 7F 7F 7F 7F 7F 7F 7F 7F") << header;
  }
#ifdef __GLIBC__
  // The C library's own "%x" is the reference for the codes it can read.
  for (const char* number : {"0x", "0xz", "-0", "-1", "+7fffffff", "-80000001", "123456789abcdef",
                             "00x41", "x41", "-", " - 1", "fffffff", "10000000", "ffffffff"}) {
    unsigned expected = 0;
    // NOLINTNEXTLINE(cert-err34-c): sscanf's own "%x", wrapping and all, is what is compared
    bool read = std::sscanf(number, "%x", &expected) == 1;
    PatchParser p = parse_font_patch(glyph(std::string("@") + number, "0"));
    bool ok = read && expected >= 1 && expected < kCodeLimit;
    ASSERT_EQ(p.glyphs.size(), ok ? 1u : 0u) << number;
    if (ok) {
      EXPECT_EQ(p.glyphs[0].code, expected) << number;
    }
    bool no_number =
        p.warnings.size() == 1 && p.warnings[0].text.find("no hexadecimal") != std::string::npos;
    EXPECT_EQ(no_number, !read) << number;
  }
#endif
}

TEST(FontPatchHeaders, AHeaderIsNeverARow) {
  // Five rows, then a header: rows 5 to 7 keep their old bytes and the
  // header's own characters are no row.
  std::string five = "0000000\n0000000\n0000000\n0000000\n0000000\n";
  EXPECT_EQ(glyphs_of("@41\n" + five + glyph("@000042", "0000000")),
            "41: 00 00 00 00 00 -- -- -- | 42: 00 00 00 00 00 00 00 00");
  EXPECT_EQ(warnings_of("@41\n" + five + glyph("@42", "0000000")),
            "1: glyph 0x41 ends after 5 of its 8 rows; the others keep their old bytes\n");
}

TEST(FontPatchHeaders, AHeaderWithNoNumberDropsItsRows) {
  EXPECT_EQ(glyphs_of(glyph("@41", "0000000") + glyph("@zz", "1111111")),
            "41: 00 00 00 00 00 00 00 00");
  EXPECT_EQ(glyphs_of(glyph("@", "1111111") + glyph("@42", "0000001")),
            "42: 01 01 01 01 01 01 01 01");
  EXPECT_EQ(warnings_of("x\n@zz\n"),
            "2: header has no hexadecimal code; the rows after it are ignored\n");
}

TEST(FontPatchCodes, CodesThatCannotBeWrittenAreSkipped) {
  std::string text = glyph("@0", "1") + glyph("@-5", "1") + glyph("@10000000", "1") +
                     glyph("@FFFFFFFF", "1") + glyph("@FFFFFFF", "0000011") +
                     glyph("@1", "0000001");
  EXPECT_EQ(glyphs_of(text), "1: 01 01 01 01 01 01 01 01 | FFFFFFF: 03 03 03 03 03 03 03 03");
  EXPECT_EQ(warnings_of(text),
            "1: code 0 cannot be patched; glyph skipped\n"
            "10: code -0x5 is negative; glyph skipped\n"
            "19: code 0x10000000 is past the largest code 0xFFFFFFF; glyph skipped\n"
            "28: code -0x1 is negative; glyph skipped\n");
}

TEST(FontPatchCodes, ARepeatedCodeTakesTheLaterRows) {
  std::string text = glyph("@43", "0000001") + kLetterA + "@43\n1111111\n0000000\n";
  EXPECT_EQ(glyphs_of(text), "41: 08 14 22 22 3E 22 22 00 | 43: 7F 00 01 01 01 01 01 01");
  EXPECT_EQ(warnings_of(text),
            "20: glyph 0x43 ends after 2 of its 8 rows; the others keep their old bytes\n"
            "20: code 0x43 was already given at line 1; the later rows win\n");
}

TEST(FontPatchCodes, MergeSortsByCodeAndKeepsFileOrderOfRepeats) {
  std::mt19937 random(7);
  std::string text;
  uint8_t expected[9 * 8] = {};
  for (int i = 0; i < 300; ++i) {
    int code = 1 + static_cast<int>(random() % 8);
    int row = static_cast<int>(random() % 8);
    int value = static_cast<int>(random() % 128);
    text += "@" + std::to_string(code) + "\n";
    for (int r = 0; r <= row; ++r) {
      for (int bit = 6; bit >= 0; --bit) text += ((value >> bit) & 1) ? '1' : '0';
      text += "\n";
      expected[code * 8 + r] = static_cast<uint8_t>(kRowGiven | value);
    }
  }
  PatchParser p = parse_font_patch(text);
  merge_patch_glyphs(p);
  uint8_t merged[9 * 8] = {};
  uint32_t previous = 0;
  for (const PatchGlyph& g : p.glyphs) {
    EXPECT_LT(previous, g.code);
    previous = g.code;
    for (int r = 0; r < 8; ++r) merged[g.code * 8 + r] = g.rows[r];
  }
  EXPECT_EQ(0, std::memcmp(merged, expected, sizeof merged));
}

}  // namespace
