#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "codes.h"
#include "font_formats.h"
#include "font_select.h"
#include "font_writers.h"
#include "test_fonts.h"

namespace {

// `count` glyphs of `size` bytes each, byte k of them being k mod 251.
std::string glyph_bytes(size_t count, size_t size) {
  std::string bytes(count * size, '\0');
  for (size_t k = 0; k < bytes.size(); ++k) bytes[k] = static_cast<char>(k % 251);
  return bytes;
}

// A PSF 1 font of MODE and HEIGHT, its glyphs, then `tail`.
std::string psf1(int mode, int height, const std::string& tail = "") {
  return std::string{0x36, 0x04, static_cast<char>(mode), static_cast<char>(height)} +
         glyph_bytes(mode & 1 ? 512 : 256, static_cast<size_t>(height)) + tail;
}

// A PSF 2 font of the header words VERSION, HEADER SIZE, FLAGS, COUNT,
// BYTES, HEIGHT and WIDTH, padded to its size; its glyphs, then `tail`.
std::string psf2(std::array<uint32_t, 7> words, const std::string& tail = "") {
  std::string out = "\x72\xB5\x4A\x86";
  for (uint32_t w : words)
    for (int b = 0; b < 32; b += 8) out += static_cast<char>(w >> b);
  out.resize(std::max<size_t>(out.size(), words[1]), '\0');
  return out + glyph_bytes(words[3], words[4]) + tail;
}

std::string gzip(const std::string& data) {
  std::string out(compressBound(data.size()) + 32, '\0');
  z_stream z{};
  deflateInit2(&z, Z_BEST_SPEED, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

const char kBdfHead[] = "STARTFONT 2.1\nFONTBOUNDINGBOX 8 8 0 -1\n";

// A BDF font: the head, then one glyph of BBX `box` and rows `bitmap`.
std::string bdf(const std::string& box, const std::string& bitmap,
                const std::string& head = kBdfHead) {
  return head + "STARTCHAR A\nENCODING 65\nBBX " + box + "\nBITMAP\n" + bitmap +
         "ENDCHAR\nENDFONT\n";
}

TEST(FontFormats, EachFormatReadsItsGlyphsOrFailsWithItsLine) {
  const std::string bad_table = "0: the Unicode table is damaged or cut short";
  const std::string not_hex = "not a line of a hex font: expected CODE:HEXDIGITS";
  const std::string a = "glyph 'A' (ENCODING 65) ";
  const std::string head = kBdfHead;
  const std::string cell = "STARTFONT 2.1\nFONTBOUNDINGBOX ";
  const std::string zeros(16, '0');
  struct Case {
    std::string data;
    std::string font;  // the start of its description
    bool unicode = false;
  } cases[] = {
      {psf1(0, 8),
       "PSF 1 8x8 256 0/0=0001020304050607 (254) FF/FF=2021222324252627; 0: the font has no "
       "Unicode table: codes are glyph positions<",
       true},
      // Every code point once, none of a sequence; an entry of only a sequence has no code.
      {psf1(2, 8,
            std::string("A\0\xFE\xFF"
                        "B\0C\0\xFF\xFF\xFE\xFF"
                        "D\0\xFF\xFF\x3A\x26\x3B\x26\x3A\x26",
                        22) +
                std::string(size_t{254} * 2, '\xFF')),
       "PSF 1 8x8 256 U 41/0=0001020304050607 (1) 263B/2=1011121314151617<", true},
      {psf1(4, 8, std::string("A\0", 2)), bad_table, true},
      {psf1(4, 8, "A"), bad_table, true},  // cut in the middle of a code point
      {psf1(0, 9), "0: the glyphs are 8x9: only glyphs of up to 8 rows and 8 columns convert<"},
      {psf1(0, 6), "PSF 1 8x6 256 0/0=0001020304050000 (254) FF/FF=18191A1B1C1D0000<"},
      {psf2({0, 32, 1, 3, 8, 8, 8}, "A\xFF\xFE\x42\xFF\xE0\xA0\x80\xE2\x98\xBB\xFE\xFF"),
       "PSF 2 8x8 3 U 41/0=0001020304050607 (1) 263B/2=1011121314151617<", true},
      // Set padding bits past the width are no pixels.
      {psf2({0, 32, 0, 32, 8, 8, 1}),
       "PSF 2 1x8 32 0/0=0000000000000000 (30) 1F/1F=8080800000000000<"},
      {psf2({0, 32, 1, 4, 8, 8, 5}, "\xF0\x9F\x98\x80\xFF\xC3\xA9\xFF\xFF\x7F\xFF"),
       "PSF 2 5x8 4 U 1F600/0=0000000000000000 (1) 7F/3=1818181818181818<", true},
      {psf2({0, 32, 1, 1, 8, 8, 8}, "\xE2\x98"), bad_table, true},
      {psf2({0, 32, 1, 1, 8, 8, 8}, "\x80\xFF"), bad_table, true},  // a lone continuation byte
      {psf2({0, 32, 1, 1, 8, 8, 8}, "\xF8\x80\x80\x80\xFF"), bad_table, true},  // no UTF-8 lead
      {psf2({0, 32, 1, 2, 8, 8, 8}, "A\xFF"), bad_table, true},
      {psf2({0, 32, 0, 1, 7, 8, 1}), "0: the header gives 7 bytes a glyph, too few for 1x8<"},
      {psf2({0, 32, 0, 1, 16, 8, 9}), "0: the glyphs are 9x8:"},
      {psf2({1, 32, 0, 3, 8, 8, 8}), "0: PSF 2 version 1 is unknown<"},
      {psf2({0, 31, 0, 3, 8, 8, 8}), "0: the header size 31 is below 32<"},
      {psf2({0, 32, 0, 3, 8, 8, 8}).substr(0, 4), "0: the file is cut short in its header"},
      {psf2({0, 32, 0, 0, 8, 8, 8}), "PSF 2 8x8 0<"},
      {"\x72\xB5\x4A\x87" + zeros, "0: not a PSF font: the magic number is wrong<"},
      {"\x36\x04", "0: not a PSF font: the magic number is wrong<"},  // a PSF 1 header is 4 bytes
      // A box sits on the baseline of the cell; padding bits past its width are dropped.
      {bdf("3 2 1 0", "fA\na0\n"), "BDF 2.1 8x8 1 41/0=0000000000705000<"},
      {"\r\n " + bdf("1 1 7 -1", "90\r\n"), "BDF 2.1 8x8 1 41/0=0000000000000001<"},
      {bdf("1 8 0 -1", "80\n80\n80\n80\n80\n80\n80\nC0\n",
           "STARTFONT 2.1\nCOMMENT x\nSTARTPROPERTIES 2\nA 1\nSTARTCHAR "
           "B\nENDPROPERTIES\nFONTBOUNDINGBOX 1 8 0 -1\n"),
       "BDF 2.1 1x8 1 41/0=8080808080808080<"},
      {head + "STARTCHAR z\nENCODING 0\nBBX 0 0 0 0\nBITMAP\nENDCHAR\nENDFONT\n",
       "BDF 2.1 8x8 1 0/0=0000000000000000<"},
      // A box may pass the cell by blank columns and rows; a set pixel outside skips the glyph.
      {bdf("4 6 0 -1", "E0\n00\n20\nA0\n40\n00\n", cell + "3 5 0 0\n"),
       "BDF 2.1 3x5 1 41/0=0000E00020A04000<"},
      {head + "STARTCHAR n\nENCODING -5\nBBX 9 1 -1 0\nBITMAP\n8000\nENDCHAR\n" +
           bdf("16 1 0 0", "FF01\n", ""),
       "BDF 2.1 8x8 2; 11: " + a + "has set pixels outside the font's 8x8 cell, where its BBX " +
           "16 1 0 0 puts them; skipped<"},
      {bdf("1 2 0 -2147483648", "00\n00\n"), "BDF 2.1 8x8 1 41/0=0000000000000000<"},
      {bdf("4 1 -1 6", "10\n", cell + "3 8 0 -1\n"), "BDF 2.1 3x8 1 41/0=2000000000000000<"},
      {bdf("4 1 -1 6", "80\n", cell + "3 8 0 -1\n"), "BDF 2.1 3x8 1; 5: " + a + "has set"},
      {bdf("2 1 2 8", "80\n", cell + "3 8 0 -1\n"), "BDF 2.1 3x8 1; 5: " + a + "has set"},
      // A shorter cell keeps its baseline above the image's last row, moved only to fit.
      {bdf("2 2 0 0", "80\n40\n", cell + "5 7 0 -1\n"), "BDF 2.1 5x7 1 41/0=0000000000804000<"},
      {bdf("1 1 0 1", "80\n", cell + "5 7 0 1\n"), "BDF 2.1 5x7 1 41/0=0000000000008000<"},
      {bdf("1 1 0 -3", "80\n", cell + "5 6 0 -3\n"), "BDF 2.1 5x6 1 41/0=0000000000000080<"},
      {bdf("9 1 0 0", "FF\n"), "7: bad BITMAP row of glyph 'A' (ENCODING 65): expected 4"},
      {bdf("1 1 0 0", "G0\n"), "7: bad BITMAP row"},
      {bdf("1 1 0 0", "\n"), "7: bad BITMAP row"},
      {bdf("1 1 0 0", "00\n00\n"), "8: " + a + "has more BITMAP rows than the 1 of its BBX<"},
      {bdf("1 2 0 0", "00\n"), "8: " + a + "has 1 BITMAP rows; its BBX gives 2<"},
      {bdf("-1 1 0 0", ""), "5: bad BBX"},
      {bdf("1 1 0 -2147483649", ""), "5: bad BBX"},
      {head + "STARTCHAR A\nENCODING x\n", "4: bad ENCODING of glyph 'A'<"},
      {head + "STARTCHAR n\nENCODING -1\nBBX 1\n", "5: bad BBX of glyph 'n' (ENCODING -1)<"},
      {head + "STARTCHAR A\nENCODING 1\nBITMAP\n", "5: glyph 'A' (ENCODING 1) has no ENC"},
      {head + "STARTCHAR A\n", "3: glyph 'A' has no ENDCHAR<"},
      {head + "STARTCHAR A\nSTARTCHAR B\nBBX x\n", "4: glyph 'A' has no ENDCHAR<"},
      {head, "2: the font has no ENDFONT: it is cut short<"},
      {"STARTFONT 2.1\nSTARTCHAR A\n", "2: no FONTBOUNDINGBOX before the first glyph<"},
      {"STARTFONT 2.1\nFONTBOUNDINGBOX 8 8 0\n", "2: bad FONTBOUNDINGBOX<"},
      {"STARTFONT 2.1\nFONTBOUNDINGBOX 8 9 0 0\n",
       "2: the font's cell is 8x9: only fonts of up to 8 rows and 8 columns convert<"},
      {"STARTFONT 2.1\nFONTBOUNDINGBOX 9 8 0 0\n", "2: the font's cell is 9x8"},
      // Glyphs placed in one cell cannot move to another (found by fuzzing).
      {"STARTFONT 2.1\nFONTBOUNDINGBOX 8 8 0 0\nFONTBOUNDINGBOX 1 8 0 0\n",
       "3: FONTBOUNDINGBOX is given twice<"},
      {"STARTFONTS", "1: not a BDF font: no STARTFONT<"},
      {"# a\r\n\r\n#\r\n0041:0011223344556677\r\nffffffff:8899aabbccddeeff",
       "hex 8x8 2 41/0=0011223344556677 FFFFFFFF/1=8899AABBCCDDEEFF<"},
      {"41:" + zeros + zeros + "\n4E00:" + zeros + zeros + zeros + zeros,
       "hex 8x8 2; 1: glyph 41 is 8x16: only 8x8 glyphs convert; skipped; 2: glyph 4E00 is 16x16:"},
      {"41:" + zeros.substr(1) + "\n42:0", "1: glyph 41 has 15 hexadecimal digits: only"},
      {"41:" + zeros + "\n:0\n", "2: " + not_hex + "<"},
      {"41:" + zeros + "\n123456789:0\n", "2: " + not_hex},
      {"41:" + zeros.substr(1) + "g", "1: " + not_hex},
      {"#\n41", "0: not a font that converts: neither PSF 1 or 2, BDF nor a hex font<"},
      {":0\n", "0: not a font that converts"},
      {"A\x8B", "0: not a font that converts"},  // gzip starts 1F 8B
      {"\x1F\x8B", "0: the gzip data is cut short<"},
      {gzip("41:00") + gzip(zeros.substr(2)), "hex 8x8 1 41/0=0000000000000000<"},
      {"\x1F\x8B" + zeros, "0: the gzip data is damaged: unknown compression method<"},
      {gzip(std::string((64 << 20) + 1, '0')), "0: the gzip data unpacks to more than 64 MiB<"},
  };
  for (const Case& c : cases) {
    // The data at the very end of its block, so that the sanitizers catch a read past it.
    std::vector<char> exact(c.data.begin(), c.data.end());
    std::string_view data(exact.data(), exact.size());
    std::string font = describe(parse_font(data, c.unicode)) + "<";  // "<" marks the end
    EXPECT_EQ(font.substr(0, c.font.size()), c.font);
  }
}

TEST(FontSelect, MapsMoveAndTheFirstRangeWins) {
  Font font;
  font.count = 4;
  font.glyphs = {{0x41, 0, {0xFF}}, {0x42, 1, {0x01}},  {0x43, 2, {0x80}},
                 {0x44, 2, {0x80}}, {0x391, 0, {0xFE}}, {0xFFFFFFFF, 3, {0x01}}};
  std::vector<CodeRange> map;
  std::string error;
  ASSERT_TRUE(parse_code_map("41-42>0x61,42>61,42,0-41>FFFFFBF,43>0,FFFFFFFF>1,391=70,44,50-5F",
                             map, error));
  PatchPlan plan = plan_patch(font, map, DropSide::right);
  std::string codes;
  for (const FontGlyph& g : plan.glyphs) codes += std::to_string(g.code) + " ";
  for (const std::string& w : plan.warnings) codes += "; " + w;
  EXPECT_EQ(codes,
            "1 66 68 97 98 112 ; -m 50-5F selects no glyph of the font; 2 glyphs land on codes "
            "that a patch cannot write (0, or 0x10000000 and above), the first at 0x10000000: left "
            "out; 1 glyphs land on a code that another glyph takes first, the first at 0x61: left "
            "out; 4 glyphs lose set pixels of their rightmost column, which the image has no room "
            "for: 0x1, 0x42, 0x61, 0x62");
  EXPECT_EQ(plan.left_out, 0u);  // glyph 2 is in at 0x44, though not at 0x43
  EXPECT_EQ(plan.dropped, 0x01);
  // Unasked, the column with fewer set pixels goes (3 against 4), the rightmost on a tie, the
  // leftmost when neither has any.
  EXPECT_EQ(plan_patch(font, map, DropSide::fewest).dropped, 0x80);
  const std::pair<uint8_t, uint8_t> edges[] = {
      {0xFF, 0x01}, {0x80, 0x01}, {0x01, 0x80}, {0x7E, 0x80}};
  for (const auto& [row, dropped] : edges) {
    Font edge;
    edge.count = 1;
    edge.glyphs.push_back({0x41, 0, {row}});
    EXPECT_EQ(plan_patch(edge, {{0x41, 0x41, 0x41}}, DropSide::fewest).dropped, dropped) << +row;
  }
  font.width = 7;
  plan = plan_patch(font, default_code_map(), DropSide::left);
  EXPECT_EQ(plan.left_out * 100u + plan.dropped * 10u + plan.lost_pixels, 100u);
  // Each map adds its ranges, as FIRST-LAST=TARGET, to those before it; a bad one adds none.
  const std::pair<std::string_view, const char*> maps[] = {
      {"FFFFFFFF,0-Aa>0XfF,FF61-FF9F=A1", "FFFFFFFF-FFFFFFFF=FFFFFFFF 0-AA=FF FF61-FF9F=A1 "},
      {std::string_view("4142", 2), "41-41=41 "},  // nothing past its end
      {"FF61-ZZ", "'FF61-ZZ' is not a hexadecimal range"},
      {"41-40", "'41-40' ends below its first code"},
      {"1-100000000", "'1-100000000' has a code past FFFFFFFF"},
      {"41,", "'41,' has an empty range"},
  };
  for (const auto& [text, want] : maps) {
    size_t before = map.size();
    std::string ranges;
    if (!parse_code_map(text, map, error)) ranges = error;
    for (size_t i = before; i < map.size(); ++i) {
      ranges += hex_text(map[i].first) + "-" + hex_text(map[i].last) + "=" +
                hex_text(map[i].target) + " ";
    }
    EXPECT_EQ(ranges, want);
  }
  for (const char* bad : {"0x", "x1", "41>", "41=", "41-", "41>42>43", "41=42-43", "41 ", "=41"}) {
    EXPECT_FALSE(parse_code_map(bad, map, error));
    EXPECT_EQ(error, "'" + std::string(bad) + "' is not a hexadecimal range");
  }
  EXPECT_EQ(image_row(0xFF, 0x80), 0x7F);
}

// ---- The font writers: exact bytes, and every glyph read back by the parsers ----

// The hex writer, checked first, then lists the codes and rows of glyphs.
TEST(FontWriters, WriteExactBytesThatTheParsersReadBack) {
  std::vector<FontGlyph> glyphs = {{0x41, 0, {0xFF, 0x80, 0x01, 0, 0, 0, 0, 0x7E}}};
  std::string error;
  std::string psf = write_psf_font(glyphs, error);
  const std::pair<std::string, std::string> cases[] = {
      {write_hex_font(glyphs), "0041:FF8001000000007E\n"},
      {psf, psf2({0, 32, 0, 256, 8, 8, 8}).substr(0, 32) + std::string(0x208, '\0') +
                std::string("\xFF\x80\x01\0\0\0\0\x7E", 8) + std::string(0x5F0, '\0')},
      {write_bdf_font(glyphs, "C:\\rom/SUB-SYS,CG\x7F.ROM"),
       // clang-format off
       "STARTFONT 2.1\nFONT -zenpo-SUB_SYS_CG_.ROM-Medium-R-Normal--8-80-72-72-C-80-"
       "FontSpecific-0\nSIZE 8 72 72\nFONTBOUNDINGBOX 8 8 0 -1\nSTARTPROPERTIES 16\n"
       "FOUNDRY \"zenpo\"\nFAMILY_NAME \"SUB_SYS_CG_.ROM\"\nWEIGHT_NAME \"Medium\"\nSLANT \"R\"\n"
       "SETWIDTH_NAME \"Normal\"\nADD_STYLE_NAME \"\"\nPIXEL_SIZE 8\nPOINT_SIZE 80\n"
       "RESOLUTION_X 72\nRESOLUTION_Y 72\nSPACING \"C\"\nAVERAGE_WIDTH 80\n"
       "CHARSET_REGISTRY \"FontSpecific\"\nCHARSET_ENCODING \"0\"\nFONT_ASCENT 7\nFONT_DESCENT 1\n"
       "ENDPROPERTIES\nCHARS 1\nSTARTCHAR C0041\nENCODING 65\nSWIDTH 1000 0\nDWIDTH 8 0\n"
       "BBX 8 8 0 -1\nBITMAP\nFF\n80\n01\n00\n00\n00\n00\n7E\nENDCHAR\nENDFONT\n"},
      // clang-format on
  };
  for (const auto& [written, want] : cases) EXPECT_EQ(written, want);
  glyphs = {{1, 0, {0xFF, 0x80, 1, 0, 0, 0, 0, 0xFF}}, {0x20, 1, {}}, {0xFFF, 2, {0x80, 1, 0x7F}}};
  psf = write_psf_font(glyphs, error);
  std::vector<FontGlyph> positions;  // 0x1000, blank but the three
  for (uint32_t code = 0; code <= 0xFFF; ++code) positions.push_back({code, code, {}});
  for (const FontGlyph& g : glyphs) positions[g.code] = g;
  EXPECT_EQ(write_hex_font(parse_psf(psf, false).glyphs), write_hex_font(positions));
  glyphs.insert(glyphs.end(), {{0x10000, 3, {0x80}}, {0xFFFFFFF, 4, {0x01, 0xFF}}});
  EXPECT_EQ(write_psf_font(glyphs, error), "");
  EXPECT_EQ(error,
            "code 0xFFFFFFF is past 0xFFF, the last code written to a PSF font, which holds a "
            "glyph at every position up to its last code: write a .txt, .bdf or .hex font instead");
  EXPECT_EQ(write_hex_font(parse_bdf(write_bdf_font(glyphs, "f")).glyphs), write_hex_font(glyphs));
  EXPECT_EQ(write_hex_font(parse_hex_font(write_hex_font(glyphs)).glyphs), write_hex_font(glyphs));
}

}  // namespace
