// Throughput of the importer's inner steps on patches built in memory:
// parsing, parsing with the sort and merge of shuffled codes, and writing
// the glyph rows into a file.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <numeric>
#include <random>
#include <string>
#include <string_view>
#include <utility>
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
    // Handed over as zenpo reads a file: its size known, room made for its glyphs.
    bool given = false;
    PatchText parser = parse_patch_chunks(
        [&](std::string_view& chunk) {
          chunk = text;
          return !std::exchange(given, true);
        },
        static_cast<int64_t>(text.size()));
    if (shuffled) merge_patch_glyphs(parser);
    glyphs = parser.glyphs.size();
    if (!parser.warnings.empty()) state.SkipWithError("the generated patch gave a warning");
    benchmark::DoNotOptimize(parser.glyphs.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["glyphs"] = static_cast<double>(glyphs);
}

// Parses the patch in two parts cut at a header line, as zenpo does on two
// cores, here one after the other; sorts each, joins and merges them.
void parse_in_parts(benchmark::State& state, bool shuffled) {
  const std::string text = make_patch(false, shuffled);
  const std::string_view whole = text;
  size_t cut = whole.size() / 2 + next_header_line(whole.substr(whole.size() / 2));
  for (auto _ : state) {
    std::vector<PatchPart> parts;
    for (std::string_view part : {whole.substr(0, cut), whole.substr(cut)}) {
      bool given = false;
      parts.push_back(parse_patch_part(
          [&](std::string_view& chunk) {
            chunk = part;
            return !std::exchange(given, true);
          },
          static_cast<int64_t>(parts.empty() ? whole.size() : part.size()), parts.empty()));
      sort_patch_glyphs(parts.back().text.glyphs);
    }
    PatchText patch = join_patch_parts(std::move(parts));
    merge_patch_glyphs(patch);
    benchmark::DoNotOptimize(patch.glyphs.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_ParseAscendingLF(benchmark::State& state) { parse(state, false, false); }
void BM_ParseAscendingCRLF(benchmark::State& state) { parse(state, true, false); }
void BM_ParseAndMergeShuffled(benchmark::State& state) { parse(state, false, true); }
void BM_PartsAscending(benchmark::State& state) { parse_in_parts(state, false); }
void BM_PartsShuffled(benchmark::State& state) { parse_in_parts(state, true); }

// kWriteGlyphs whole glyphs of random rows, codes 1 up.
std::vector<PatchGlyph> random_glyphs() {
  std::vector<PatchGlyph> glyphs(kWriteGlyphs);
  std::mt19937_64 random(7);
  for (uint32_t i = 0; i < kWriteGlyphs; ++i) {
    glyphs[i].code = i + 1;
    glyphs[i].line = i * 9 + 1;
    uint64_t rows = (random() & (0x0101010101010101u * kRowBits)) | 0x8080808080808080u;
    std::copy_n(reinterpret_cast<const uint8_t*>(&rows), 8, glyphs[i].rows);
  }
  return glyphs;
}

void BM_WriteGlyphRows(benchmark::State& state) {
  const std::vector<PatchGlyph> glyphs = random_glyphs();
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

// Finds that an image holds every glyph of a patch already, as when a patch
// is applied a second time.
void BM_DropUnchangedGlyphs(benchmark::State& state) {
  const std::vector<PatchGlyph> glyphs = random_glyphs();
  FILE* rom = std::tmpfile();
  if (!rom || !write_glyph_rows(rom, glyphs)) {
    state.SkipWithError("cannot make the image");
    return;
  }
  int64_t size = int64_t{kWriteGlyphs + 1} * 8;
  for (auto _ : state) {
    std::vector<PatchGlyph> left = glyphs;
    std::vector<RomExtent> extents;
    if (!drop_unchanged_glyphs(rom, size, left, extents) || !left.empty()) {
      state.SkipWithError("drop_unchanged_glyphs kept a glyph");
    }
  }
  (void)std::fclose(rom);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kWriteGlyphs * 8));
}

BENCHMARK(BM_ParseAscendingLF)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseAscendingCRLF)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseAndMergeShuffled)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PartsAscending)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PartsShuffled)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WriteGlyphRows)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DropUnchangedGlyphs)->Unit(benchmark::kMillisecond);

}  // namespace
