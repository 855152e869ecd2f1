// An output is written to a new file beside its place and moved over it
// only once the last byte is out, so that a full disk or an interrupt never
// leaves half a file where a whole one was. Devices (the null device, a
// console, a pipe) are written in place, as they hold nothing to lose.
#include "output_file.h"

#include <sys/stat.h>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <string>
#include <utility>

#include "console.h"
#include "files.h"
#include "interrupts.h"
#include "windows_text.h"

namespace {

// What lies at an output's path before it is written.
enum class Existing { none, file, device };

// Bytes of an existing file looked at to tell its kind.
constexpr size_t kProbeSize = 4096;

// True when `head`, the first bytes of a file, are text, as a patch or a hex
// font is: UTF-16 as Windows saves it, or bytes without the control codes
// that binary files are full of.
bool holds_text(std::string_view head) {
  if (head.substr(0, 2) == "\xFF\xFE" || head.substr(0, 2) == "\xFE\xFF") return true;
  return std::all_of(head.begin(), head.end(), [](char c) {
    auto byte = static_cast<unsigned char>(c);
    return byte >= 0x20 || (byte >= '\t' && byte <= '\r') || byte == 0x1A;
  });
}

// True when `head`, the first bytes of a file, are those of `kind`.
bool holds_kind(std::string_view head, OutputKind kind) {
  if (head.empty()) return true;  // an empty file holds nothing to lose
  switch (kind) {
    case OutputKind::png:
      return head.substr(0, 8) == "\x89PNG\r\n\x1a\n";
    case OutputKind::bdf:
      return head.substr(0, 9) == "STARTFONT";
    case OutputKind::psf:
      return head.substr(0, 2) == "\x36\x04" || head.substr(0, 4) == "\x72\xB5\x4A\x86";
    case OutputKind::patch_text:
    case OutputKind::hex:
      break;
  }
  return holds_text(head);
}

const char* kind_name(OutputKind kind) {
  constexpr const char* kNames[] = {"a font patch", "a PNG picture", "a BDF font", "a PSF font",
                                    "a hex font"};
  return kNames[static_cast<int>(kind)];
}

// Prints "TOOL: PATH: TEXT"; returns false.
bool refuse(const char* tool, const char* path, const std::string& text) {
  report_file_error(tool, path, 0, text);
  return false;
}

#ifdef _WIN32

// Looks at the file at `path`: what it is, its identity and its first bytes.
// False with errno set when it cannot be looked at.
bool probe(const char* path, Existing& existing, FileIdentity& identity, std::string& head) {
  std::wstring wide = wide_from_utf8(path);
  FILE* file = wide.empty() ? nullptr : _wfopen(wide.c_str(), L"rb");
  if (!file) {
    existing = Existing::none;
    return wide.empty() || errno == ENOENT;  // a folder cannot be opened: EACCES
  }
  HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  existing = GetFileType(handle) == FILE_TYPE_DISK ? Existing::file : Existing::device;
  identity = identity_of(file);
  head.resize(existing == Existing::file ? kProbeSize : 0);
  head.resize(std::fread(head.data(), 1, head.size(), file));
  (void)std::fclose(file);  // read only
  return true;
}

// Opens `path` for writing in place.
FILE* open_in_place(const char* path) {
  std::wstring wide = wide_from_utf8(path);
  return wide.empty() ? nullptr : _wfopen(wide.c_str(), L"wb");
}

// Opens a new file beside `path`, its UTF-8 name in `temp`; null with errno set.
FILE* open_beside(const char* path, std::string& temp) {
  temp = std::string(path) + ".zenpo-" + std::to_string(GetCurrentProcessId());
  HANDLE handle = CreateFileW(wide_from_utf8(temp.c_str()).c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    errno = GetLastError() == ERROR_PATH_NOT_FOUND ? ENOENT : EACCES;
    return nullptr;
  }
  int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
  FILE* file = fd < 0 ? nullptr : _fdopen(fd, "wb");
  if (!file) CloseHandle(handle);
  return file;
}

// Moves the written `temp` over `path`; false with errno set.
bool move_over(const std::string& temp, const char* path) {
  if (MoveFileExW(wide_from_utf8(temp.c_str()).c_str(), wide_from_utf8(path).c_str(),
                  MOVEFILE_REPLACE_EXISTING))
    return true;
  errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
  return false;
}

void remove_file(const std::string& name) { (void)_wremove(wide_from_utf8(name.c_str()).c_str()); }

#else

bool probe(const char* path, Existing& existing, FileIdentity& identity, std::string& head) {
  struct stat info;
  if (stat(path, &info) != 0) {
    existing = Existing::none;
    return errno == ENOENT;
  }
  if (S_ISDIR(info.st_mode)) {
    errno = EISDIR;
    return false;
  }
  identity = {true, static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
  existing = S_ISREG(info.st_mode) ? Existing::file : Existing::device;
  if (existing == Existing::device) return true;  // a pipe may have nothing to read yet
  // The new file takes its place by name: a read-only one must stay.
  if (access(path, W_OK) != 0) return false;
  FILE* file = open_for_reading(path);
  if (!file) return false;
  head.resize(kProbeSize);
  head.resize(std::fread(head.data(), 1, head.size(), file));
  (void)std::fclose(file);  // read only
  return true;
}

FILE* open_in_place(const char* path) { return std::fopen(path, "wb"); }

// Opens a new file beside the file `path` names (beside a link's target), with
// the mode the file has or a new one would get; its name in `temp`.
FILE* open_beside(const char* path, std::string& temp) {
  char real[PATH_MAX];
  temp = realpath(path, real) ? real : path;
  temp += ".XXXXXX";
  int fd = mkstemp(temp.data());
  if (fd < 0) return nullptr;
  struct stat info;
  mode_t mask = umask(0);
  (void)umask(mask);
  mode_t mode = stat(path, &info) == 0 ? info.st_mode & 07777 : 0666 & ~mask;
  FILE* file = fchmod(fd, mode) == 0 ? fdopen(fd, "wb") : nullptr;
  if (!file) {
    int saved = errno;
    (void)close(fd);
    (void)unlink(temp.c_str());
    errno = saved;
  }
  return file;
}

bool move_over(const std::string& temp, const char* path) {
  char real[PATH_MAX];
  return rename(temp.c_str(), realpath(path, real) ? real : path) == 0;
}

void remove_file(const std::string& name) { (void)unlink(name.c_str()); }

#endif

}  // namespace

bool open_output(const char* tool, const char* path, OutputKind kind, const FileIdentity& source,
                 OutputFile& out) {
  out = OutputFile{};
  if (std::strcmp(path, "-") == 0) {
#ifdef _WIN32
    // A picture is bytes: no CR may go before its LFs.
    if (kind == OutputKind::png || kind == OutputKind::psf) {
      (void)std::fflush(stdout);
      (void)_setmode(_fileno(stdout), _O_BINARY);
    }
#endif
    out.file = stdout;
    return true;
  }
  out.path = path;
  Existing existing = Existing::none;
  FileIdentity identity;
  std::string head;
  if (!probe(path, existing, identity, head)) return report_cannot(tool, path, "write");
  if (identity.known && source.known && identity.device == source.device &&
      identity.file == source.file)
    return refuse(tool, path, "not written: it is the file being read");
  if (existing == Existing::file && !holds_kind(head, kind))
    return refuse(tool, path, std::string("not written: it exists and is not ") + kind_name(kind));
  if (existing == Existing::device) {
    out.file = open_in_place(path);
    return out.file != nullptr || report_cannot(tool, path, "write");
  }
  out.file = open_beside(path, out.temp);
  if (!out.file) return report_cannot(tool, path, "write");
  // An interrupt waits, so that the new file is moved into place or removed.
  hold_interrupts();
  return true;
}

bool close_output(const char* tool, OutputFile& out) {
  if (out.file == stdout) return true;
  if (held_interrupt()) {
    discard_output(out);
    errno = EINTR;
    return false;
  }
  // The first failure is the one told: a flush, the close, or the move.
  int failure = std::fflush(out.file) == 0 && std::ferror(out.file) == 0 ? 0 : errno ? errno : EIO;
  if (std::fclose(out.file) != 0 && failure == 0) failure = errno;
  out.file = nullptr;
  if (failure == 0 && !out.temp.empty() && !move_over(out.temp, out.path)) failure = errno;
  if (!out.temp.empty()) {
    if (failure != 0) remove_file(out.temp);
    release_interrupts();
  }
  if (failure == 0) return true;
  errno = failure;
  return report_cannot(tool, out.path, "write");
}

void discard_output(OutputFile& out) {
  if (out.file == stdout || !out.file) return;
  (void)std::fclose(out.file);
  out.file = nullptr;
  if (!out.temp.empty()) {
    remove_file(out.temp);
    release_interrupts();
  }
}

bool write_output(const char* tool, const char* path, std::string_view data, OutputKind kind,
                  const FileIdentity& source) {
  OutputFile out;
  if (!open_output(tool, path, kind, source, out)) return false;
  (void)std::fwrite(data.data(), 1, data.size(), out.file);  // its error flag tells
  return close_output(tool, out);
}

OutputKind output_kind_of(std::string_view path) {
  size_t dot = path.find_last_of("./\\");
  std::string extension;
  if (dot != std::string_view::npos && path[dot] == '.') {
    for (char c : path.substr(dot + 1)) extension += static_cast<char>(std::tolower(c));
  }
  constexpr std::pair<const char*, OutputKind> kExtensions[] = {{"png", OutputKind::png},
                                                                {"bdf", OutputKind::bdf},
                                                                {"psf", OutputKind::psf},
                                                                {"hex", OutputKind::hex}};
  for (const auto& [name, kind] : kExtensions) {
    if (extension == name) return kind;
  }
  return OutputKind::patch_text;
}
