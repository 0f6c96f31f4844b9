// mavusfx pack DIR -o ARCHIVE [--method lh5|lh6|lh7|lh0] [--level 0|1|2]
//              [--exclude GLOB]... [--follow-symlinks]
#include <string.h>

#include "tools/pack/folder_packer.h"
#include "tools/tool.h"

static bool method_bits(const char* name, unsigned* bits) {
    static const struct { const char* name; unsigned bits; } METHODS[] = {
        {"lh0", 0}, {"lh5", 13}, {"lh6", 15}, {"lh7", 16}};
    // "-lh7-" is accepted as well as "lh7".
    char bare[8] = {};
    size_t length = strlen(name);
    if (length == 5 && name[0] == '-' && name[4] == '-') memcpy(bare, name + 1, 3);
    else if (length < sizeof bare) memcpy(bare, name, length);
    for (const auto& m : METHODS) {
        if (strcmp(bare, m.name) == 0) {
            *bits = m.bits;
            return true;
        }
    }
    return false;
}

int run_pack(int argc, char** argv, int (*usage)()) {
    const char* folder = nullptr;
    const char* archive = nullptr;
    PackSettings settings = DEFAULT_PACK_SETTINGS;
    for (int i = 0; i < argc; i++) {
        const char* arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (strcmp(arg, "-o") == 0 && value != nullptr) {
            archive = value;
            i++;
        } else if (strcmp(arg, "--method") == 0 && value != nullptr) {
            if (!method_bits(value, &settings.dictionary_bits)) {
                fprintf(stderr, "mavusfx: unknown method %s (lh5, lh6, lh7 or lh0)\n", value);
                return EXIT_USAGE;
            }
            i++;
        } else if (strcmp(arg, "--level") == 0 && value != nullptr) {
            if (strlen(value) != 1 || value[0] < '0' || value[0] > '2') {
                fprintf(stderr, "mavusfx: unknown header level %s (0, 1 or 2)\n", value);
                return EXIT_USAGE;
            }
            settings.level = value[0] - '0';
            i++;
        } else if (strcmp(arg, "--exclude") == 0 && value != nullptr) {
            settings.exclude.push_back(value);
            i++;
        } else if (strcmp(arg, "--follow-symlinks") == 0) {
            settings.follow_links = true;
        } else if (arg[0] == '-' && arg[1] != 0) {
            return usage();
        } else if (folder == nullptr) {
            folder = arg;
        } else {
            return usage();
        }
    }
    if (folder == nullptr || archive == nullptr) return usage();
    PackTotals totals = {};
    int status = pack_folder(folder, archive, &settings, &totals);
    if (status == EXIT_ALL_GOOD) {
        printf("%u files and %u folders, %llu bytes packed into %llu", totals.files, totals.folders,
               (unsigned long long)totals.original_bytes, (unsigned long long)totals.archive_bytes);
        if (totals.left_out > 0) printf(" (%u left out, named above)", totals.left_out);
        printf("\n");
    }
    return status;
}
