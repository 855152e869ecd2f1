// zenpo FONTFILE: rewrites the font area of SUBSYSCG.ROM or SUBSYS_C.ROM in
// the current directory from a font-patch text (.txt) or a binary font (.bin).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "console.h"
#include "fontimport.h"
#include "interrupts.h"
#include "rom_image.h"
#include "rom_recovery.h"
#include "usage.h"
#include "windows_text.h"

namespace {

// Room for an extension of 11 characters and its terminating zero.
constexpr size_t kExtensionSize = 12;

// Copies the text after the last '.' of `path` (all of it when there is no
// dot) into `out`, upper-cased in ASCII; empty when it would not fit.
char* upper_extension(const char* path, char out[kExtensionSize]) {
  const char* dot = std::strrchr(path, '.');
  const char* ext = dot ? dot + 1 : path;
  size_t length = std::strlen(ext);
  if (length >= kExtensionSize) length = 0;  // too long: unsupported
  std::memcpy(out, ext, length);
  out[length] = '\0';
  for (char* c = out; *c; ++c) {
    if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');
  }
  return out;
}

// The kind of the font file at `path`, by its extension.
FontKind font_kind_of(const char* path) {
  char ext[kExtensionSize];
  upper_extension(path, ext);
  if (std::strcmp(ext, "TXT") == 0) return FontKind::text;
  if (std::strcmp(ext, "BIN") == 0) return FontKind::binary;
  return FontKind::none;
}

// Opens SUBSYSCG.ROM, or else SUBSYS_C.ROM, named in `name`, for update,
// announces it, locks it for this run alone and puts it back first when a
// patch did not finish; null after the error lines when neither opens or
// the one that does cannot be put back.
FILE* open_and_announce_rom(const char*& name) {
  int which = 0;
  int reasons[2] = {};
  FILE* rom = open_target_rom(which, reasons);
  if (rom) {
    name = kRomNames[which];
    std::printf("Target file is the %s\n", name);
    // From before the first read of the image to its close, so that two runs
    // never mix their rows, nor one's undo the other's new bytes.
    if (lock_and_recover(rom, name, true, nullptr)) return rom;
    (void)std::fclose(rom);  // nothing written: a failed close loses nothing
    return nullptr;
  }
  errno = reasons[1];
  report_error("Failed to open 'SUBSYS_C.ROM(V1) or SUBSYS_CG.ROM(V2)' file");
  if (reasons[0] != ENOENT) {
    // The first image is there but read-only, a folder or out of reach: the
    // line above gives only the second's reason.
    errno = reasons[0];
    report_error((std::string("Failed to open ") + kRomNames[0]).c_str());
  }
  return nullptr;
}

// Returns `status`, or 1 when the console lines could not all be written.
int close_stdout(int status) {
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    report_error("Failed to write standard output");
    return status ? status : 1;
  }
  return status;
}

}  // namespace

// The whole run, with the arguments in UTF-8 on every system.
int run_zenpo(int argc, char** argv) {
  print_banner();
  if (argc != 2) {
    print_usage();
    return close_stdout(1);
  }
  const char* path = argv[1];
  FontKind kind = font_kind_of(path);
  if (kind == FontKind::none) {
    std::puts("Unsupported file specified");
    print_usage();
    return close_stdout(1);
  }
  const char* name = nullptr;
  FILE* rom = open_and_announce_rom(name);
  if (!rom) return close_stdout(1);
  bool patched = kind == FontKind::text ? patch_text_font(rom, name, path)
                                        : patch_binary_font(rom, name, path);
  if (patched) std::puts("Done!");
  int status = patched ? 0 : 1;
  if (std::fclose(rom) != 0) {
    report_error("Failed to close ROM image");
    if (patched) status = -1;
  }
  if (int held = held_interrupt()) end_as_interrupted(held);
  return close_stdout(status);
}

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) { return run_with_utf8_arguments(argc, argv, run_zenpo); }
#else
int main(int argc, char** argv) { return run_zenpo(argc, argv); }
#endif
