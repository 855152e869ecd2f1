#include "spill_file.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#endif

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include "cores.h"
#include "files.h"
#include "windows_text.h"

namespace {

#ifdef _WIN32

// A descriptor of a new file in `folder`, removed by the system once it is
// closed; -1 with errno set.
int open_nameless(const char* folder) {
  // A name of this process's own, numbered on past any that another run left.
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = std::string(folder) + "\\zenpo-" + std::to_string(GetCurrentProcessId()) +
                       "-" + std::to_string(attempt) + ".tmp";
    std::wstring wide = wide_from_utf8(name.c_str());
    if (wide.empty()) {
      errno = ENOENT;
      return -1;
    }
    int fd = -1;
    errno = _wsopen_s(
        &fd, wide.c_str(),
        _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | _O_NOINHERIT | _O_TEMPORARY | _O_SHORT_LIVED,
        _SH_DENYRW, _S_IREAD | _S_IWRITE);
    if (errno == 0) return fd;
    if (errno != EEXIST) return -1;
  }
  return -1;
}

#else

// A descriptor of a new file in `folder` that has no name; -1 with errno set.
int open_nameless(const char* folder) {
#ifdef O_TMPFILE
  // Not every file system makes a file without a name (vfat, NFS): where it
  // fails, one is named and unlinked at once.
  int fd = open(folder, O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
#endif
  std::string name = std::string(folder) + "/.zenpo-XXXXXX";
  int named = mkstemp(name.data());
  if (named >= 0 && unlink(name.c_str()) != 0) {
    int unlink_errno = errno;
    (void)close(named);
    errno = unlink_errno;
    return -1;
  }
  return named;
}

#endif

// Copies through memory, a chunk at a time; which side failed, errno set.
CopyEnd copy_through_memory(FILE* from, int64_t from_at, FILE* to, int64_t to_at, int64_t size) {
  constexpr int64_t kChunk = 1 << 20;
  std::vector<char> buffer(static_cast<size_t>(std::min(size, kChunk)));
  for (int64_t end = to_at + size; to_at < end;) {
    size_t part = static_cast<size_t>(std::min(end - to_at, kChunk));
    if (!read_file_at(from, from_at, buffer.data(), part)) return CopyEnd::read_failed;
    if (!write_file_at(to, to_at, buffer.data(), part)) return CopyEnd::write_failed;
    from_at += static_cast<int64_t>(part);
    to_at += static_cast<int64_t>(part);
  }
  return CopyEnd::done;
}

}  // namespace

FILE* open_spill_file(const char* folder) {
  // Unbuffered, as the image is: the kernel's copies then see every byte.
  return update_stream(open_nameless(folder));
}

CopyEnd copy_file_part(FILE* from, int64_t from_at, FILE* to, int64_t to_at, int64_t size) {
#ifdef __linux__
  // Inside the kernel no byte passes through this process's memory, and a
  // file system that shares blocks copies none at all. Where it stops, for
  // whatever reason, the copy through memory carries on: it gets past a
  // refusal, or meets the failure again and tells which side it was.
  loff_t in = from_at;
  loff_t out = to_at;
  while (size > 0) {
    ssize_t copied = copy_file_range(fileno(from), &in, fileno(to), &out,
                                     static_cast<size_t>(std::min<int64_t>(size, 1 << 30)), 0);
    if (copied <= 0) break;
    size -= copied;
  }
  from_at = in;
  to_at = out;
#endif
  return copy_through_memory(from, from_at, to, to_at, size);
}

void run_side_by_side(const std::function<void(int)>& task) {
#ifdef _WIN32
  task(0);
  task(1);
#else
  run_on_cores(2, [&](size_t k) { task(static_cast<int>(k)); });
#endif
}
