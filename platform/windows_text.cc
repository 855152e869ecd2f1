#include "windows_text.h"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <vector>

std::string utf8_from_wide(const wchar_t* text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
  out.pop_back();  // the terminating zero
  return out;
}

std::wstring wide_from_utf8(const char* text) {
  int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring out(static_cast<size_t>(size), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, &out[0], size);
  out.pop_back();
  return out;
}

int run_with_utf8_arguments(int argc, wchar_t** wide_argv, int (*run)(int, char**)) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(utf8_from_wide(wide_argv[i]));
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(&arg[0]);
  argv.push_back(nullptr);
  return run(argc, argv.data());
}

bool write_console_lines(const char* const* lines, int count) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode;
  if (!GetConsoleMode(out, &mode) || GetConsoleOutputCP() == 932) return false;
  std::fflush(stdout);  // what came before goes first
  for (int i = 0; i < count; ++i) {
    std::wstring line = wide_from_utf8(lines[i]) + L"\r\n";
    DWORD written;
    WriteConsoleW(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  }
  return true;
}

#else

bool write_console_lines(const char* const* /*lines*/, int /*count*/) { return false; }

#endif
