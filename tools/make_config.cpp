#include "tools/make_config.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

// The parser reports its errors as results; the tool is built without exceptions
// for Windows, and one way serves both builds.
#define TOML_EXCEPTIONS 0
#include <toml++/toml.h>

#include "platform/host_services.h"
#include "tools/command_line.h"
#include "tools/local_names.h"

namespace {

bool tell(const char* path, const toml::source_region& where, const std::string& message) {
    fprintf(stderr, "mavusfx: %s:%u: %s\n", shown_local(path).c_str(), (unsigned)where.begin.line,
            message.c_str());
    return false;
}

const char* kind_text(ConfigValueKind kind) {
    switch (kind) {
    case CONFIG_SWITCH: return "true or false";
    case CONFIG_LIST: return "a list of strings ([\"*.tmp\", \"cache/\"])";
    default: return "a string";
    }
}

}  // namespace

bool read_make_config(const char* path, const std::vector<ConfigKey>& keys, ConfigValueProblem problem,
                      ConfigValues* out) {
    PathInfo info = {};
    if (platform_path_info(path, &info) && info.is_folder) {
        fprintf(stderr, "mavusfx: %s: is a folder\n", shown_local(path).c_str());
        return false;
    }
    FILE* probe = fopen(path, "rb");
    if (probe == nullptr) {
        fprintf(stderr, "mavusfx: %s: %s\n", shown_local(path).c_str(), strerror(errno));
        return false;
    }
    fclose(probe);
    toml::parse_result parsed = toml::parse_file(path);
    if (!parsed) {
        const toml::parse_error& error = parsed.error();
        return tell(path, error.source(), std::string(error.description()));
    }
    std::string folder = path;
    size_t slash = folder.rfind('/');
    folder = slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);

    for (auto&& [key, node] : parsed.table()) {
        std::string name(key.str());
        const ConfigKey* known = nullptr;
        for (const ConfigKey& k : keys)
            if (name == k.name) known = &k;
        if (known == nullptr) {
            std::vector<const char*> names;
            for (const ConfigKey& k : keys) names.push_back(k.name);
            const char* near = nearest_word(name, names);
            std::string message = "unknown key '" + shown_local(name.c_str()) + "'";
            if (near != nullptr) message += std::string(" (did you mean '") + near + "'?)";
            return tell(path, key.source(), message);
        }
        std::string wrong_type = name + " takes " + kind_text(known->kind);
        if (known->kind == CONFIG_SWITCH) {
            const toml::value<bool>* flag = node.as_boolean();
            if (flag == nullptr) return tell(path, key.source(), wrong_type);
            out->values[known->id] = flag->get() ? "true" : "false";
            continue;
        }
        if (known->kind == CONFIG_LIST) {
            std::vector<std::string>& list = out->lists[known->id];
            if (const toml::value<std::string>* one = node.as_string()) {
                list.push_back(one->get());
                continue;
            }
            const toml::array* items = node.as_array();
            if (items == nullptr) return tell(path, key.source(), wrong_type);
            for (const toml::node& item : *items) {
                const toml::value<std::string>* text = item.as_string();
                if (text == nullptr) return tell(path, item.source(), wrong_type);
                list.push_back(text->get());
            }
            continue;
        }
        const toml::value<std::string>* text = node.as_string();
        if (text == nullptr) return tell(path, key.source(), wrong_type);
        std::string value = text->get();
        std::string why = problem != nullptr ? problem(known->id, value) : std::string();
        if (!why.empty()) return tell(path, node.source(), name + " " + why);
        // "-" stays the standard output.
        if (known->kind == CONFIG_PATH && !value.empty() && value[0] != '/' && value != "-") value = folder + value;
        out->values[known->id] = value;
    }
    return true;
}
