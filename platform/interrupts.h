// Interrupts that wait while the image is being written, so that a run
// stopped by the user never leaves it half patched.
#pragma once

// Holds SIGINT, SIGTERM and SIGHUP (on Windows, the console's Ctrl+C and
// Ctrl+Break, a closed console window, a logoff and a shutdown) from now on:
// one that comes is noted and waits. SIGXFSZ is ignored meanwhile, so that a
// file-size limit shows as EFBIG, not a kill.
void hold_interrupts();

// Stops holding and puts the earlier handling back; call it once the files
// are whole again. An interrupt noted meanwhile stays noted, but on Windows
// the process ends from here on when the console is closed or the user logs
// off, without waiting for the end of the run.
void release_interrupts();

// The interrupt noted while held: its signal number (on Windows, the console
// event plus one); 0 when none came.
int held_interrupt();

// Ends the run as the interrupt `held` (held_interrupt()) would have, had it
// not waited for the files to be whole again: by the signal itself, or on
// Windows with the status of Ctrl+C, whatever the console's event.
[[noreturn]] void end_as_interrupted(int held);
