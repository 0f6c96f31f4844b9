// The files the tool is writing and has not yet moved into place or removed: a
// signal that ends the process removes them first (platform_clean_up_on_signals).
// Only the POSIX side keeps the list.
#pragma once

#include <fcntl.h>
#include <signal.h>

// Notes `name` (as the file system names it, inside the open folder `folder`, or
// relative to the current folder or absolute with AT_FDCWD) as a file being
// written.  The caller holds the signals back (hold_signals) from before the file
// is made until it is noted.
void note_live_file(const char* name, int folder = AT_FDCWD);
// Forgets `name` once the file is moved or removed.
void forget_live_file(const char* name, int folder = AT_FDCWD);

// Holds SIGINT, SIGTERM and SIGHUP back on this thread, and lets them through again.
void hold_signals(sigset_t* before);
void release_signals(const sigset_t* before);
