// What only the host tool needs of the system on POSIX: the terminal test, a
// monotonic clock and the replacing rename.
#include <stdio.h>
#include <time.h>
#include <unistd.h>

#include "platform/platform.h"

bool platform_error_output_is_terminal() { return isatty(2) != 0; }

double platform_seconds_now() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return (double)now.tv_sec + (double)now.tv_nsec / 1e9;
}

bool platform_replace_file(const char* from, const char* to) { return rename(from, to) == 0; }
