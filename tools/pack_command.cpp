// mavusfx pack DIR -o ARCHIVE [--method lh5|lh6|lh7|lh0] [--level 0|1|2]
//              [--exclude GLOB]... [--follow-symlinks]
#include <string.h>

#include "tools/command_line.h"
#include "tools/pack/folder_packer.h"
#include "tools/local_names.h"
#include "tools/replacing_file.h"
#include "tools/tool.h"

bool method_bits(const char* name, unsigned* bits) {
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

namespace {

const char HELP[] =
    "usage: mavusfx pack DIR -o ARCHIVE.lzh [--method METHOD] [--level LEVEL]\n"
    "                    [--exclude GLOB]... [--follow-symlinks]\n"
    "Packs everything below DIR into a new archive: names sorted, each folder's\n"
    "entry before its content, names in Shift-JIS.  A file that does not shrink is\n"
    "stored as -lh0-.  The archive is written to a temporary file and renamed when\n"
    "complete (a device or FIFO is written into, '-' is stdout); an archive inside\n"
    "DIR leaves itself out.\n"
    "\n"
    "  -o, --output=ARCHIVE   the archive to write ('-': stdout)\n"
    "      --method=METHOD    lh7 (default), lh6, lh5 or lh0 (store everything)\n"
    "      --level=LEVEL      header level 0, 1 or 2 (default)\n"
    "      --exclude=GLOB     leave out what GLOB matches (a name, or a path below DIR\n"
    "                         when it holds a '/'); may be given again\n"
    "      --follow-symlinks  follow links to folders and links leading outside DIR\n"
    "  -h, --help             this text\n"
    "\n"
    "Exit status: 0 packed, 1 a file could not be packed or the archive could not\n"
    "be written (no archive is made), 2 usage, or DIR unreadable.\n";

enum { OPTION_OUTPUT, OPTION_METHOD, OPTION_LEVEL, OPTION_EXCLUDE, OPTION_FOLLOW_LINKS };

}  // namespace

int run_pack(int argc, char** argv) {
    static const std::vector<KnownOption> SPECS = {{"output", 'o', true, OPTION_OUTPUT},
                                                  {"method", 0, true, OPTION_METHOD},
                                                  {"level", 0, true, OPTION_LEVEL},
                                                  {"exclude", 0, true, OPTION_EXCLUDE},
                                                  {"follow-symlinks", 0, false, OPTION_FOLLOW_LINKS},
                                                  HELP_OPTION};
    CommandLine line;
    if (!parse_command_line("pack", argc, argv, SPECS, &line)) return EXIT_USAGE;
    if (line.wants_help) return print_help(HELP);
    const char* archive = nullptr;
    PackSettings settings = DEFAULT_PACK_SETTINGS;
    for (const GivenOption& o : line.options) {
        const char* value = o.value.c_str();
        if (o.id == OPTION_OUTPUT) {
            archive = value;
        } else if (o.id == OPTION_METHOD) {
            if (!method_bits(value, &settings.dictionary_bits))
                return usage_error("pack", "unknown method '%s' (lh5, lh6, lh7 or lh0)", shown_local(value).c_str());
        } else if (o.id == OPTION_LEVEL) {
            if (strlen(value) != 1 || value[0] < '0' || value[0] > '2')
                return usage_error("pack", "unknown header level '%s' (0, 1 or 2)", shown_local(value).c_str());
            settings.level = value[0] - '0';
        } else if (o.id == OPTION_EXCLUDE) {
            settings.exclude.push_back(o.value);
        } else if (o.id == OPTION_FOLLOW_LINKS) {
            settings.follow_links = true;
        }
    }
    if (line.operands.size() != 1) return usage_error("pack", "pack takes one DIR");
    if (archive == nullptr) return usage_error("pack", "-o ARCHIVE is required");
    const char* folder = line.operands[0].c_str();
    PackTotals totals = {};
    int status = pack_folder(folder, archive, &settings, &totals);
    if (status == EXIT_ALL_GOOD) {
        // The archive itself may be on stdout; the summary is not part of it.
        FILE* summary = is_standard_output(archive) ? stderr : stdout;
        fprintf(summary, "%u files and %u folders, %llu bytes packed into %llu", totals.files, totals.folders,
                (unsigned long long)totals.original_bytes, (unsigned long long)totals.archive_bytes);
        if (totals.left_out > 0) fprintf(summary, " (%u left out, named above)", totals.left_out);
        fprintf(summary, "\n");
    }
    return status;
}
