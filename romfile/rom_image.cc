#include "rom_image.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <memory>

#include "console.h"
#include "files.h"
#include "interrupts.h"

FILE* open_target_rom(int& which, int (&reasons)[2]) {
  static_assert(std::size(kRomNames) == 2, "a reason for each image");
  for (which = 0; which < static_cast<int>(std::size(kRomNames)); ++which) {
    // "r+b": read and write, never created, never truncated.
    FILE* rom = std::fopen(kRomNames[which], "r+b");
    // Every write of the image is a whole run already. Unbuffered, a failed
    // write keeps nothing back that could go out later, over the undo.
    if (rom && std::setvbuf(rom, nullptr, _IONBF, 0) == 0) return rom;
    reasons[which] = errno;
    if (rom) (void)std::fclose(rom);
  }
  return nullptr;
}

bool read_rom_bytes(FILE* rom, int64_t offset, std::vector<uint8_t>& bytes) {
  if (!seek_file(rom, offset, SEEK_SET)) return false;
  if (std::fread(bytes.data(), 1, bytes.size(), rom) == bytes.size()) return true;
  if (std::ferror(rom) == 0) errno = EIO;  // the image is shorter than it was
  return false;
}

namespace {

// kRowGiven in each byte: the mark of a glyph that gives all eight rows.
constexpr uint64_t kEveryRow = 0x0101010101010101u * kRowGiven;

// The eight rows of `g` in `bytes`, the given bit cleared, when it gives
// every row: such a glyph goes out whole. False when a row is not given.
bool whole_glyph(const PatchGlyph& g, char (&bytes)[8]) {
  uint64_t rows;
  std::memcpy(&rows, g.rows, sizeof rows);
  if ((rows & kEveryRow) != kEveryRow) return false;
  rows &= ~kEveryRow;
  std::memcpy(bytes, &rows, sizeof bytes);
  return true;
}

constexpr size_t kRunLimit = 1 << 20;

// Bytes bound for one place of the image, gathered so that a run of rows
// costs one positioned write instead of one call a row.
struct PendingRun {
  FILE* rom;
  int64_t start = 0;
  size_t used = 0;
  // Room for a whole glyph past the limit, or for all the rows of a few
  // glyphs; left uninitialised, as it is written before it is read.
  std::unique_ptr<char[]> bytes{};
};

// Writes the gathered bytes; false on failure, errno set.
bool flush_run(PendingRun& run) {
  if (run.used == 0) return true;
  if (held_interrupt()) {
    errno = EINTR;
    return false;
  }
  bool ok = seek_file(run.rom, run.start, SEEK_SET) &&
            std::fwrite(run.bytes.get(), 1, run.used, run.rom) == run.used;
  run.start += static_cast<int64_t>(run.used);
  run.used = 0;
  return ok;
}

// Adds `size` bytes bound for `offset`; false when an earlier run failed.
bool add_to_run(PendingRun& run, int64_t offset, const char* data, size_t size) {
  if (offset != run.start + static_cast<int64_t>(run.used) || run.used >= kRunLimit) {
    if (!flush_run(run)) return false;
    run.start = offset;
  }
  std::memcpy(run.bytes.get() + run.used, data, size);
  run.used += size;
  return true;
}

// The reason of the write that just failed. On a full disk Wine stores no
// byte of a write yet reports no system error, which its C runtime turns
// into EINVAL; a write of a regular file falls short for no other reason.
int failure_reason() {
#ifdef _WIN32
  DWORD code = GetLastError();
  if (code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL) return ENOSPC;
  if (code == ERROR_SUCCESS && errno == EINVAL) return ENOSPC;
#endif
  return errno;
}

// The number of rows that `g` gives, which are rows 0 to n - 1.
int given_rows(const PatchGlyph& g) {
  uint64_t rows;
  std::memcpy(&rows, g.rows, sizeof rows);
  uint64_t given = rows & kEveryRow;
  return given == kEveryRow ? 8 : __builtin_popcountll(given);
}

constexpr int64_t kWindow = 1 << 18;

// Glyphs being sifted in place, sorted by code: those kept move to the
// front; and the old bytes of the image, read a window at a time as the
// glyphs need them.
struct Sifted {
  PatchGlyph* glyphs;
  size_t count;
  std::vector<RomExtent>& extents;
  FILE* rom;
  int64_t size;  // of the image
  size_t short_stretch;
  int64_t start = 0;                // of the window
  size_t used = 0;                  // bytes in the window
  std::unique_ptr<char[]> bytes{};  // a window and the rest of a slot
  size_t kept = 0;
  size_t stretch = 0;      // first of the unchanged glyphs that came last
  bool pending = false;    // there are such glyphs, not yet kept or dropped
  bool open_left = false;  // and they do not follow a changed glyph that they join
};

// Reads the window from the slot of glyph `i` to that of the last glyph whose
// slot ends within kWindow bytes of it, and not past the image; false with
// errno set when it cannot.
bool read_window(Sifted& s, size_t i) {
  int64_t start = int64_t{s.glyphs[i].code} * 8;
  // Codes apart: no more than a window's slots to search, and a binary
  // search reads but a few of them.
  const PatchGlyph* first = s.glyphs + i;
  const PatchGlyph* last = first + std::min<size_t>(s.count - i, kWindow / 8);
  // The first code whose slot ends past the window.
  auto past = static_cast<uint32_t>((start + kWindow) / 8);
  const PatchGlyph* after = std::lower_bound(
      first + 1, last, past, [](const PatchGlyph& g, uint32_t code) { return g.code < code; });
  int64_t end = int64_t{after[-1].code} * 8 + 8;
  s.start = start;
  s.used = static_cast<size_t>(std::min(end, s.size) - start);
  return read_file_at(s.rom, start, s.bytes.get(), s.used);
}

// 1 when the image holds the rows of glyph `i` already, 0 when not, -1 with
// errno set when it cannot be read.
int holds_glyph(Sifted& s, size_t i) {
  const PatchGlyph& g = s.glyphs[i];
  int64_t offset = int64_t{g.code} * 8;
  int n = given_rows(g);
  if (offset + n > s.size) return 0;  // it reaches past the end
  if (offset < s.start || offset + n > s.start + static_cast<int64_t>(s.used)) {
    if (!read_window(s, i)) return -1;
  }
  const char* bytes = s.bytes.get() + (offset - s.start);
  char rows[8];
  if (whole_glyph(g, rows)) return std::memcmp(bytes, rows, sizeof rows) == 0 ? 1 : 0;
  for (int r = 0; r < n; ++r) {
    if (bytes[r] != static_cast<char>(g.rows[r] & kRowBits)) return 0;
  }
  return 1;
}

// The number of glyphs from `j` on, glyph j - 1 being held, that are whole,
// each join the one before and lie in the window, which holds them already.
size_t held_run(const Sifted& s, size_t j) {
  // One pass of a few word operations a glyph: a patch applied again is
  // mostly such runs.
  if (given_rows(s.glyphs[j - 1]) != 8) return 0;
  size_t k = j;
  for (; k < s.count; ++k) {
    const PatchGlyph& g = s.glyphs[k];
    int64_t at = int64_t{g.code} * 8 - s.start;
    uint64_t rows;
    std::memcpy(&rows, g.rows, sizeof rows);
    if (g.code != s.glyphs[k - 1].code + 1 || (rows & kEveryRow) != kEveryRow ||
        at + 8 > static_cast<int64_t>(s.used)) {
      break;
    }
    uint64_t bytes;
    std::memcpy(&bytes, s.bytes.get() + at, sizeof bytes);
    if (bytes != (rows & ~kEveryRow)) break;
  }
  return k - j;
}

void keep(Sifted& s, size_t i) {
  s.glyphs[s.kept++] = s.glyphs[i];
  const PatchGlyph& g = s.glyphs[i];
  add_extent(s.extents, {int64_t{g.code} * 8, given_rows(g)});
}

// Keeps or drops the pending unchanged glyphs, which end before glyph `end`;
// `joined` when that one is changed and joins them.
void end_stretch(Sifted& s, size_t end, bool joined) {
  if (!s.pending) return;
  s.pending = false;
  if (!joined || s.open_left || end - s.stretch >= s.short_stretch) return;
  for (size_t i = s.stretch; i < end; ++i) keep(s, i);
}

// True when the rows of `b` start where those of `a` end.
bool joins(const PatchGlyph& a, const PatchGlyph& b) {
  return given_rows(a) == 8 && b.code == a.code + 1;
}

// Sifts the glyphs of `s`; false with errno set when the image cannot be read.
bool sift(Sifted& s) {
  for (size_t i = 0; i < s.count; ++i) {
    bool joined = i > 0 && joins(s.glyphs[i - 1], s.glyphs[i]);
    int held = holds_glyph(s, i);
    if (held < 0) return false;
    if (held == 0) {
      end_stretch(s, i, joined);
      keep(s, i);
      continue;
    }
    if (!s.pending || !joined) {
      end_stretch(s, i, false);
      s.pending = true;
      s.stretch = i;
      s.open_left = !joined;
    }
    i += held_run(s, i + 1);
  }
  end_stretch(s, s.count, false);
  return true;
}

}  // namespace

void add_extent(std::vector<RomExtent>& extents, RomExtent e) {
  if (!extents.empty() && extents.back().offset + extents.back().size == e.offset) {
    extents.back().size += e.size;
  } else {
    extents.push_back(e);
  }
}

int64_t glyph_end(const PatchGlyph& g) { return int64_t{g.code} * 8 + given_rows(g); }

bool drop_unchanged_glyphs(FILE* rom, int64_t size, std::vector<PatchGlyph>& glyphs,
                           std::vector<RomExtent>& extents, const DropOptions& options) {
  size_t halves = glyphs.size() < options.apart ? 1 : 2;
  std::vector<RomExtent> own[2];
  std::vector<std::unique_ptr<Sifted>> sifts;
  for (size_t h = 0; h < halves; ++h) {
    size_t first = glyphs.size() * h / halves;
    size_t end = glyphs.size() * (h + 1) / halves;
    sifts.push_back(std::unique_ptr<Sifted>(
        new Sifted{glyphs.data() + first, end - first, own[h], rom, size, options.short_stretch}));
    // A window no wider than the glyphs' slots, which a few glyphs make small.
    int64_t span = first == end ? 0 : int64_t{glyphs[end - 1].code - glyphs[first].code} * 8 + 8;
    sifts.back()->bytes.reset(new char[static_cast<size_t>(std::min(span, kWindow)) + 8]);
  }
  bool read[2] = {true, true};
  int error[2] = {0, 0};
  options.run(halves, [&](size_t h) {
    read[h] = sift(*sifts[h]);
    error[h] = errno;
  });
  for (size_t h = 0; h < halves; ++h) {
    if (read[h]) continue;
    errno = error[h];
    return false;
  }
  // The second half's glyphs and extents after the first's, joined where they touch.
  size_t kept = sifts[0]->kept;
  if (halves == 2) {
    std::copy_n(sifts[1]->glyphs, sifts[1]->kept, glyphs.data() + kept);
    kept += sifts[1]->kept;
    for (const RomExtent& e : own[1]) add_extent(own[0], e);
  }
  glyphs.resize(kept);
  extents = std::move(own[0]);
  return true;
}

bool write_glyph_rows(FILE* rom, const std::vector<PatchGlyph>& glyphs) {
  PendingRun run{rom};
  size_t room = std::min(kRunLimit, glyphs.size() * sizeof(PatchGlyph::rows));
  run.bytes.reset(new char[room + sizeof(PatchGlyph::rows)]);
  for (const PatchGlyph& g : glyphs) {
    int64_t base = int64_t{g.code} * 8;
    char bytes[8];
    if (whole_glyph(g, bytes)) {
      if (!add_to_run(run, base, bytes, 8)) return false;
      continue;
    }
    for (int r = 0; r < 8; ++r) {
      char byte = static_cast<char>(g.rows[r] & kRowBits);
      if ((g.rows[r] & kRowGiven) && !add_to_run(run, base + r, &byte, 1)) return false;
    }
  }
  return flush_run(run);
}

bool write_rom_start(FILE* rom, const char* data, size_t size) {
  return seek_file(rom, 0, SEEK_SET) && std::fwrite(data, 1, size, rom) == size;
}

bool report_rom_write_failure() {
  int reason = failure_reason();
  // A write stopped by an interrupt has nothing to tell: the run ends as
  // interrupted, with the image whole.
  if (reason == EINTR && held_interrupt()) return false;
  errno = reason;
  report_error(kRomWriteFailed);
  return false;
}
