// BDF: the cell is 8x8 with its lower left corner one row below the
// baseline (FONTBOUNDINGBOX 8 8 0 -1), which parse_bdf puts back on the
// image's cell as it was; every glyph fills the whole cell, so no bit of
// any row is lost. The font is told at 72 dpi, where 8 pixels are 8 points.
//
// PSF: always version 2, whose header gives width and glyph count: one
// layout for a font of 256 glyphs and for one of 4096, where PSF 1 holds
// only 256 or 512.
#include "font_writers.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "codes.h"

namespace {

// X11 fonts index their glyphs by 16 bits: bdftopcf drops codes past it.
constexpr uint32_t kX11LastCode = 0xFFFF;

// The family of the XLFD name: the last part of the path `name`, with the
// characters that XLFD fields cannot hold replaced by '_'.
std::string family_name(std::string_view name) {
  size_t folder = name.find_last_of("/\\");
  if (folder != std::string_view::npos) name.remove_prefix(folder + 1);
  std::string family(name.empty() ? "unnamed" : name);
  for (char& c : family) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F || std::string_view("-?*,\"").find(c) != std::string_view::npos)
      c = '_';
  }
  return family;
}

// The properties of the BDF font, the XLFD name's fields among them.
std::vector<std::string> bdf_properties(const std::vector<FontGlyph>& glyphs,
                                        const std::string& family) {
  std::vector<std::string> properties = {"FOUNDRY \"zenpo\"",
                                         "FAMILY_NAME \"" + family + "\"",
                                         "WEIGHT_NAME \"Medium\"",
                                         "SLANT \"R\"",
                                         "SETWIDTH_NAME \"Normal\"",
                                         "ADD_STYLE_NAME \"\"",
                                         "PIXEL_SIZE 8",
                                         "POINT_SIZE 80",
                                         "RESOLUTION_X 72",
                                         "RESOLUTION_Y 72",
                                         "SPACING \"C\"",
                                         "AVERAGE_WIDTH 80",
                                         "CHARSET_REGISTRY \"FontSpecific\"",
                                         "CHARSET_ENCODING \"0\"",
                                         "FONT_ASCENT 7",
                                         "FONT_DESCENT 1"};
  // A missing character drawn as a blank cell keeps a text's columns in line.
  auto blank = std::find_if(glyphs.begin(), glyphs.end(), [](const FontGlyph& g) {
    return g.code <= kX11LastCode &&
           std::all_of(g.rows, g.rows + 8, [](uint8_t r) { return r == 0; });
  });
  if (blank != glyphs.end()) properties.push_back("DEFAULT_CHAR " + std::to_string(blank->code));
  return properties;
}

// The BDF font up to its first glyph.
std::string bdf_header(const std::vector<FontGlyph>& glyphs, std::string_view name) {
  std::string family = family_name(name);
  std::string out = "STARTFONT 2.1\n";
  if (std::any_of(glyphs.begin(), glyphs.end(),
                  [](const FontGlyph& g) { return g.code > kX11LastCode; })) {
    out += "COMMENT Codes past FFFF are beyond X11's 16-bit encodings: bdftopcf leaves them out.\n";
  }
  out += "FONT -zenpo-" + family + "-Medium-R-Normal--8-80-72-72-C-80-FontSpecific-0\n";
  out += "SIZE 8 72 72\nFONTBOUNDINGBOX 8 8 0 -1\n";
  std::vector<std::string> properties = bdf_properties(glyphs, family);
  out += "STARTPROPERTIES " + std::to_string(properties.size()) + "\n";
  for (const std::string& property : properties) out += property + "\n";
  return out + "ENDPROPERTIES\nCHARS " + std::to_string(glyphs.size()) + "\n";
}

}  // namespace

std::string write_bdf_font(const std::vector<FontGlyph>& glyphs, std::string_view name) {
  std::string out = bdf_header(glyphs, name);
  for (const FontGlyph& g : glyphs) {
    out += "STARTCHAR C" + hex_text(g.code, 4) + "\nENCODING " + std::to_string(g.code) +
           "\nSWIDTH 1000 0\nDWIDTH 8 0\nBBX 8 8 0 -1\nBITMAP\n";
    for (uint8_t row : g.rows) out += hex_text(row, 2) + "\n";
    out += "ENDCHAR\n";
  }
  return out + "ENDFONT\n";
}

std::string write_psf_font(const std::vector<FontGlyph>& glyphs, std::string& error) {
  uint32_t last = 0;
  for (const FontGlyph& g : glyphs) last = std::max(last, g.code);
  if (last > kPsfLastCode) {
    error = "code " + hex_code(last) + " is past " + hex_code(kPsfLastCode) +
            ", the last code written to a PSF font, which holds a glyph at every position up to "
            "its last code: write a .txt, .bdf or .hex font instead";
    return {};
  }
  uint32_t count = std::max<uint32_t>(256, last + 1);
  // Magic, version, header size, flags (no Unicode table), count, bytes a glyph, height, width.
  const uint32_t header[8] = {0x864AB572, 0, 32, 0, count, 8, 8, 8};
  std::string bytes;
  for (uint32_t word : header)
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>(word >> shift);
  bytes.resize(sizeof header + size_t{count} * 8, '\0');
  for (const FontGlyph& g : glyphs)
    std::memcpy(&bytes[sizeof header + size_t{g.code} * 8], g.rows, 8);
  return bytes;
}

std::string write_hex_font(const std::vector<FontGlyph>& glyphs) {
  std::string out;
  for (const FontGlyph& g : glyphs) {
    out += hex_text(g.code, 4) + ":";
    for (uint8_t row : g.rows) out += hex_text(row, 2);
    out += "\n";
  }
  return out;
}
