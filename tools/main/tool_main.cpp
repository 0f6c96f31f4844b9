// mavusfx: the host tool.  See usage() for its commands.
#include <string.h>

#include "tools/tool.h"

static int usage() {
    fputs("usage: mavusfx list FILE\n"
          "       mavusfx test FILE\n"
          "       mavusfx extract [-C DIR] FILE\n"
          "       mavusfx pack DIR -o ARCHIVE.lzh [--method lh5|lh6|lh7|lh0] [--level 0|1|2]\n"
          "                    [--exclude GLOB]... [--follow-symlinks]\n"
          "       mavusfx make (--archive A.lzh | --from DIR) -o OUT.exe [--stub mavusfx.exe]\n"
          "                    [--title T]\n"
          "                    [--dest NAME] [--program-files] [--shortcut-target PATH]\n"
          "                    [--start-menu MODE] [--desktop MODE] [--send-to MODE]\n"
          "                    [--launch PATH] [--no-config]\n"
          "FILE is a bare LHA archive or a combined file (stub, configuration block, archive).\n"
          "pack puts everything below DIR into a new archive (default -lh7-, header level 2);\n"
          "a file that does not shrink is stored as -lh0-, names become Shift-JIS.\n"
          "make joins the stub (the one built into mavusfx unless --stub names another), a\n"
          "configuration block and the archive (or DIR packed as by\n"
          "pack) into OUT.exe.  MODE is off (no shortcut), offer (box unchecked), checked\n"
          "(box checked) or forced (always made, box disabled).  Texts are given in UTF-8\n"
          "and stored as Shift-JIS.\n"
          "Exit status: 0 all members good, 1 a member failed or was skipped (pack: a file\n"
          "could not be packed, and no archive is made), 2 usage or unreadable file.\n",
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
    if (strcmp(command, "pack") == 0) return run_pack(argc - 2, argv + 2, usage);
    if (strcmp(command, "make") == 0) return argc > 2 ? run_make(argc - 2, argv + 2) : usage();
    return usage();
}
