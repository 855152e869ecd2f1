// Recovery: an image that a run cut short by a kill or a power loss left
// half patched, with its journal beside it, is put back as it was before
// that patch by the next program that opens it, zenpo or zenpo-dump alike.
#pragma once

#include <cstdio>

// What the line of an image put back says after "NAME: ".
inline constexpr char kPutBack[] = "put back as it was before a patch that did not finish";

// Locks the image `name`, open as `rom`, until it is closed: for this
// process alone when `exclusive` (zenpo, whose image is open for update),
// else shared with other readers (zenpo-dump). A journal left beside it is
// applied first, under a lock of this process alone, and "NAME: put back as
// it was before a patch that did not finish" said on standard error; a
// journal cut short before the image changed is removed without a word.
// False, both files as they were, after "PATH-journal: not applied to NAME:
// REASON" when the journal is damaged or of another image, or after "Failed
// to put back NAME from PATH-journal: REASON" when the image cannot be
// written where it is (read-only); the lines of a companion tool start with
// "TOOL: " (`tool` not null), and the second then reads "NAME: cannot put it
// back from PATH-journal: REASON".
bool lock_and_recover(FILE* rom, const char* name, bool exclusive, const char* tool);
