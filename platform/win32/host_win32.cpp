// What only the host tool needs of the system on Windows: the terminal test, a
// monotonic clock and the replacing rename.
#include <windows.h>

#include "platform/platform.h"

bool platform_error_output_is_terminal() {
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

double platform_seconds_now() { return (double)GetTickCount() / 1000.0; }

bool platform_replace_file(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
}
