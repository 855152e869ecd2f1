// A patch goes out in three steps. First the old bytes of every place it
// overwrites inside the image are kept, which changes nothing: in memory when
// they are few, else copied into a spill file beside the image, so that a
// patch of any size runs in little memory. Then room is made for every byte
// it writes past the image's end, so that a full disk or a file-size limit
// shows before any old byte changes; a gap that no row touches is left to
// the file system, which keeps it sparse. Last the patch is written and
// flushed. When a step fails, or an interrupt came meanwhile, the kept bytes
// go back and the image is cut to its old size.
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

#include "console.h"
#include "files.h"
#include "interrupts.h"
#include "spill_file.h"

namespace {

// What the image held before the patch: its size and the old bytes of
// `extents`, one after another, in `bytes` or in two spill files: those
// before `split` in the first, the rest in the second, each from its start.
struct RomBackup {
  int64_t size = 0;
  std::vector<RomExtent> extents;
  std::unique_ptr<char[]> bytes;
  FILE* spills[2] = {};
  size_t split = 0;
};

// Places closer than this share one extent of a spill file: each extent
// costs a call to copy, and a gap this small costs less than that. The bytes
// of the gap go back as they were.
constexpr int64_t kSpillGap = 64 << 10;

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

// `extents` with those at most kSpillGap apart joined into one.
std::vector<RomExtent> join_close_extents(const std::vector<RomExtent>& extents) {
  std::vector<RomExtent> joined;
  for (const RomExtent& e : extents) {
    if (!joined.empty() && e.offset - (joined.back().offset + joined.back().size) <= kSpillGap) {
      joined.back().size = e.offset + e.size - joined.back().offset;
    } else {
      joined.push_back(e);
    }
  }
  return joined;
}

// Closes the spill files, if any, side by side: the system drops their
// bytes, which takes a while for large ones.
void close_spills(RomBackup& backup) {
  auto close = [&](int i) {
    if (backup.spills[i]) (void)std::fclose(backup.spills[i]);
    backup.spills[i] = nullptr;
  };
  if (backup.spills[0] || backup.spills[1]) run_side_by_side(close);
}

// Reads the old bytes of the backup's extents, `total` of them, into memory;
// which side failed, errno set (ENOMEM when there is no room for them).
CopyEnd read_old_bytes(FILE* rom, RomBackup& backup, int64_t total) {
  backup.split = backup.extents.size();
  backup.bytes.reset(new (std::nothrow) char[static_cast<size_t>(total)]);
  if (!backup.bytes) {
    errno = ENOMEM;
    return CopyEnd::write_failed;
  }
  char* at = backup.bytes.get();
  for (const RomExtent& e : backup.extents) {
    size_t size = static_cast<size_t>(e.size);
    if (!seek_file(rom, e.offset, SEEK_SET)) return CopyEnd::read_failed;
    if (std::fread(at, 1, size, rom) != size) {
      if (std::ferror(rom) == 0) errno = EIO;  // the image is shorter than it said
      return CopyEnd::read_failed;
    }
    at += size;
  }
  return CopyEnd::done;
}

// Sets the backup's split where half of the bytes of its extents lie before,
// cutting an extent in two when need be.
void split_in_halves(RomBackup& backup) {
  std::vector<RomExtent>& extents = backup.extents;
  int64_t half = 0;
  for (const RomExtent& e : extents) half += e.size;
  half /= 2;
  size_t i = 0;
  for (; i < extents.size() && half >= extents[i].size; ++i) half -= extents[i].size;
  if (half > 0) {
    extents.insert(extents.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                   {extents[i].offset + half, extents[i].size - half});
    extents[i++].size = half;
  }
  backup.split = i;
}

// Copies the old bytes of extents [first, last) into a new spill file in
// `folder`, kept in `spill`; which side failed, errno set.
CopyEnd fill_spill(FILE* rom, const char* folder, const RomExtent* first, const RomExtent* last,
                   FILE*& spill) {
  spill = open_spill_file(folder);
  if (!spill) return CopyEnd::write_failed;
  int64_t at = 0;
  for (const RomExtent* e = first; e != last; ++e) {
    CopyEnd end = copy_file_part(rom, e->offset, spill, at, e->size);
    if (end != CopyEnd::done) return end;
    at += e->size;
  }
  return CopyEnd::done;
}

// Copies the old bytes of the backup's extents into two spill files in
// `folder`, a half each, side by side: the copies take the time of one half.
// Which side failed, errno set, with no spill file left open then.
CopyEnd spill_old_bytes(FILE* rom, const char* folder, RomBackup& backup) {
  split_in_halves(backup);
  const RomExtent* bounds[] = {backup.extents.data(), backup.extents.data() + backup.split,
                               backup.extents.data() + backup.extents.size()};
  CopyEnd ends[2] = {};
  int errnos[2] = {};
  auto half = [&](int i) {
    ends[i] = fill_spill(rom, folder, bounds[i], bounds[i + 1], backup.spills[i]);
    errnos[i] = errno;  // each thread has an errno of its own
  };
  run_side_by_side(half);
  // Of two failures the read's tells more: memory cannot get round it.
  int failed = ends[1] == CopyEnd::read_failed || ends[0] == CopyEnd::done ? 1 : 0;
  if (ends[failed] == CopyEnd::done) return CopyEnd::done;
  close_spills(backup);
  errno = errnos[failed];
  return ends[failed];
}

// Prints why the old bytes could not be kept, as `end` tells; returns false.
bool report_unkept(CopyEnd end) {
  report_error(end == CopyEnd::read_failed ? "Failed to read ROM image"
                                           : "Failed to back up ROM image");
  return false;
}

// Keeps the old bytes of the extents inside the image as `place` says; false
// after "Failed to read ROM image" or "Failed to back up ROM image".
bool keep_old_bytes(FILE* rom, const std::vector<RomExtent>& extents, const BackupPlace& place,
                    RomBackup& backup) {
  backup.extents = extents_inside(extents, backup.size);
  int64_t total = 0;
  for (const RomExtent& e : backup.extents) total += e.size;
  if (total > place.memory) {
    std::vector<RomExtent> exact = std::move(backup.extents);
    backup.extents = join_close_extents(exact);
    CopyEnd end = spill_old_bytes(rom, place.folder, backup);
    if (end == CopyEnd::done) return true;
    // No spill file could be made or filled: memory will do, if not too much.
    if (end == CopyEnd::read_failed || total > place.fallback) return report_unkept(end);
    backup.extents = std::move(exact);
  }
  CopyEnd end = read_old_bytes(rom, backup, total);
  return end == CopyEnd::done || report_unkept(end);
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

// Cuts or stretches the image to `size` bytes; false with errno set.
bool resize_file(FILE* rom, int64_t size) {
#ifdef _WIN32
  errno = _chsize_s(_fileno(rom), size);
  return errno == 0;
#else
  return ftruncate(fileno(rom), static_cast<off_t>(size)) == 0;
#endif
}

// Writes the kept `bytes` of `e` back over the image; false with errno set.
bool write_extent(FILE* rom, RomExtent e, const char* bytes) {
  auto size = static_cast<size_t>(e.size);
  return seek_file(rom, e.offset, SEEK_SET) && std::fwrite(bytes, 1, size, rom) == size;
}

// Puts the kept bytes back (when `written`, the patch may have changed them)
// and the old size; false with errno set to the last failure.
bool put_back(FILE* rom, const RomBackup& backup, bool written, bool regular) {
  std::clearerr(rom);
  int failure = 0;
  int64_t at = 0;
  for (size_t i = 0; written && i < backup.extents.size(); ++i) {
    if (i == backup.split) at = 0;  // the second spill file's first extent
    const RomExtent& e = backup.extents[i];
    FILE* spill = backup.spills[i < backup.split ? 0 : 1];
    // Every extent is tried, so that one bad place does not keep the others.
    if (spill ? copy_file_part(spill, at, rom, e.offset, e.size) != CopyEnd::done
              : !write_extent(rom, e, backup.bytes.get() + at)) {
      failure = errno;
    }
    at += e.size;
  }
  if (std::fflush(rom) != 0) failure = errno;
  if (regular && !resize_file(rom, backup.size)) failure = errno;
  errno = failure;
  return failure == 0;
}

}  // namespace

bool write_rom_guarded(FILE* rom, int64_t old_size, const std::vector<RomExtent>& extents,
                       const RomWriter& write, const BackupPlace& place) {
  RomBackup backup;
  backup.size = old_size;
  // Held while the old bytes are kept too: a spill file that reaches a
  // file-size limit then fails with EFBIG, which memory can get round,
  // rather than end the run.
  hold_interrupts();
  if (!keep_old_bytes(rom, extents, place, backup)) {
    release_interrupts();
    return false;
  }
  // A device has no size to keep.
  bool regular = regular_file_size(rom) >= 0;
  bool written = false;
  bool done = false;
  if (held_interrupt()) {
    // Nothing is written: the run ends as it was told to.
  } else if (regular && !make_room(rom, extents, old_size)) {
    (void)report_rom_write_failure();
  } else {
    written = true;
    done = write(rom) && (std::fflush(rom) == 0 || report_rom_write_failure());
  }
  if (done && !held_interrupt()) {
    release_interrupts();
    close_spills(backup);
    return true;
  }
  bool restored = put_back(rom, backup, written, regular);
  int restore_errno = errno;
  release_interrupts();
  close_spills(backup);
  if (!restored) {
    errno = restore_errno;
    report_error("Failed to restore ROM image");
  }
  return false;
}
