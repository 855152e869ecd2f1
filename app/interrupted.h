// The end of a run that an interrupt stopped while it was held.
#pragma once

// Ends the run as the interrupt `held` (held_interrupt()) would have, had it
// not waited for the files to be whole again: by the signal itself, or on
// Windows with the status of Ctrl+C.
[[noreturn]] void end_as_interrupted(int held);
