// One writer at a time: zenpo locks the image it patches for itself alone,
// and zenpo-dump shares a lock with other readers, so that neither sees or
// writes over the other's half-done work. The lock binds only programs that
// ask for it: an emulator that has the image open reads and writes it as
// before.
#pragma once

#include <cstdio>

// Locks `file`, named `name`, until it is closed: for this process alone
// when `exclusive`, else shared with other readers. When another program
// holds a lock in the way, it says "Waiting for another program that holds
// NAME" on standard error, once, and waits. False, without a word, when the
// file or its file system keeps no locks (a device, some network shares):
// the run then goes on unlocked.
bool lock_file(FILE* file, bool exclusive, const char* name);

// Gives up the lock that lock_file() took on `file`.
void unlock_file(FILE* file);
