// A patch goes out in three steps. First the old bytes of every place it
// overwrites inside the image are read and kept, which changes nothing.
// Then room is made for every byte it writes past the image's end, so that a
// full disk or a file-size limit shows before any old byte changes; a gap
// that no row touches is left to the file system, which keeps it sparse.
// Last the patch is written and flushed. When a step fails, or an interrupt
// came meanwhile, the kept bytes go back and the image is cut to its old size.
#include "rom_guard.h"

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>

#include "console.h"
#include "files.h"
#include "interrupts.h"

namespace {

// What the image held before the patch: its size and the old bytes of the
// extents that lie inside it, one after another.
struct RomBackup {
  int64_t size = 0;
  std::vector<RomExtent> extents;
  std::vector<char> bytes;
};

// Reads the old bytes of the extents inside the image; false with errno set.
bool keep_old_bytes(FILE* rom, const std::vector<RomExtent>& extents, RomBackup& backup) {
  for (const RomExtent& e : extents) {
    int64_t end = std::min(e.offset + e.size, backup.size);
    if (end <= e.offset) break;  // ascending: the rest lie past the end too
    size_t size = static_cast<size_t>(end - e.offset);
    size_t at = backup.bytes.size();
    backup.bytes.resize(at + size);
    if (!seek_file(rom, e.offset, SEEK_SET)) return false;
    if (std::fread(backup.bytes.data() + at, 1, size, rom) != size) {
      if (std::ferror(rom) == 0) errno = EIO;  // the image is shorter than it said
      return false;
    }
    backup.extents.push_back({e.offset, end - e.offset});
  }
  return true;
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

// Puts the kept bytes back (when `written`, the patch may have changed them)
// and the old size; false with errno set to the last failure.
bool put_back(FILE* rom, const RomBackup& backup, bool written, bool regular) {
  std::clearerr(rom);
  int failure = 0;
  const char* bytes = backup.bytes.data();
  for (const RomExtent& e : backup.extents) {
    size_t size = static_cast<size_t>(e.size);
    // Every extent is tried, so that one bad place does not keep the others.
    if (written &&
        !(seek_file(rom, e.offset, SEEK_SET) && std::fwrite(bytes, 1, size, rom) == size)) {
      failure = errno;
    }
    bytes += size;
  }
  if (std::fflush(rom) != 0) failure = errno;
  if (regular && !resize_file(rom, backup.size)) failure = errno;
  errno = failure;
  return failure == 0;
}

}  // namespace

bool write_rom_guarded(FILE* rom, int64_t old_size, const std::vector<RomExtent>& extents,
                       const RomWriter& write) {
  RomBackup backup;
  backup.size = old_size;
  if (!keep_old_bytes(rom, extents, backup)) {
    report_error("Failed to read ROM image");
    return false;
  }
  // A device has no size to keep.
  bool regular = regular_file_size(rom) >= 0;
  hold_interrupts();
  bool written = false;
  bool done = false;
  if (regular && !make_room(rom, extents, old_size)) {
    (void)report_rom_write_failure();
  } else {
    written = true;
    done = write(rom) && (std::fflush(rom) == 0 || report_rom_write_failure());
  }
  if (done && !held_interrupt()) {
    release_interrupts();
    return true;
  }
  bool restored = put_back(rom, backup, written, regular);
  int restore_errno = errno;
  release_interrupts();
  if (!restored) {
    errno = restore_errno;
    report_error("Failed to restore ROM image");
  }
  return false;
}
