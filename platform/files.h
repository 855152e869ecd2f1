// Files as the system gives them, the same calls on every system. Like the
// calls they wrap, these print nothing: a failure returns false (or -1)
// with errno set, and the caller says what it was doing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Positions `file` at `offset` from `whence`; false on failure, errno set.
bool seek_file(FILE* file, int64_t offset, int whence);

// Reads `size` bytes of `file` at `offset` without moving its position, so
// that threads can read one file at once; false with errno set, EIO when
// the file ends first.
bool read_file_at(FILE* file, int64_t offset, char* bytes, size_t size);

// Writes `size` bytes into `file` at `offset`, leaving its position alone
// where the system can; false with errno set.
bool write_file_at(FILE* file, int64_t offset, const char* bytes, size_t size);

// Cuts or stretches `file` to `size` bytes; false with errno set.
bool resize_file(FILE* file, int64_t size);

// Has the system put what was written to `file` on its disk, and its size:
// fdatasync (FlushFileBuffers on Windows); false with errno set.
bool sync_file(FILE* file);

// Asks the system to start writing `size` bytes of `file` at `offset` to its
// disk now, without waiting, so that a later sync_file() has less left to
// wait for (Linux); does nothing elsewhere.
void start_writeback(FILE* file, int64_t offset, int64_t size);

// Has the system put the names of `folder` on its disk, so that a file made
// there is found after a power loss (POSIX); true on Windows, whose file
// systems keep their names in a log of their own. False with errno set.
bool sync_folder(const char* folder);

// The folder of the file `path`: "." when it names none.
std::string folder_of(const char* path);

// The name of the file `path` without its folder.
const char* base_name(const char* path);

// Size of `file`, learnt by seeking its end; -1 on failure, errno set.
int64_t stream_size(FILE* file);

// Size of the regular file that `file` is open on; -1 when it is not one
// (a device, a pipe) or cannot be looked at.
int64_t regular_file_size(FILE* file);

// Opens the file with the UTF-8 name `path` for reading bytes as they are,
// with no translation; null with errno set on failure.
FILE* open_for_reading(const char* path);

// Opens the file with the UTF-8 name `path` for reading and writing bytes as
// they are, unbuffered; never made, never cut. Null with errno set.
FILE* open_for_update(const char* path);

// Opens the descriptor `fd` as an unbuffered stream for update, closing it
// when it cannot; null with errno set (also when `fd` is negative).
FILE* update_stream(int fd);

// Makes the file with the UTF-8 name `path`, which must not exist yet, and
// opens it as open_for_update() does; null with errno set (EEXIST when it exists).
FILE* create_file(const char* path);

// Removes the file with the UTF-8 name `path`; false with errno set.
bool remove_file(const char* path);

// Reads the rest of `file` into `bytes`; false on a read error, errno set.
bool read_stream(FILE* file, std::vector<char>& bytes);

// Which file an open stream is on, so that two names of one file are told
// apart from two files.
struct FileIdentity {
  bool known = false;
  uint64_t device = 0;
  uint64_t file = 0;
};

// The identity of the file `stream` is open on; not known when it cannot be learnt.
FileIdentity identity_of(FILE* stream);

// How a transfer inside the kernel ended: `unsupported` when it moved no
// byte, whether the system refused it or it failed at once, so that the
// caller goes through memory instead; errno is set after `failed`.
enum class KernelIo { done, unsupported, failed };

// Reads all of the regular file `file` through to the null device, which
// costs no copy but shows any read error, and learns its `size`.
KernelIo read_through(FILE* file, int64_t& size);

// Copies the first `size` bytes of `from` over the start of the regular file
// `to` inside the kernel, with no pass through this process's memory; EINTR
// when an interrupt is held.
KernelIo copy_in_kernel(FILE* from, FILE* to, int64_t size);

// Asks the system to back [data, data + size) with large pages where it can:
// a large array then takes a few dozen page faults instead of thousands.
void advise_huge_pages(void* data, size_t size);
