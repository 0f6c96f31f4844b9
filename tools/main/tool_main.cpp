// mavusfx: the host tool.  See usage() for its commands.
#include <string.h>

#include "tools/tool.h"

static int usage() {
    fputs("usage: mavusfx list FILE\n"
          "       mavusfx test FILE\n"
          "       mavusfx extract [-C DIR] FILE\n"
          "FILE is a bare LHA archive or a combined file (stub, configuration block, archive).\n"
          "Exit status: 0 all members good, 1 a member failed or was skipped, 2 usage or\n"
          "unreadable file.\n",
          stderr);
    return EXIT_USAGE;
}

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const char* command = argv[1];
    if (strcmp(command, "list") == 0 && argc == 3) return run_list(argv[2]);
    if (strcmp(command, "test") == 0 && argc == 3) return run_extract(argv[2], nullptr, true);
    if (strcmp(command, "extract") == 0) {
        if (argc == 3) return run_extract(argv[2], nullptr, false);
        if (argc == 5 && strcmp(argv[2], "-C") == 0) return run_extract(argv[4], argv[3], false);
        return usage();
    }
    return usage();
}
