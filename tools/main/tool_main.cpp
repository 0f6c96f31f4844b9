// mavusfx: the host tool.  `mavusfx --help` lists its commands; each command has
// its own --help.
#include <signal.h>
#include <string.h>

#include <string>
#include <vector>

#include "platform/host_services.h"
#include "platform/text_conversion.h"
#include "tools/command_line.h"
#include "tools/local_names.h"
#include "tools/tool.h"

#ifndef MAVUSFX_VERSION
#error "MAVUSFX_VERSION comes from the project's version in CMakeLists.txt"
#endif

namespace {

const char USAGE[] =
    "usage: mavusfx COMMAND [OPTION...] ARGUMENT...\n"
    "Lists, tests and extracts LHA archives and self-extracting files (a stub, a\n"
    "configuration block and an archive), packs folders and makes installers.\n"
    "\n"
    "commands:\n"
    "  list FILE                 the configuration and every member\n"
    "  test FILE                 decode every member and check it; writes nothing\n"
    "  extract [-C DIR] FILE     extract every member\n"
    "  pack DIR -o ARCHIVE.lzh   pack a folder into a new archive\n"
    "  make ... -o SETUP.exe     join a stub, a configuration block and an archive\n"
    "  help [COMMAND]            this text, or a command's own\n"
    "\n"
    "  -h, --help                this text ('mavusfx COMMAND --help': the command's)\n"
    "      --version             the version\n"
    "\n"
    "FILE is a bare LHA archive or a self-extracting file.  Exit status: 0 when every\n"
    "member came out right, 1 when one failed or was skipped, 2 for usage errors and\n"
    "unreadable files.\n";

struct Command {
    const char* name;
    int (*run)(int argc, char** argv);
};
const Command COMMANDS[] = {{"list", run_list}, {"test", run_test}, {"extract", run_extract},
                            {"pack", run_pack}, {"make", run_make}};

const Command* find_command(const char* name) {
    for (const Command& c : COMMANDS)
        if (strcmp(c.name, name) == 0) return &c;
    return nullptr;
}

int unknown_command(const char* name) {
    std::vector<const char*> names = {"help"};
    for (const Command& c : COMMANDS) names.push_back(c.name);
    const char* near = nearest_word(name, names);
    std::string shown = shown_local(name);
    if (near != nullptr) return usage_error("", "unknown command '%s' (did you mean '%s'?)", shown.c_str(), near);
    return usage_error("", "unknown command '%s'", shown.c_str());
}

// mavusfx help [COMMAND]: the command's own --help.
int run_help(int argc, char** argv) {
    CommandLine line;
    if (!parse_command_line("help", argc, argv, {HELP_OPTION}, &line)) return EXIT_USAGE;
    if (line.operands.empty() || line.wants_help || line.operands[0] == "help") return print_help(USAGE);
    if (line.operands.size() > 1) return usage_error("help", "help takes one COMMAND");
    const Command* command = find_command(line.operands[0].c_str());
    if (command == nullptr) return unknown_command(line.operands[0].c_str());
    char name[16], help[] = "--help";
    snprintf(name, sizeof name, "%s", command->name);
    char* words[] = {name, help, nullptr};
    return command->run(2, words);
}

}  // namespace

int main(int argc, char** argv) {
#ifdef SIGXFSZ
    // Past a file size limit (ulimit -f) a write fails with EFBIG and is reported,
    // instead of the signal ending the tool without a word.
    signal(SIGXFSZ, SIG_IGN);
#endif
    // Interrupted, the tool takes away the files it was writing before it ends.
    platform_clean_up_on_signals();
    platform_use_locale();
    if (argc < 2) {
        fputs(USAGE, stderr);
        return EXIT_USAGE;
    }
    const char* first = argv[1];
    if (strcmp(first, "--help") == 0 || strcmp(first, "-h") == 0) return print_help(USAGE);
    if (strcmp(first, "--version") == 0) {
        printf("mavusfx %s\n", MAVUSFX_VERSION);
        return EXIT_ALL_GOOD;
    }
    if (strcmp(first, "help") == 0) return run_help(argc - 1, argv + 1);
    if (first[0] == '-') {
        std::string shown = shown_local(first);
        return usage_error("", "unknown option '%s' (a COMMAND comes first)", shown.c_str());
    }
    const Command* command = find_command(first);
    if (command == nullptr) return unknown_command(first);
    return command->run(argc - 1, argv + 1);
}
