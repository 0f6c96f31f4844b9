// The settings file of mavusfx make: TOML with the names of the command's long
// options as keys, at the top level ("title = "ツール"", "program-files = true").
// Paths in it are taken relative to the file's own folder, so that it can be kept
// beside the folder it packs.
#pragma once

#include <map>
#include <string>
#include <vector>

enum ConfigValueKind { CONFIG_TEXT, CONFIG_PATH, CONFIG_SWITCH, CONFIG_LIST };

struct ConfigKey {
    const char* name;
    ConfigValueKind kind;
    int id;
};

// What is wrong with `value` for the key of `id`, in words that follow the key's
// name ("takes off, offer, checked or forced, not 'on'"); empty when it is good.
typedef std::string (*ConfigValueProblem)(int id, const std::string& value);

struct ConfigValues {
    std::map<int, std::string> values;              // by the key's id
    std::map<int, std::vector<std::string>> lists;  // CONFIG_LIST keys
};

// Reads the file at `path` into `out` (by the key's id; a switch as "true" or
// "false", a path joined to the file's folder unless it is absolute, a list as an
// array of strings or one string).  A file that cannot be read or parsed, a folder,
// an unknown key, a value of the wrong type or one that `problem` finds wrong is
// told on stderr, with the file's name and line, and gives false.
bool read_make_config(const char* path, const std::vector<ConfigKey>& keys, ConfigValueProblem problem,
                      ConfigValues* out);
