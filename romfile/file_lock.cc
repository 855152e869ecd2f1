#include "file_lock.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <io.h>
#include <windows.h>
#else
#include <sys/file.h>
#endif

#include <cerrno>
#include <cstdint>

namespace {

// What a program that has to wait for the lock says, the file's name after it.
constexpr char kWaiting[] = "Waiting for another program that holds ";

// How one attempt at the lock went.
enum class Attempt { locked, busy, unsupported };

#ifdef _WIN32

// The byte that the lock covers. A Windows lock keeps every other handle
// from reading and writing the bytes under it, so it covers one byte that
// no image reaches, the same for every program that locks the image.
constexpr uint64_t kLockedByte = 0x7FFFFFFFFFFFFFFEu;

// Takes the lock on `file`, or waits for it when `wait`; busy when another
// handle holds it and `wait` is false.
Attempt attempt_lock(FILE* file, bool exclusive, bool wait) {
  auto* handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (handle == INVALID_HANDLE_VALUE) return Attempt::unsupported;
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(kLockedByte);
  at.OffsetHigh = static_cast<DWORD>(kLockedByte >> 32);
  DWORD flags = (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0) | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
  if (LockFileEx(handle, flags, 0, 1, 0, &at)) return Attempt::locked;
  DWORD code = GetLastError();
  // Devices and some network redirectors keep no locks; only a lock held
  // elsewhere is worth waiting for.
  return code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING ? Attempt::busy
                                                                  : Attempt::unsupported;
}

#else

// Takes the lock on `file`, or waits for it when `wait`; busy when another
// open file holds it and `wait` is false.
Attempt attempt_lock(FILE* file, bool exclusive, bool wait) {
  // flock, not fcntl: its lock belongs to this open file, so another
  // descriptor of the same file, opened and closed meanwhile, leaves it be.
  int operation = (exclusive ? LOCK_EX : LOCK_SH) | (wait ? 0 : LOCK_NB);
  while (flock(fileno(file), operation) != 0) {
    if (errno == EWOULDBLOCK) return Attempt::busy;
    // ENOLCK, EOPNOTSUPP, EINVAL: the file system keeps no locks. A signal
    // that ends the run ends the wait with it; any other, caught, does not.
    if (errno != EINTR) return Attempt::unsupported;
  }
  return Attempt::locked;
}

#endif

}  // namespace

bool lock_file(FILE* file, bool exclusive, const char* name) {
  Attempt attempt = attempt_lock(file, exclusive, false);
  if (attempt == Attempt::busy) {
    // Standard output first, so that the lines keep their order in one file.
    (void)std::fflush(stdout);
    (void)std::fprintf(stderr, "%s%s\n", kWaiting, name);
    attempt = attempt_lock(file, exclusive, true);
  }
  return attempt == Attempt::locked;
}

void unlock_file(FILE* file) {
#ifdef _WIN32
  auto* handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(kLockedByte);
  at.OffsetHigh = static_cast<DWORD>(kLockedByte >> 32);
  if (handle != INVALID_HANDLE_VALUE) (void)UnlockFileEx(handle, 0, 1, 0, &at);
#else
  (void)flock(fileno(file), LOCK_UN);
#endif
}
