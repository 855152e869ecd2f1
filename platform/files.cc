#include "files.h"

#include <sys/stat.h>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <windows.h>
#else
#include <fcntl.h>
#endif
#ifdef __linux__
#include <sys/mman.h>
#include <sys/sendfile.h>
#endif
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <string>

#include "interrupts.h"
#include "windows_text.h"

bool seek_file(FILE* file, int64_t offset, int whence) {
#ifdef _WIN32
  return _fseeki64(file, offset, whence) == 0;
#else
  return fseeko(file, static_cast<off_t>(offset), whence) == 0;
#endif
}

bool read_file_at(FILE* file, int64_t offset, char* bytes, size_t size) {
  while (size > 0) {
#ifdef _WIN32
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(static_cast<uint64_t>(offset) >> 32);
    DWORD got = 0;
    auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    auto want = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
    if (!ReadFile(handle, bytes, want, &got, &at) && GetLastError() != ERROR_HANDLE_EOF) {
      errno = EIO;
      return false;
    }
#else
    ssize_t got = pread(fileno(file), bytes, size, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
#endif
    if (got == 0) {
      errno = EIO;  // the file is shorter than it was
      return false;
    }
    offset += static_cast<int64_t>(got);
    bytes += got;
    size -= static_cast<size_t>(got);
  }
  return true;
}

bool write_file_at(FILE* file, int64_t offset, const char* bytes, size_t size) {
#ifdef _WIN32
  return seek_file(file, offset, SEEK_SET) && std::fwrite(bytes, 1, size, file) == size;
#else
  while (size > 0) {
    ssize_t put = pwrite(fileno(file), bytes, size, static_cast<off_t>(offset));
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return false;
    bytes += put;
    offset += put;
    size -= static_cast<size_t>(put);
  }
  return true;
#endif
}

bool resize_file(FILE* file, int64_t size) {
#ifdef _WIN32
  errno = _chsize_s(_fileno(file), size);
  return errno == 0;
#else
  return ftruncate(fileno(file), static_cast<off_t>(size)) == 0;
#endif
}

bool sync_file(FILE* file) {
  if (std::fflush(file) != 0) return false;
#ifdef _WIN32
  auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  if (handle != INVALID_HANDLE_VALUE && FlushFileBuffers(handle)) return true;
  errno = EIO;
  return false;
#elif defined(__linux__)
  // The data and the size that reading it needs, not the times.
  return fdatasync(fileno(file)) == 0;
#else
  return fsync(fileno(file)) == 0;
#endif
}

void start_writeback(FILE* file, int64_t offset, int64_t size) {
#ifdef __linux__
  (void)sync_file_range(fileno(file), static_cast<off_t>(offset), static_cast<off_t>(size),
                        SYNC_FILE_RANGE_WRITE);
#else
  (void)file;
  (void)offset;
  (void)size;
#endif
}

bool sync_folder(const char* folder) {
#ifdef _WIN32
  (void)folder;
  return true;
#else
  int fd = open(folder, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  // Some file systems sync no folder (EINVAL): they keep their names otherwise.
  bool synced = fsync(fd) == 0 || errno == EINVAL;
  int sync_errno = errno;
  (void)close(fd);
  errno = sync_errno;
  return synced;
#endif
}

std::string folder_of(const char* path) {
  const char* name = base_name(path);
  if (name == path) return ".";
  // The root keeps its separator.
  return std::string(path, name - path > 1 ? static_cast<size_t>(name - path - 1) : 1);
}

const char* base_name(const char* path) {
  const char* name = path;
  for (const char* c = path; *c; ++c) {
#ifdef _WIN32
    if (*c == '\\' || *c == ':') name = c + 1;
#endif
    if (*c == '/') name = c + 1;
  }
  return name;
}

int64_t stream_size(FILE* file) {
  if (!seek_file(file, 0, SEEK_END)) return -1;
#ifdef _WIN32
  return _ftelli64(file);
#else
  return ftello(file);
#endif
}

int64_t regular_file_size(FILE* file) {
  struct stat info;
  int fd = fileno(file);
  // A stream with no file behind it counts as a device.
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return -1;
  return static_cast<int64_t>(info.st_size);
}

FILE* open_for_reading(const char* path) {
#ifdef _WIN32
  // The path is UTF-8: the wide call opens a name in any script.
  std::wstring wide = wide_from_utf8(path);
  if (wide.empty()) {
    errno = ENOENT;
    return nullptr;
  }
  return _wfopen(wide.c_str(), L"rb");
#else
  return std::fopen(path, "rb");
#endif
}

// Opens the descriptor `fd` as an unbuffered stream for update, closing it
// when it cannot; null with errno set.
FILE* update_stream(int fd) {
  if (fd < 0) return nullptr;
#ifdef _WIN32
  FILE* file = _fdopen(fd, "r+b");
#else
  FILE* file = fdopen(fd, "r+b");
#endif
  if (file && std::setvbuf(file, nullptr, _IONBF, 0) == 0) return file;
  int open_errno = errno;
  if (file) {
    (void)std::fclose(file);
  } else {
#ifdef _WIN32
    (void)_close(fd);
#else
    (void)close(fd);
#endif
  }
  errno = open_errno;
  return nullptr;
}

namespace {

// A descriptor of `path` opened for update with `flags` besides; -1 with errno set.
int open_descriptor(const char* path, int flags) {
#ifdef _WIN32
  std::wstring wide = wide_from_utf8(path);
  if (wide.empty()) {
    errno = ENOENT;
    return -1;
  }
  int fd = -1;
  errno = _wsopen_s(&fd, wide.c_str(), _O_RDWR | _O_BINARY | _O_NOINHERIT | flags, _SH_DENYNO,
                    _S_IREAD | _S_IWRITE);
  return errno == 0 ? fd : -1;
#else
  return open(path, O_RDWR | O_CLOEXEC | flags, 0666);
#endif
}

}  // namespace

FILE* open_for_update(const char* path) { return update_stream(open_descriptor(path, 0)); }

FILE* create_file(const char* path) {
#ifdef _WIN32
  return update_stream(open_descriptor(path, _O_CREAT | _O_EXCL));
#else
  return update_stream(open_descriptor(path, O_CREAT | O_EXCL));
#endif
}

bool remove_file(const char* path) {
#ifdef _WIN32
  std::wstring wide = wide_from_utf8(path);
  if (wide.empty()) {
    errno = ENOENT;
    return false;
  }
  return _wremove(wide.c_str()) == 0;
#else
  return unlink(path) == 0;
#endif
}

bool read_stream(FILE* file, std::vector<char>& bytes) {
  // A regular file says how much is coming; anything else grows as it reads.
  int64_t size = regular_file_size(file);
  size_t want = size >= 0 ? static_cast<size_t>(size) + 1 : size_t{1} << 16;
  size_t used = 0;
  for (;;) {
    bytes.resize(used + want);
    size_t got = std::fread(bytes.data() + used, 1, bytes.size() - used, file);
    used += got;
    if (used < bytes.size()) break;
    want = used;  // the file was longer than it said: double the room
  }
  bytes.resize(used);
  return std::ferror(file) == 0;
}

FileIdentity identity_of(FILE* stream) {
#ifdef _WIN32
  auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  BY_HANDLE_FILE_INFORMATION info;
  if (handle == INVALID_HANDLE_VALUE || !GetFileInformationByHandle(handle, &info)) return {};
  return {true, info.dwVolumeSerialNumber,
          uint64_t{info.nFileIndexHigh} << 32 | info.nFileIndexLow};
#else
  struct stat info;
  if (fstat(fileno(stream), &info) != 0) return {};
  return {true, static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
#endif
}

KernelIo read_through(FILE* file, int64_t& size) {
#ifdef __linux__
  if (regular_file_size(file) < 0) return KernelIo::unsupported;
  int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0) return KernelIo::unsupported;
  off_t done = 0;
  ssize_t got = 1;
  while (got > 0) got = sendfile(null, fileno(file), &done, 1 << 30);
  int read_errno = errno;
  close(null);
  size = done;
  if (got == 0) return KernelIo::done;
  errno = read_errno;
  // Where nothing was read, reading through memory either works or fails
  // with the real reason.
  return done == 0 ? KernelIo::unsupported : KernelIo::failed;
#else
  (void)file;
  (void)size;
  return KernelIo::unsupported;
#endif
}

KernelIo copy_in_kernel(FILE* from, FILE* to, int64_t size) {
#ifdef __linux__
  if (regular_file_size(to) < 0) return KernelIo::unsupported;
  if (std::fflush(to) != 0) return KernelIo::failed;
  loff_t read_at = 0;
  loff_t write_at = 0;
  while (read_at < size && !held_interrupt()) {
    ssize_t copied = copy_file_range(fileno(from), &read_at, fileno(to), &write_at,
                                     static_cast<size_t>(size - read_at), 0);
    if (copied > 0) continue;
    if (copied == 0) errno = EIO;  // the file shrank meanwhile
    // Where nothing was copied, copying through memory either works or
    // fails with the real reason.
    return write_at == 0 ? KernelIo::unsupported : KernelIo::failed;
  }
  if (read_at < size) {
    errno = EINTR;
    return KernelIo::failed;
  }
  return KernelIo::done;
#else
  (void)from;
  (void)to;
  (void)size;
  return KernelIo::unsupported;
#endif
}

void advise_huge_pages(void* data, size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  // From the start of the page that `data` lies in: advice is given for whole
  // pages, and the system backs the 2 MiB stretches inside with large ones.
  auto skip = reinterpret_cast<uintptr_t>(data) % static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  (void)madvise(static_cast<char*>(data) - skip, size + skip, MADV_HUGEPAGE);
#else
  (void)data;
  (void)size;
#endif
}
