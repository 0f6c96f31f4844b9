#include "tools/command_line.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "tools/local_names.h"
#include "tools/tool.h"

const KnownOption HELP_OPTION = {"help", 'h', false, OPTION_HELP};

int usage_error(const char* command, const char* format, ...) {
    fflush(stdout);
    fputs("mavusfx: ", stderr);
    va_list arguments;
    va_start(arguments, format);
    vfprintf(stderr, format, arguments);
    va_end(arguments);
    fprintf(stderr, "; try 'mavusfx%s%s --help'\n", command[0] != 0 ? " " : "", command);
    return EXIT_USAGE;
}

int print_help(const char* text) {
    fputs(text, stdout);
    return EXIT_ALL_GOOD;
}

/* Edit distance (insertions, deletions, substitutions, and two neighbours swapped),
 * one row at a time. */
static size_t edit_distance(const std::string& a, const std::string& b) {
    std::vector<size_t> before(b.size() + 1), row(b.size() + 1), previous(b.size() + 1);
    for (size_t j = 0; j <= b.size(); j++) row[j] = j;
    for (size_t i = 1; i <= a.size(); i++) {
        before = previous;
        previous = row;
        row[0] = i;
        for (size_t j = 1; j <= b.size(); j++) {
            size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            row[j] = std::min({previous[j] + 1, row[j - 1] + 1, previous[j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                row[j] = std::min(row[j], before[j - 2] + 1);
        }
    }
    return row[b.size()];
}

const char* nearest_word(const std::string& word, const std::vector<const char*>& candidates) {
    const char* best = nullptr;
    size_t best_distance = 3;
    bool tied = false;
    for (const char* candidate : candidates) {
        size_t distance = edit_distance(word, candidate);
        if (distance < best_distance) {
            best = candidate;
            best_distance = distance;
            tied = false;
        } else if (distance == best_distance) {
            tied = true;
        }
    }
    return tied || best_distance >= word.size() ? nullptr : best;
}

namespace {

struct Parser {
    const char* command;
    const std::vector<KnownOption>& known;
    CommandLine* out;
    int argc;
    char** argv;
    int next;  // the argument after the one being read

    bool unknown_long(const std::string& name) {
        std::vector<const char*> names;
        for (const KnownOption& s : known)
            if (s.name != nullptr) names.push_back(s.name);
        const char* near = nearest_word(name, names);
        std::string shown = shown_local(name.c_str());
        if (near != nullptr)
            usage_error(command, "unknown option '--%s' (did you mean '--%s'?)", shown.c_str(), near);
        else
            usage_error(command, "unknown option '--%s'", shown.c_str());
        return false;
    }

    // The option a long name names: exact, or the only one it begins.
    const KnownOption* find_long(const std::string& name) {
        std::vector<const KnownOption*> begun;
        for (const KnownOption& s : known) {
            if (s.name == nullptr) continue;
            if (name == s.name) return &s;
            if (strncmp(s.name, name.c_str(), name.size()) == 0) begun.push_back(&s);
        }
        if (begun.size() == 1) return begun[0];
        if (begun.empty()) {
            unknown_long(name);
        } else {
            std::string all;
            for (const KnownOption* s : begun) all += std::string(all.empty() ? "" : ", ") + "--" + s->name;
            usage_error(command, "option '--%s' is ambiguous (%s)", shown_local(name.c_str()).c_str(),
                        all.c_str());
        }
        return nullptr;
    }

    void add(const KnownOption& option, const std::string& spelled, const std::string& value) {
        if (option.id == OPTION_HELP) out->wants_help = true;
        else out->options.push_back({option.id, value, spelled});
    }

    bool read_long(const char* text) {
        const char* equals = strchr(text, '=');
        std::string name = equals != nullptr ? std::string(text, equals) : std::string(text);
        const KnownOption* option = find_long(name);
        if (option == nullptr) return false;
        std::string spelled = std::string("--") + option->name;
        if (!option->takes_value) {
            if (equals != nullptr)
                return usage_error(command, "option '%s' takes no value", spelled.c_str()), false;
            add(*option, spelled, "");
            return true;
        }
        if (equals != nullptr) {
            add(*option, spelled, equals + 1);
            return true;
        }
        if (next >= argc) return usage_error(command, "option '%s' needs a value", spelled.c_str()), false;
        add(*option, spelled, argv[next++]);
        return true;
    }

    // "-abc": flags, the first that takes a value taking the rest or the next word.
    bool read_short(const char* text) {
        for (const char* p = text; *p != 0; p++) {
            const KnownOption* option = nullptr;
            for (const KnownOption& s : known)
                if (s.letter != 0 && s.letter == *p) option = &s;
            std::string spelled = shown_local((std::string("-") + *p).c_str());
            if (option == nullptr)
                return usage_error(command, "unknown option '%s'", spelled.c_str()), false;
            if (!option->takes_value) {
                add(*option, spelled, "");
                continue;
            }
            if (p[1] != 0) {
                add(*option, spelled, p + 1);
            } else if (next < argc) {
                add(*option, spelled, argv[next++]);
            } else {
                return usage_error(command, "option '%s' needs a value", spelled.c_str()), false;
            }
            return true;
        }
        return true;
    }
};

}  // namespace

bool parse_command_line(const char* command, int argc, char** argv,
                        const std::vector<KnownOption>& known, CommandLine* out) {
    *out = CommandLine();
    Parser parser = {command, known, out, argc, argv, 1};
    bool options_end = false;
    while (parser.next < argc) {
        const char* word = argv[parser.next++];
        if (options_end || word[0] != '-' || word[1] == 0) {
            out->operands.push_back(word);
        } else if (strcmp(word, "--") == 0) {
            options_end = true;
        } else if (word[1] == '-') {
            if (!parser.read_long(word + 2)) return false;
        } else if (!parser.read_short(word + 1)) {
            return false;
        }
    }
    return true;
}
