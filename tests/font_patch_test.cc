#include "font_patch.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

// The merged glyphs of a parse as "CODE: r0 r1 ... r7", a row not given as
// "--"; with `warnings`, then its warnings, one "LINE: TEXT" line each.
std::string merged(PatchParser p, bool warnings = false) {
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
  if (!warnings) return out;
  out.clear();
  for (const PatchWarning& w : p.warnings) out += std::to_string(w.line) + ": " + w.text + "\n";
  return out;
}

std::string glyphs_of(std::string_view text) { return merged(parse_font_patch(text)); }

std::string warnings_of(std::string_view text) { return merged(parse_font_patch(text), true); }

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
  // The eighth row completes the glyph: it is there before the text goes on.
  PatchParser p;
  parse_patch_chunk(p, kLetterA, sizeof kLetterA - 1);
  EXPECT_EQ(p.glyphs.size(), 1u);
}

TEST(FontPatchRows, CommentsAndStrayLinesTakeNoRow) {
  // Comments of a row's length, too, which a whole-line path could take for rows.
  EXPECT_EQ(glyphs_of("free text\n0000000\n@2\n0000000\n;c\n#c\n#000000\n;000000\r\n"
                      "#0000000\n0000001\n0000010\n"
                      "0000011\n0000100\n0000101\n0000110\n0000111\n0001000\nstray\n"),
            "2: 00 01 02 03 04 05 06 07");
  // A CR that no LF follows is a column past the seventh, not a line end.
  EXPECT_EQ(glyphs_of("@1\n0000010\rx0000001\n0000011\r 0000100\n"), "1: 02 03 -- -- -- -- -- --");
}

TEST(FontPatchLineEnds, CtrlZEndsTheText) {
  EXPECT_EQ(glyphs_of("@1\n0000000\n00\x1A"
                      "0000\n0000000\n@2\n"),
            "1: 00 1F -- -- -- -- -- --");
  EXPECT_EQ(warnings_of("@1\n\x1A\n0000000\n"),
            "1: glyph 0x1 ends after 0 of its 8 rows; the others keep their old bytes\n");
}

TEST(FontPatchLineEnds, AnyChunkingGivesTheSameResult) {
  // Chunks of one buffer: a read past the end of one sees the next bytes.
  const std::string text = "@41\n0001000\r\n@4Z\n1111111\n@43\r\n0000011\r 0000100\n@44";
  for (size_t cut = 1; cut <= text.size(); ++cut) {
    PatchParser p;
    for (size_t at = 0; at < text.size(); at += cut)
      parse_patch_chunk(p, text.data() + at, std::min(cut, text.size() - at));
    finish_patch_parse(p);
    EXPECT_EQ(merged(p) + merged(p, true), glyphs_of(text) + warnings_of(text)) << cut;
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
                             "@0000000041", "@41 ; A", "@\v41", "@\f41", "@\r41"}) {
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
  std::string text = glyph("@43", "0000001") + kLetterA + "@43\n1111111\n0000000\n@7\n";
  EXPECT_EQ(glyphs_of(text), "41: 08 14 22 22 3E 22 22 00 | 43: 7F 00 01 01 01 01 01 01");
  // Warnings in line order, those of repeats among the others.
  EXPECT_EQ(warnings_of(text),
            "20: glyph 0x43 ends after 2 of its 8 rows; the others keep their old bytes\n"
            "20: code 0x43 was already given at line 1; the later rows win\n"
            "23: glyph 0x7 ends after 0 of its 8 rows; the others keep their old bytes\n");
  // Sorted on all 28 bits, the later of repeated codes last.
  EXPECT_EQ(glyphs_of("@FFFFFFF\n1111111\n@1000080\n0000101\n@80\n0000001\n@4000\n0000010\n"
                      "@200000\n0000011\n@80\n0000100\n"),
            "80: 04 -- -- -- -- -- -- -- | 4000: 02 -- -- -- -- -- -- -- | 200000: 03 -- -- -- -- "
            "-- -- -- | 1000080: 05 -- -- -- -- -- -- -- | FFFFFFF: 7F -- -- -- -- -- -- --");
}

}  // namespace
