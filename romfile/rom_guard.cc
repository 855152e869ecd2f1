// A patch goes out in three steps. First the old bytes of every place it
// overwrites inside the image go into the journal beside it, on disk before
// anything else changes (rom_journal.h), and stay in memory too when they
// are few. Then room is made for every byte it writes past the image's end,
// so that a full disk or a file-size limit shows before any old byte
// changes; a gap that no row touches is left to the file system, which keeps
// it sparse. Last the patch is written and synced, and the journal goes.
// When a step fails, or an interrupt came meanwhile, the kept bytes go back,
// from memory or from the journal, and the image is cut to its old size.
#include "rom_guard.h"

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>
#include <string>

#include "console.h"
#include "files.h"
#include "interrupts.h"
#include "rom_journal.h"
#include "spill_file.h"

namespace {

// What the image held before the patch: its size and the old bytes of
// `extents`, one after another, in `bytes` or else in the journal.
struct RomBackup {
  int64_t size = 0;
  int64_t new_size = 0;  // once the patch is written
  std::vector<RomExtent> extents;
  std::unique_ptr<char[]> bytes;
  FILE* journal = nullptr;
  std::string journal_path;
  int64_t data_at = 0;  // where the old bytes start in the journal
};

// Places closer than this share one extent of the journal: each costs 16
// bytes of its table, and, when read back from it, a call to copy. The bytes
// of the gap go back as they were.
constexpr int64_t kHeldGap = 16;
constexpr int64_t kJournalGap = 64 << 10;

// The parts of `extents` inside an image of `size` bytes.
std::vector<RomExtent> extents_inside(const std::vector<RomExtent>& extents, int64_t size) {
  std::vector<RomExtent> inside;
  for (const RomExtent& e : extents) {
    int64_t end = std::min(e.offset + e.size, size);
    if (end <= e.offset) break;  // ascending: the rest lie past the end too
    inside.push_back({e.offset, end - e.offset});
  }
  return inside;
}

// `extents` with those at most `gap` apart joined into one.
std::vector<RomExtent> join_close_extents(const std::vector<RomExtent>& extents, int64_t gap) {
  std::vector<RomExtent> joined;
  for (const RomExtent& e : extents) {
    if (!joined.empty() && e.offset - (joined.back().offset + joined.back().size) <= gap) {
      joined.back().size = e.offset + e.size - joined.back().offset;
    } else {
      joined.push_back(e);
    }
  }
  return joined;
}

// The number of bytes of `extents`.
int64_t bytes_of(const std::vector<RomExtent>& extents) {
  int64_t total = 0;
  for (const RomExtent& e : extents) total += e.size;
  return total;
}

// Reads the old bytes of the backup's extents, `total` of them, into memory;
// false after "Failed to read ROM image".
bool read_old_bytes(FILE* rom, RomBackup& backup, int64_t total) {
  backup.bytes.reset(new (std::nothrow) char[static_cast<size_t>(total)]);
  if (!backup.bytes) errno = ENOMEM;
  char* at = backup.bytes.get();
  for (size_t i = 0; at && i < backup.extents.size(); ++i) {
    const RomExtent& e = backup.extents[i];
    if (!read_file_at(rom, e.offset, at, static_cast<size_t>(e.size))) at = nullptr;
    if (at) at += e.size;
  }
  if (at) return true;
  report_error("Failed to read ROM image");
  return false;
}

// Keeps the old bytes of the extents inside the image: in memory up to
// `memory` of them, and in the journal of the image `name` (none when null).
// False after "Failed to read ROM image" or "Failed to write journal".
bool keep_old_bytes(FILE* rom, const char* name, const std::vector<RomExtent>& extents,
                    int64_t memory, RomBackup& backup) {
  std::vector<RomExtent> inside = extents_inside(extents, backup.size);
  bool held = name == nullptr || bytes_of(inside) <= memory;
  backup.extents = join_close_extents(inside, held ? kHeldGap : kJournalGap);
  int64_t total = bytes_of(backup.extents);
  if (held && !read_old_bytes(rom, backup, total)) return false;
  if (name == nullptr) return true;
  JournalHead head;
  head.old_size = backup.size;
  head.new_size = backup.new_size;
  head.name = base_name(name);
  head.extents = backup.extents;
  head.old_bytes = total;
  backup.journal_path = journal_name(name);
  backup.journal = write_journal(rom, backup.journal_path.c_str(), head, backup.bytes.get());
  backup.data_at = head.data_at;
  return backup.journal != nullptr;
}

#ifdef __GLIBC__
// Reserves the disk space of `room`, past the image's end, and sets the size
// to cover it; false with errno set. The C library itself writes the room
// where the file system cannot reserve it, so a failure is a real one.
bool reserve_room(FILE* rom, RomExtent room) {
  errno =
      posix_fallocate(fileno(rom), static_cast<off_t>(room.offset), static_cast<off_t>(room.size));
  return errno == 0;
}
#else
// Writes zero bytes over `room`, past the image's end; false with errno set.
// Where nothing reserves room, the file system allocates what is written.
bool reserve_room(FILE* rom, RomExtent room) {
  static const char zeros[1 << 16] = {};
  if (!seek_file(rom, room.offset, SEEK_SET)) return false;
  while (room.size > 0) {
    size_t part = static_cast<size_t>(std::min<int64_t>(room.size, sizeof zeros));
    if (std::fwrite(zeros, 1, part, rom) != part) return false;
    room.size -= static_cast<int64_t>(part);
  }
  return std::fflush(rom) == 0;
}
#endif

// Makes room for the extents past the end of an image of `size` bytes; false
// with errno set.
bool make_room(FILE* rom, const std::vector<RomExtent>& extents, int64_t size) {
  return std::all_of(extents.begin(), extents.end(), [&](const RomExtent& e) {
    int64_t start = std::max(e.offset, size);
    return start >= e.offset + e.size || reserve_room(rom, {start, e.offset + e.size - start});
  });
}

// Writes the kept `bytes` of `e` back over the image; false with errno set.
bool write_extent(FILE* rom, RomExtent e, const char* bytes) {
  auto size = static_cast<size_t>(e.size);
  return seek_file(rom, e.offset, SEEK_SET) && std::fwrite(bytes, 1, size, rom) == size;
}

// Puts the kept bytes back (when `written`, the patch may have changed them)
// and the old size, and syncs the image when there is a journal; false with
// errno set to the last failure.
bool put_back(FILE* rom, const RomBackup& backup, bool written, bool regular) {
  std::clearerr(rom);
  int failure = 0;
  int64_t at = 0;
  for (size_t i = 0; written && i < backup.extents.size(); ++i) {
    const RomExtent& e = backup.extents[i];
    // Every extent is tried, so that one bad place does not keep the others.
    if (backup.bytes ? !write_extent(rom, e, backup.bytes.get() + at)
                     : copy_file_part(backup.journal, backup.data_at + at, rom, e.offset, e.size) !=
                           CopyEnd::done) {
      failure = errno;
    }
    at += e.size;
  }
  if (std::fflush(rom) != 0) failure = errno;
  if (regular && !resize_file(rom, backup.size)) failure = errno;
  if (backup.journal && failure == 0 && !sync_file(rom)) failure = errno;
  errno = failure;
  return failure == 0;
}

// The end of the image once `extents` are written over one of `size` bytes.
int64_t size_after(const std::vector<RomExtent>& extents, int64_t size) {
  return extents.empty() ? size : std::max(size, extents.back().offset + extents.back().size);
}

}  // namespace

bool write_rom_guarded(FILE* rom, const char* name, int64_t old_size,
                       const std::vector<RomExtent>& extents, const RomWriter& write,
                       int64_t memory) {
  RomBackup backup;
  backup.size = old_size;
  backup.new_size = size_after(extents, old_size);
  // A device has no size to keep, nor a folder to hold its journal.
  bool regular = regular_file_size(rom) >= 0;
  if (!regular || extents.empty()) name = nullptr;
  // Held while the old bytes are kept too: a journal that reaches a
  // file-size limit then fails with EFBIG, rather than end the run.
  hold_interrupts();
  if (!keep_old_bytes(rom, name, extents, memory, backup)) {
    release_interrupts();
    return false;
  }
  bool written = false;
  bool done = false;
  if (held_interrupt()) {
    // Nothing is written: the run ends as it was told to.
  } else if (regular && !make_room(rom, extents, old_size)) {
    (void)report_rom_write_failure();
  } else {
    written = true;
    done = write(rom) && ((backup.journal ? sync_file(rom) : std::fflush(rom) == 0) ||
                          report_rom_write_failure());
  }
  const char* journal = backup.journal_path.c_str();
  if (done && !held_interrupt()) {
    bool given_up = backup.journal == nullptr || give_up_journal(backup.journal, journal);
    release_interrupts();
    if (!given_up) report_error("Failed to remove journal");
    return given_up;
  }
  bool restored = put_back(rom, backup, written, regular);
  int restore_errno = errno;
  // A journal that put nothing back stays for the next run to.
  if (restored && backup.journal) (void)give_up_journal(backup.journal, journal);
  if (!restored && backup.journal) (void)std::fclose(backup.journal);
  release_interrupts();
  if (!restored) {
    errno = restore_errno;
    report_error("Failed to restore ROM image");
  }
  return false;
}
