// The journal: the image's old size and the old bytes of every place that a
// patch overwrites, in a file beside the image named after it, on its disk
// before the image's first new byte, so that the next run puts back an image
// that a kill or a power loss left half patched. One format on every
// system, all numbers little-endian:
//
//   offset  size  what
//        0     8  "zenpojnl"
//        8     4  version, 1
//       12     4  Adler-32 of the whole journal, these four bytes taken as 0
//       16     8  the image's size before the patch
//       24     8  its size after the patch, not less
//       32     4  N, the number of extents
//       36     4  L, the length of the image's name, 1 to 255
//       40     8  D, the number of old bytes
//       48     L  the image's name, UTF-8, without its folder; zero bytes
//                 up to a multiple of 8, H
//        H   16N  the extents: offset and size, ascending and apart, each
//                 inside the image's old size
//    H+16N     D  their old bytes, one extent after another
//
// The header is written last, its bytes zero until then: a journal whose
// header is all zero was cut short before the image changed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "rom_image.h"

// The journal's name is the image's with this after it.
inline constexpr char kJournalSuffix[] = "-journal";

// The bytes of a journal before its name.
inline constexpr int64_t kJournalHeader = 48;

// What a journal's header and table say.
struct JournalHead {
  int64_t old_size = 0;
  int64_t new_size = 0;
  std::string name;                // the image's, without its folder
  std::vector<RomExtent> extents;  // ascending and apart
  int64_t old_bytes = 0;           // the sum of the extents' sizes
  int64_t data_at = 0;             // where the old bytes start in the journal
};

// The name of the journal of the image `image`: NAME-journal, beside it.
std::string journal_name(const char* image);

// Makes the journal `path` of the image `rom` that `head` describes (its
// data_at set here): the table and the old bytes, from `memory` when it is
// not null, else copied from the image; then it syncs it, writes the header,
// syncs it again and syncs its folder. The journal open for update, or null
// after "Failed to write journal: REASON" or "Failed to read ROM image:
// REASON", with no journal left then.
FILE* write_journal(FILE* rom, const char* path, JournalHead& head, const char* memory);

// How a journal looks.
enum class JournalState { unfinished, good, refused };

// Reads the journal of `size` bytes (-1: no regular file), open as `journal`, into `head` and
// checks it against the image named `name` (its folder ignored) of
// `image_size` bytes: unfinished when its header is all zero or it is
// empty, which leaves the image as it was; refused, the reason in
// `reason`, when it is damaged, of another image or cannot be read.
JournalState check_journal(FILE* journal, int64_t size, const char* name, int64_t image_size,
                           JournalHead& head, std::string& reason);

// Puts the old bytes of a checked journal back into `rom`, which it cuts to
// its old size, and syncs it; false with errno set.
bool apply_journal(FILE* journal, const JournalHead& head, FILE* rom);

// Closes the journal `path`, open as `journal` (may be null), removes it and
// syncs its folder; false with errno set.
bool give_up_journal(FILE* journal, const char* path);
