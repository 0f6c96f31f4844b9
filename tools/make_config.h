// The settings file of mavusfx make: TOML with the names of the command's long
// options as keys, at the top level ("title = "ツール"", "program-files = true").
// Paths in it are taken relative to the file's own folder, so that it can be kept
// beside the folder it packs.
#pragma once

#include <map>
#include <string>
#include <vector>

enum ConfigValueKind { CONFIG_TEXT, CONFIG_PATH, CONFIG_SWITCH };

struct ConfigKey {
    const char* name;
    ConfigValueKind kind;
    int id;
};

// Reads the file at `path` into `values` (by the key's id; a switch as "true" or
// "false", a path joined to the file's folder unless it is absolute).  A file that
// cannot be read or parsed, an unknown key or a value of the wrong type is told on
// stderr, with the file's name and line, and gives false.
bool read_make_config(const char* path, const std::vector<ConfigKey>& keys,
                      std::map<int, std::string>* values);
