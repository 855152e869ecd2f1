// Writing a patch into the image so that a run that fails, or is
// interrupted, leaves the image byte for byte as it was, size included.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include "rom_image.h"

// Writes a patch into the image; false after its own error line, or with no
// line and errno EINTR when it stopped for an interrupt that is held, as it
// should once held_interrupt() tells of one.
using RomWriter = std::function<bool(FILE* rom)>;

// Where the old bytes of a patch are kept: in memory up to `memory` bytes,
// else in a spill file in `folder`; when none can be made or filled, in
// memory all the same up to `fallback` bytes.
struct BackupPlace {
  const char* folder;
  int64_t memory;
  int64_t fallback;
};

// The image's own: its folder is the current one. Memory stays small however
// large the patch, unless the folder takes no spill file.
inline constexpr BackupPlace kRomBackupPlace = {".", int64_t{16} << 20, int64_t{256} << 20};

// Runs `write` on the image of `old_size` bytes, which writes just the
// `extents` (ascending, apart), and flushes it. Before that it keeps the old
// bytes of the extents that lie inside the image, where `place` says, and
// makes room for those past its end, setting the new size; interrupts wait
// from then on. When any of it fails, or an interrupt came, the old bytes
// and size are put back. True when all was written; false after "Failed to
// read ROM image", "Failed to back up ROM image" (nothing written), "Failed
// to write ROM image" or the writer's line, then "Failed to restore ROM
// image" when the image could not be put back, or silently after an
// interrupt (held_interrupt() tells which).
// The stream should be unbuffered, so that a failed write keeps nothing back.
bool write_rom_guarded(FILE* rom, int64_t old_size, const std::vector<RomExtent>& extents,
                       const RomWriter& write, const BackupPlace& place = kRomBackupPlace);
