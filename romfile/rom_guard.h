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

// Old bytes of a patch kept in memory at most, besides the journal; past
// them they are read back from the journal when the patch fails.
inline constexpr int64_t kOldBytesHeld = int64_t{16} << 20;

// Runs `write` on the image `name` of `old_size` bytes, open as `rom`,
// which writes just the `extents` (ascending, apart), and syncs it. Before
// that it writes the journal NAME-journal of the old bytes of the extents
// that lie inside the image, keeping up to `memory` of them in memory too,
// and makes room for those past its end, setting the new size; interrupts
// wait from then on. When any of it fails, or an interrupt came, the old
// bytes and size are put back. The journal goes once the image is whole.
// True when all was written; false after "Failed to read ROM image",
// "Failed to write journal" (nothing written), "Failed to write ROM image"
// or the writer's line, then "Failed to restore ROM image" when the image
// could not be put back (the journal then stays, for the next run), or
// silently after an interrupt (held_interrupt() tells which). A null
// `name`, or an image that is no regular file, gets no journal.
// The stream should be unbuffered, so that a failed write keeps nothing back.
bool write_rom_guarded(FILE* rom, const char* name, int64_t old_size,
                       const std::vector<RomExtent>& extents, const RomWriter& write,
                       int64_t memory = kOldBytesHeld);
