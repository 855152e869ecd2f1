// The journal is written as a database's rollback journal is: its table and
// old bytes first, synced; then its header, synced, so that a header on disk
// means that all the rest is; then its folder, so that its name survives a
// power loss. Only then does the image change. Once the image is written and
// synced the journal goes, and its folder is synced again, so that a patch
// said to be done is not put back after a power loss.
#include "rom_journal.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "console.h"
#include "files.h"
#include "spill_file.h"

namespace {

constexpr char kMagic[8] = {'z', 'e', 'n', 'p', 'o', 'j', 'n', 'l'};
constexpr uint32_t kVersion = 1;
constexpr size_t kLongestName = 255;
constexpr int64_t kChunk = 1 << 20;  // bytes copied or checked at a time

void put_u32(char* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<char>(value >> (8 * i));
}

void put_u64(char* at, uint64_t value) {
  for (int i = 0; i < 8; ++i) at[i] = static_cast<char>(value >> (8 * i));
}

uint32_t get_u32(const char* at) {
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(at[i]);
  return value;
}

uint64_t get_u64(const char* at) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = value << 8 | static_cast<unsigned char>(at[i]);
  return value;
}

// The Adler-32 of `size` bytes, carried on from `adler`.
uint32_t adler_of(uint32_t adler, const char* bytes, size_t size) {
  // zlib takes an unsigned int of bytes at a time.
  while (size > 0) {
    auto part = static_cast<unsigned>(std::min<size_t>(size, 1u << 30));
    adler = static_cast<uint32_t>(adler32(adler, reinterpret_cast<const Bytef*>(bytes), part));
    bytes += part;
    size -= part;
  }
  return adler;
}

// The Adler-32 of two runs of bytes one after the other, from that of each
// and the length of the second (zlib's combine, whose length is 32 bits wide
// on 32-bit Windows).
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): the first run's, then the second's
uint32_t adler_joined(uint32_t first, uint32_t second, uint64_t second_size) {
  constexpr uint32_t kBase = 65521;
  uint32_t rem = static_cast<uint32_t>(second_size % kBase);
  uint32_t sum1 = first & 0xFFFF;
  uint32_t sum2 = static_cast<uint32_t>(uint64_t{rem} * sum1 % kBase);
  sum1 += (second & 0xFFFF) + kBase - 1;
  sum2 += (first >> 16) + (second >> 16) + kBase - rem;
  if (sum1 >= kBase) sum1 -= kBase;
  if (sum1 >= kBase) sum1 -= kBase;
  if (sum2 >= kBase * 2) sum2 -= kBase * 2;
  if (sum2 >= kBase) sum2 -= kBase;
  return sum1 | sum2 << 16;
}

// The length of a header with a name of `length` bytes, padded to 8.
int64_t header_size(size_t length) {
  return kJournalHeader + static_cast<int64_t>((length + 7) / 8 * 8);
}

// The header of `head`, its checksum `adler`.
std::string header_bytes(const JournalHead& head, uint32_t adler) {
  std::string bytes(static_cast<size_t>(header_size(head.name.size())), '\0');
  std::memcpy(bytes.data(), kMagic, sizeof kMagic);
  put_u32(&bytes[8], kVersion);
  put_u32(&bytes[12], adler);
  put_u64(&bytes[16], static_cast<uint64_t>(head.old_size));
  put_u64(&bytes[24], static_cast<uint64_t>(head.new_size));
  put_u32(&bytes[32], static_cast<uint32_t>(head.extents.size()));
  put_u32(&bytes[36], static_cast<uint32_t>(head.name.size()));
  put_u64(&bytes[40], static_cast<uint64_t>(head.old_bytes));
  std::memcpy(&bytes[kJournalHeader], head.name.data(), head.name.size());
  return bytes;
}

// The table of `head`'s extents.
std::string table_bytes(const JournalHead& head) {
  std::string bytes(head.extents.size() * 16, '\0');
  for (size_t i = 0; i < head.extents.size(); ++i) {
    put_u64(&bytes[i * 16], static_cast<uint64_t>(head.extents[i].offset));
    put_u64(&bytes[i * 16 + 8], static_cast<uint64_t>(head.extents[i].size));
  }
  return bytes;
}

// How copying old bytes went: the side that failed, errno set, and the
// Adler-32 of the bytes copied.
struct Copied {
  CopyEnd end = CopyEnd::done;
  uint32_t adler = 1;
};

// Copies the old bytes [from, to) of `head`'s extents, counted from the
// first, from the image into the journal, a chunk at a time.
// NOLINTNEXTLINE(bugprone-easily-swappable-parameters): from the image into the journal
Copied copy_old_bytes(FILE* rom, FILE* journal, const JournalHead& head, int64_t from, int64_t to) {
  Copied c;
  std::unique_ptr<char[]> buffer(
      new (std::nothrow) char[static_cast<size_t>(std::min(to - from, kChunk))]);
  if (!buffer && to > from) {
    c.end = CopyEnd::write_failed;
    errno = ENOMEM;
    return c;
  }
  int64_t start = 0;  // of the extent, counted as `from` is
  for (const RomExtent& e : head.extents) {
    for (int64_t at = std::max(from, start); at < std::min(to, start + e.size);) {
      auto part = static_cast<size_t>(std::min({kChunk, to - at, start + e.size - at}));
      if (!read_file_at(rom, e.offset + (at - start), buffer.get(), part)) {
        c.end = CopyEnd::read_failed;
        return c;
      }
      c.adler = adler_of(c.adler, buffer.get(), part);
      if (!write_file_at(journal, head.data_at + at, buffer.get(), part)) {
        c.end = CopyEnd::write_failed;
        return c;
      }
      // The disk writes while the rest is copied: the sync then waits for little.
      start_writeback(journal, head.data_at + at, static_cast<int64_t>(part));
      at += static_cast<int64_t>(part);
    }
    start += e.size;
  }
  return c;
}

// Copies all the old bytes into the journal, two halves side by side; their
// Adler-32, or which side failed, errno set.
Copied copy_all_old_bytes(FILE* rom, FILE* journal, const JournalHead& head) {
  int64_t half = head.old_bytes / 2;
  Copied halves[2];
  int errnos[2] = {};
  run_side_by_side([&](int h) {
    halves[h] = h == 0 ? copy_old_bytes(rom, journal, head, 0, half)
                       : copy_old_bytes(rom, journal, head, half, head.old_bytes);
    errnos[h] = errno;  // each thread has an errno of its own
  });
  // Of two failures the read's tells more.
  int failed = halves[1].end == CopyEnd::read_failed || halves[0].end == CopyEnd::done ? 1 : 0;
  if (halves[failed].end != CopyEnd::done) {
    errno = errnos[failed];
    return halves[failed];
  }
  return {CopyEnd::done, adler_joined(halves[0].adler, halves[1].adler,
                                      static_cast<uint64_t>(head.old_bytes - half))};
}

// Fills the new journal: table and old bytes, synced, then the header,
// synced, then the folder; which side failed, errno set.
CopyEnd fill_journal(FILE* rom, FILE* journal, const char* path, JournalHead& head,
                     const char* memory) {
  head.data_at = header_size(head.name.size()) + static_cast<int64_t>(head.extents.size()) * 16;
  std::string table = table_bytes(head);
  uint32_t adler = adler_of(1, table.data(), table.size());
  int64_t table_at = header_size(head.name.size());
  if (!write_file_at(journal, table_at, table.data(), table.size())) return CopyEnd::write_failed;
  uint32_t data_adler = 1;
  if (memory) {
    auto size = static_cast<size_t>(head.old_bytes);
    data_adler = adler_of(1, memory, size);
    if (!write_file_at(journal, head.data_at, memory, size)) return CopyEnd::write_failed;
  } else {
    Copied c = copy_all_old_bytes(rom, journal, head);
    if (c.end != CopyEnd::done) return c.end;
    data_adler = c.adler;
  }
  adler = adler_joined(adler, data_adler, static_cast<uint64_t>(head.old_bytes));
  std::string header = header_bytes(head, 0);
  adler = adler_joined(adler_of(1, header.data(), header.size()), adler,
                       static_cast<uint64_t>(head.data_at - table_at + head.old_bytes));
  put_u32(&header[12], adler);
  if (!sync_file(journal) || !write_file_at(journal, 0, header.data(), header.size()) ||
      !sync_file(journal) || !sync_folder(folder_of(path).c_str())) {
    return CopyEnd::write_failed;
  }
  return CopyEnd::done;
}

// Why the fixed header `h` of a journal of `size` bytes is refused; empty
// when it is not, `head` then filled but for its extents.
std::string read_header(const char* h, int64_t size, JournalHead& head) {
  if (std::memcmp(h, kMagic, sizeof kMagic) != 0) return "it is not a journal of zenpo";
  uint32_t version = get_u32(h + 8);
  if (version != kVersion) {
    return "it is of version " + std::to_string(version) + ", which this program does not read";
  }
  uint64_t old_size = get_u64(h + 16);
  uint64_t new_size = get_u64(h + 24);
  uint64_t count = get_u32(h + 32);
  uint64_t length = get_u32(h + 36);
  uint64_t old_bytes = get_u64(h + 40);
  if (length == 0 || length > kLongestName || old_size > new_size || new_size > INT64_MAX / 4 ||
      old_bytes > old_size) {
    return "it is damaged: its header does not hold";
  }
  head.old_size = static_cast<int64_t>(old_size);
  head.new_size = static_cast<int64_t>(new_size);
  head.old_bytes = static_cast<int64_t>(old_bytes);
  head.data_at = header_size(length) + static_cast<int64_t>(count) * 16;
  int64_t whole = head.data_at + head.old_bytes;
  if (whole != size) {
    return std::string(whole > size ? "it is cut short" : "it is longer than its header says") +
           ": " + std::to_string(size) + " bytes of " + std::to_string(whole);
  }
  head.name.assign(static_cast<size_t>(length), '\0');
  head.extents.resize(static_cast<size_t>(count));
  return "";
}

// Why the table `t` of `head` is refused; empty when it is not.
std::string read_table(const char* t, JournalHead& head) {
  int64_t end = 0;
  int64_t sum = 0;
  for (size_t i = 0; i < head.extents.size(); ++i) {
    uint64_t offset = get_u64(t + i * 16);
    uint64_t size = get_u64(t + i * 16 + 8);
    if (size == 0 || offset < static_cast<uint64_t>(end) ||
        offset > static_cast<uint64_t>(head.old_size) ||
        size > static_cast<uint64_t>(head.old_size) - offset) {
      return "it is damaged: its extents do not lie apart inside the image's old size";
    }
    head.extents[i] = {static_cast<int64_t>(offset), static_cast<int64_t>(size)};
    end = head.extents[i].offset + head.extents[i].size;
    sum += head.extents[i].size;
  }
  if (sum != head.old_bytes) return "it is damaged: its extents do not hold its old bytes";
  return "";
}

// True when `a` and `b` are the same name, ASCII letters in either case.
bool same_name(const std::string& a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return i == a.size() && b[i] == '\0';
}

// The Adler-32 of the journal of `size` bytes, its checksum taken as zero;
// false with errno set when it cannot be read.
bool journal_adler(FILE* journal, int64_t size, uint32_t& adler) {
  std::unique_ptr<char[]> buffer(new (std::nothrow) char[static_cast<size_t>(kChunk)]);
  if (!buffer) {
    errno = ENOMEM;
    return false;
  }
  adler = 1;
  for (int64_t at = 0; at < size;) {
    auto part = static_cast<size_t>(std::min(kChunk, size - at));
    if (!read_file_at(journal, at, buffer.get(), part)) return false;
    if (at == 0) put_u32(buffer.get() + 12, 0);
    adler = adler_of(adler, buffer.get(), part);
    at += static_cast<int64_t>(part);
  }
  return true;
}

// The reason for errno after "cannot read it".
std::string unreadable() { return std::string("cannot read it: ") + std::strerror(errno); }

}  // namespace

std::string journal_name(const char* image) { return std::string(image) + kJournalSuffix; }

FILE* write_journal(FILE* rom, const char* path, JournalHead& head, const char* memory) {
  FILE* journal = create_file(path);
  CopyEnd end = journal ? fill_journal(rom, journal, path, head, memory) : CopyEnd::write_failed;
  if (end == CopyEnd::done) return journal;
  int failure = errno;
  // A journal whose header is not written yet, or not synced, holds nothing
  // that the image needs.
  if (journal) {
    (void)std::fclose(journal);
    (void)remove_file(path);
  }
  errno = failure;
  report_error(end == CopyEnd::read_failed ? "Failed to read ROM image"
                                           : "Failed to write journal");
  return nullptr;
}

JournalState check_journal(FILE* journal, int64_t size, const char* name, int64_t image_size,
                           JournalHead& head, std::string& reason) {
  if (size < 0) {
    reason = "it is not a regular file";  // a folder, say
    return JournalState::refused;
  }
  char h[kJournalHeader] = {};
  auto fixed = static_cast<size_t>(std::min(size, kJournalHeader));
  if (!read_file_at(journal, 0, h, fixed)) {
    reason = unreadable();
    return JournalState::refused;
  }
  if (std::all_of(h, h + fixed, [](char c) { return c == 0; })) return JournalState::unfinished;
  reason = fixed < sizeof h ? "it is cut short: " + std::to_string(size) + " bytes"
                            : read_header(h, size, head);
  if (!reason.empty()) return JournalState::refused;
  int64_t table_at = header_size(head.name.size());
  std::string rest(static_cast<size_t>(head.data_at - kJournalHeader), '\0');
  uint32_t adler = 0;
  if (!read_file_at(journal, kJournalHeader, rest.data(), rest.size()) ||
      !journal_adler(journal, size, adler)) {
    reason = unreadable();
    return JournalState::refused;
  }
  if (adler != get_u32(h + 12)) {
    reason = "it is damaged: its checksum does not match";
    return JournalState::refused;
  }
  head.name.assign(rest, 0, head.name.size());
  reason = read_table(rest.data() + (table_at - kJournalHeader), head);
  if (!reason.empty()) return JournalState::refused;
  if (!same_name(head.name, base_name(name))) {
    reason = "it is the journal of " + head.name;
  } else if (image_size < head.old_size || image_size > head.new_size) {
    reason = "it is of an image of " + std::to_string(head.old_size) + " bytes (" +
             std::to_string(head.new_size) + " after the patch), and this one has " +
             std::to_string(image_size);
  }
  return reason.empty() ? JournalState::good : JournalState::refused;
}

bool apply_journal(FILE* journal, const JournalHead& head, FILE* rom) {
  int64_t at = head.data_at;
  for (const RomExtent& e : head.extents) {
    if (copy_file_part(journal, at, rom, e.offset, e.size) != CopyEnd::done) return false;
    at += e.size;
  }
  return resize_file(rom, head.old_size) && sync_file(rom);
}

bool give_up_journal(FILE* journal, const char* path) {
  // Read only since its last sync: a failed close loses nothing.
  if (journal) (void)std::fclose(journal);
  return remove_file(path) && sync_folder(folder_of(path).c_str());
}
