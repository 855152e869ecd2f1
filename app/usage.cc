#include "usage.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "windows_text.h"

#ifndef _WIN32
#include <langinfo.h>
#include <locale.h>
#endif

namespace {

// Usage lines 2 to 7 as the program has always written them, in Shift_JIS.
// clang-format off
const char* const kUsageShiftJis[] = {
    "fontfile\x82\xCC\x8A\x67\x92\xA3\x8E\x71\x82\xAA'txt'\x82\xCC\x82\xC6\x82\xAB\x82\xCD\x81\x41\x83\x74\x83\x48\x83\x93\x83\x67\x83\x70\x83\x62\x83\x60\x8C\x60\x8E\xAE",
    "    \x81\x56            'bin'\x82\xCC\x82\xC6\x82\xAB\x82\xCD\x81\x41\x83\x6F\x83\x43\x83\x69\x83\x8A\x83\x74\x83\x48\x83\x93\x83\x67\x8C\x60\x8E\xAE",
    "\x82\xC6\x82\xB5\x82\xC4ROM file(SUBSYS_C.ROM\x82\xDC\x82\xBD\x82\xCDSUBSYSCG.ROM)\x82\xCC\x92\x86\x90\x67\x82\xF0\x8F\x91\x82\xAB\x8A\xB7\x82\xA6\x82\xE9",
    "SUBSYSCG.ROM\x82\xCDKT5 V2\x97\x70\x82\xCC\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xC5\x81\x41SUBSYS_C.ROM\x82\xCDKT5 V1\x97\x70\x82\xCC\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xC5\x82\xB7",
    "\x82\xB1\x82\xCC\x83\x76\x83\x8D\x83\x4F\x83\x89\x83\x80\x82\xCD\x81\x41\x90\xE6\x82\xC9SUBSYSCG.ROM\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xB5\x81\x41\x82\xBE\x82\xDF\x82\xC8\x82\xE7SUBSYS_C.ROM\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xB5\x82\xE6\x82\xA4\x82\xC6\x82\xB5\x82\xDC\x82\xB7",
    "SUBSYS_C.ROM\x82\xDC\x82\xBD\x82\xCD\x81\x41SUBSYSCG.ROM\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xCD\x81\x41\x82\xB1\x82\xCC\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xC6\x93\xAF\x82\xB6\x83\x66\x83\x42\x83\x8C\x83\x4E\x83\x67\x83\x8A\x82\xC9\x82\xA8\x82\xA2\x82\xC4\x82\xA8\x82\xAD\x95\x4B\x97\x76\x82\xAA\x82\xA0\x82\xE8\x82\xDC\x82\xB7",
};

// The same lines for a UTF-8 terminal, one literal each.
const char* const kUsageUtf8[] = {
    "fontfileの拡張子が'txt'のときは、フォントパッチ形式",
    "    〃            'bin'のときは、バイナリフォント形式",
    "としてROM file(SUBSYS_C.ROMまたはSUBSYSCG.ROM)の中身を書き換える",
    "SUBSYSCG.ROMはKT5 V2用のファイルで、SUBSYS_C.ROMはKT5 V1用のファイルです",
    "このプログラムは、先にSUBSYSCG.ROMをオープンし、だめならSUBSYS_C.ROMをオープンしようとします",
    "SUBSYS_C.ROMまたは、SUBSYSCG.ROMファイルは、このファイルと同じディレクトリにおいておく必要があります",
};
// clang-format on

// Counted, not written down: a comma lost between two lines then makes a
// shorter usage instead of a read past the end, and the encodings must agree.
constexpr int kUsageLines = static_cast<int>(std::size(kUsageUtf8));
static_assert(std::size(kUsageShiftJis) == std::size(kUsageUtf8), "the usage differs by encoding");

// True when the user's locale says the terminal takes UTF-8.
bool locale_is_utf8() {
#ifdef _WIN32
  return false;  // a redirected Windows program writes the bytes it always has
#else
  if (!setlocale(LC_CTYPE, "")) return false;
  const char* codeset = nl_langinfo(CODESET);
  return std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0;
#endif
}

}  // namespace

void print_banner() {
  std::puts("KT5(V1) Font patch tool v0.1");
  std::puts("Written by the zenpo authors");
}

void print_usage() {
  std::puts("SYNOPSIS: zenpo fontfile");
  // A Windows console with another code page than 932 shows the text only
  // when it is given as wide characters.
  if (write_console_lines(kUsageUtf8, kUsageLines)) return;
  const char* const* lines = locale_is_utf8() ? kUsageUtf8 : kUsageShiftJis;
  for (int i = 0; i < kUsageLines; ++i) std::puts(lines[i]);
}
