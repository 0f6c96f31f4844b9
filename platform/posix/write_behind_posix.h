// The POSIX side's stream for a new file: written behind by a second thread when
// the host tool turned that on, a plain fdopen stream otherwise.
#pragma once

#include <stdio.h>

// A "wb" stream over `fd`, which it owns from then on; null when none could be made
// (`fd` is then still the caller's).
FILE* open_written_file(int fd);
