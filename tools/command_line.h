// The command line as getopt_long reads it: options and operands in any order,
// "--" ends the options, "--name=value" or "--name value", "-o value" or "-ovalue",
// short flags together ("-hC dir"), and a long name cut short while it names one
// option only.  Usage errors are told in one style: "mavusfx: ..." with a pointer
// to the command's help, and exit status 2.
#pragma once

#include <string>
#include <vector>

struct KnownOption {
    const char* name;  // the long name without "--"; null for a short option only
    char letter;       // the short option, 0 for a long option only
    bool takes_value;
    int id;
};

// Every command's -h and --help.
enum { OPTION_HELP = -1 };
extern const KnownOption HELP_OPTION;

struct GivenOption {
    int id;
    std::string value;
    std::string spelled;  // as it was given ("--title", "-o"), for messages
};

struct CommandLine {
    std::vector<GivenOption> options;  // in the order given
    std::vector<std::string> operands;
    bool wants_help = false;           // -h or --help was among them
};

// Reads argv[1..argc-1] for `command` ("make", or "" for the tool itself).  A
// mistake is told on stderr and gives false.
bool parse_command_line(const char* command, int argc, char** argv,
                        const std::vector<KnownOption>& known, CommandLine* out);

// "mavusfx: " and the message on stderr, then where the help is; returns 2.
int usage_error(const char* command, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// Prints a help text on stdout; returns 0.
int print_help(const char* text);

// Of `candidates`, the one `word` is most likely a misspelling of (at most two
// edits away, and nearer than any other); null when there is none.
const char* nearest_word(const std::string& word, const std::vector<const char*>& candidates);
