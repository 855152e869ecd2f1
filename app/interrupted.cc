#include "interrupted.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#endif

void end_as_interrupted(int held) {
  (void)std::fflush(stdout);
#ifdef _WIN32
  (void)held;
  ExitProcess(STATUS_CONTROL_C_EXIT);
#else
  (void)std::signal(held, SIG_DFL);
  (void)std::raise(held);
  std::_Exit(128 + held);
#endif
}
