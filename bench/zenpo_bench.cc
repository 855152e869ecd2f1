// Throughput of the importer's inner steps on patches built in memory:
// parsing, parsing with the sort and merge of shuffled codes, and writing
// the glyph rows into a file.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "patch_parser.h"
#include "rom_image.h"

namespace {

constexpr size_t kPatchBytes = 8 << 20;
constexpr uint32_t kWriteGlyphs = 1 << 20;

// A patch of about kPatchBytes: glyphs for codes 1..N, each a header and
// eight rows of random columns, in ascending or shuffled order.
std::string make_patch(bool crlf, bool shuffled) {
  const char* eol = crlf ? "\r\n" : "\n";
  size_t glyph_bytes = (crlf ? 9 : 8) * 8 + 8;  // rows, and a header of about 6 digits
  std::vector<uint32_t> codes(kPatchBytes / glyph_bytes);
  std::iota(codes.begin(), codes.end(), 1u);
  std::mt19937 random(42);
  if (shuffled) std::shuffle(codes.begin(), codes.end(), random);
  std::string text;
  text.reserve(kPatchBytes + kPatchBytes / 8);
  char header[16];
  for (uint32_t code : codes) {
    (void)std::snprintf(header, sizeof header, "@%X", static_cast<unsigned>(code));
    text += header;
    text += eol;
    for (int r = 0; r < 8; ++r) {
      uint32_t bits = random();
      for (int c = 0; c < 7; ++c) text += static_cast<char>('0' + ((bits >> c) & 1));
      text += eol;
    }
  }
  return text;
}

void parse(benchmark::State& state, bool crlf, bool shuffled) {
  const std::string text = make_patch(crlf, shuffled);
  size_t glyphs = 0;
  for (auto _ : state) {
    PatchText parser = parse_font_patch(text);
    if (shuffled) merge_patch_glyphs(parser);
    glyphs = parser.glyphs.size();
    if (!parser.warnings.empty()) state.SkipWithError("the generated patch gave a warning");
    benchmark::DoNotOptimize(parser.glyphs.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["glyphs"] = static_cast<double>(glyphs);
}

void BM_ParseAscendingLF(benchmark::State& state) { parse(state, false, false); }
void BM_ParseAscendingCRLF(benchmark::State& state) { parse(state, true, false); }
void BM_ParseAndMergeShuffled(benchmark::State& state) { parse(state, false, true); }

void BM_WriteGlyphRows(benchmark::State& state) {
  std::vector<PatchGlyph> glyphs(kWriteGlyphs);
  std::mt19937_64 random(7);
  for (uint32_t i = 0; i < kWriteGlyphs; ++i) {
    glyphs[i].code = i + 1;
    glyphs[i].line = i * 9 + 1;
    uint64_t rows = (random() & (0x0101010101010101u * kRowBits)) | 0x8080808080808080u;
    std::copy_n(reinterpret_cast<const uint8_t*>(&rows), 8, glyphs[i].rows);
  }
  FILE* rom = std::tmpfile();
  if (!rom) {
    state.SkipWithError("no temporary file");
    return;
  }
  for (auto _ : state) {
    if (!write_glyph_rows(rom, glyphs)) state.SkipWithError("write_glyph_rows failed");
  }
  (void)std::fclose(rom);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kWriteGlyphs * 8));
}

BENCHMARK(BM_ParseAscendingLF)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseAscendingCRLF)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseAndMergeShuffled)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteGlyphRows)->Unit(benchmark::kMillisecond);

}  // namespace
