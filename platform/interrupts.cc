#include "interrupts.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

#ifdef _WIN32

// The console's handler runs on a thread of its own.
volatile LONG held = 0;

// Set while nothing is being written: the files are whole, or put back.
HANDLE files_whole = nullptr;

// Notes the console's event. Ctrl+C and Ctrl+Break then wait for the main
// thread to end the run; a closed window, a logoff or a shutdown ends the
// process as soon as this returns, so it returns only once the files are
// whole again (or the system's time-out, 5 or 20 seconds, ends it first).
BOOL WINAPI note_console_event(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT &&
      event != CTRL_LOGOFF_EVENT && event != CTRL_SHUTDOWN_EVENT) {
    return FALSE;
  }
  InterlockedExchange(&held, static_cast<LONG>(event) + 1);
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && files_whole) {
    (void)WaitForSingleObject(files_whole, INFINITE);
  }
  return TRUE;
}

#else

volatile sig_atomic_t held = 0;

// Each signal that waits, or is ignored, while held, and how it was handled before.
struct HeldSignal {
  int signal;
  struct sigaction earlier;
};
HeldSignal held_signals[] = {{SIGINT, {}}, {SIGTERM, {}}, {SIGHUP, {}}, {SIGXFSZ, {}}};

void note_signal(int signal) { held = signal; }

#endif

}  // namespace

void hold_interrupts() {
#ifdef _WIN32
  // Manual reset: every waiting handler goes once it is set.
  if (!files_whole) files_whole = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (files_whole) (void)ResetEvent(files_whole);
  (void)SetConsoleCtrlHandler(note_console_event, TRUE);
#else
  struct sigaction note = {};
  note.sa_handler = note_signal;
  note.sa_flags = SA_RESTART;
  (void)sigfillset(&note.sa_mask);
  for (HeldSignal& h : held_signals) {
    (void)sigaction(h.signal, nullptr, &h.earlier);
    // A signal ignored by whoever started us (nohup) stays ignored.
    if (h.earlier.sa_handler == SIG_IGN) continue;
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    (void)sigaction(h.signal, h.signal == SIGXFSZ ? &ignore : &note, nullptr);
  }
#endif
}

void release_interrupts() {
#ifdef _WIN32
  // The waiting handler first: removing a handler may wait for the one that
  // runs, and the handler waits for this.
  if (files_whole) (void)SetEvent(files_whole);
  (void)SetConsoleCtrlHandler(note_console_event, FALSE);
#else
  for (const HeldSignal& h : held_signals) (void)sigaction(h.signal, &h.earlier, nullptr);
#endif
}

int held_interrupt() { return static_cast<int>(held); }

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
