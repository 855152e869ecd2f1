// Text at the edges of a Windows program: UTF-8 inside, wide characters for
// the system. On other systems these do nothing.
#pragma once

#include <string>

#ifdef _WIN32
// The UTF-8 form of a wide string; empty when it has none.
std::string utf8_from_wide(const wchar_t* text);

// The wide form of a UTF-8 string; empty when it is not valid UTF-8.
std::wstring wide_from_utf8(const char* text);

// Runs `run` with the wide arguments of wmain in UTF-8: Windows hands the
// narrow ones over in the ANSI code page, which cannot spell every name.
int run_with_utf8_arguments(int argc, wchar_t** wide_argv, int (*run)(int, char**));
#endif

// Writes UTF-8 lines through the wide console API when standard output is a
// Windows console whose code page is not 932; false, writing nothing, when
// the bytes should go out as they are.
bool write_console_lines(const char* const* lines, int count);
