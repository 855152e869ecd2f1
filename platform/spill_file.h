// Files for bytes kept a while: a spill file beside the file they come from,
// which leaves nothing behind however the run ends, and copies between two
// open files at any offsets. Like files.h, these print nothing: a failure
// returns with errno set, and the caller says what it was doing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>

// Opens a new, empty file in `folder` for update, unbuffered, that has no
// name (on Windows, one that the system removes when it is closed or the
// process ends); null with errno set.
FILE* open_spill_file(const char* folder);

// How a copy between two files ended: `done`, or which side failed, with
// errno set.
enum class CopyEnd { done, read_failed, write_failed };

// Copies `size` bytes of `from` at `from_at` to `to` at `to_at`: inside the
// kernel where the system can, else through a buffer of fixed size. A source
// that ends first is a failed read, errno EIO. The streams' positions may move.
CopyEnd copy_file_part(FILE* from, int64_t from_at, FILE* to, int64_t to_at, int64_t size);

// Runs task(0) on this thread and task(1) on a thread of its own, side by
// side, where the system has threads (POSIX), so that two copies into
// different files take two processors; else, or when no thread can be made,
// one after the other. Returns once both are done.
void run_side_by_side(const std::function<void(int)>& task);
