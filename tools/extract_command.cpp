// mavusfx extract and mavusfx test: the stub's own extraction loop, run on this
// thread with the reports printed.  Names are written in the locale's encoding,
// converted from the archive's Shift-JIS, unless --raw-names keeps their bytes.
#include <string.h>

#include "engine/extraction_loop.h"
#include "engine/member_folders.h"
#include "platform/host_services.h"
#include "platform/report_hooks.h"
#include "tools/command_line.h"
#include "tools/console_reports.h"
#include "tools/local_names.h"
#include "tools/member_name_notes.h"
#include "tools/tool.h"

namespace {

const char TEST_HELP[] =
    "usage: mavusfx test [--windows-names] FILE\n"
    "Decodes every member of FILE and checks its CRC-16; writes nothing.  Each\n"
    "member's path is shown on stdout, each failure on its own line on stderr.\n"
    "A bare archive damaged or cut short after sound members has those tested;\n"
    "a self-extracting FILE is refused as a whole, as its installer would be.\n"
    "Warnings on stderr name members that extract over one another (the same\n"
    "name, or names Windows takes as one as it ignores letter case), and members\n"
    "whose names Windows cannot hold (\"GPL-2.\", \"CON\", \"x?.txt\"), which\n"
    "extract here but not on Windows.\n"
    "\n"
    "      --windows-names   fail names Windows cannot hold, as the installer does\n"
    "  -h, --help            this text\n"
    "\n"
    "Exit status: 0 all members good (warnings or not), 1 a member failed or was\n"
    "skipped, 2 usage or unreadable file.\n";

const char EXTRACT_HELP[] =
    "usage: mavusfx extract [-C DIR] [--raw-names] [--windows-names] [--keep-macbinary]\n"
    "                       FILE\n"
    "Extracts every member of FILE (a bare archive or a self-extracting file) into\n"
    "the current folder, or DIR.  Names are written in the locale's encoding\n"
    "(UTF-8 under a UTF-8 locale), converted from the archive's Shift-JIS; a name\n"
    "part with no form there keeps its bytes.\n"
    "\n"
    "  -C, --directory=DIR   extract into DIR, made when missing\n"
    "      --raw-names       write the names as the archive's bytes (Shift-JIS)\n"
    "      --windows-names   refuse names Windows cannot hold, as the installer does\n"
    "      --keep-macbinary  write members of Macintosh encoders whole, in their\n"
    "                        MacBinary wrapper, not their data fork alone (one\n"
    "                        with a resource fork is always written whole)\n"
    "  -h, --help            this text\n"
    "\n"
    "Files get the Unix permissions a Unix encoder stored, less the umask and never\n"
    "set-user-ID, set-group-ID or sticky; the others those of a new file.  Folders\n"
    "get their stored times (and permissions) once their members are in.\n"
    "Members with an absolute path or '..', or a control character in the name,\n"
    "are not extracted.  Names Windows cannot hold but this system can (\"GPL-2.\",\n"
    "\"CON\", \"x?.txt\") are written, and named at the end in one warning: they would\n"
    "not extract on Windows.  Members that extract over one another (the same\n"
    "name, or names Windows takes as one as it ignores letter case) are warned of,\n"
    "one line each, naming the one left.  A bare archive damaged or cut short after\n"
    "sound members has those extracted, then the damage or the cut reported; a\n"
    "self-extracting FILE is refused as a whole, as its installer would be.\n"
    "Exit status: 0 all members good (warnings or not), 1 a member failed or was\n"
    "skipped, 2 usage or unreadable file.\n";

enum { OPTION_DIRECTORY, OPTION_RAW_NAMES, OPTION_WINDOWS_NAMES, OPTION_KEEP_MACBINARY };

const KnownOption WINDOWS_NAMES_OPTION = {"windows-names", 0, false, OPTION_WINDOWS_NAMES};

// Makes `folder` (and its missing parents) the current folder.
bool enter_folder(SfxApp* app, const char* folder) {
    char path[PATH_BUFFER_SIZE];
    if (strlen(folder) + 2 > sizeof path) return false;
    strcpy(path, folder);
    strcat(path, "/");
    if (platform_path_state(folder) != PATH_IS_FOLDER) make_parent_folders(&app->run, path);
    return platform_change_folder(folder);
}

/* The member names are looked at in a walk of their own before the run, and the
 * warnings printed after it, when it was not refused as a whole. */
int extract(const char* path, const char* folder, bool test_only, bool raw_names, bool windows_names,
            bool keep_macbinary) {
    OpenedArchive archive;
    if (!open_archive(path, &archive)) return EXIT_USAGE;
    SfxApp app;
    init_app(&app, nullptr);
    app.run.archive_file = archive.file;
    app.run.test_only = test_only ? 1 : 0;
    app.run.keep_macbinary = keep_macbinary ? 1 : 0;
    // An installer must not half-install, and its test says what it would do; a bare
    // archive gives up its sound members before damage or a cut.
    app.run.sound_members_first = archive.combined ? 0 : 1;
    app.run.names_beyond_windows = !windows_names && platform_takes_names_windows_refuses();
    MemberNameNotes notes(app.run.names_beyond_windows != 0);
    {
        ExtractionRun reader = {};
        reader.archive_file = archive.file;
        reader.archive_size = file_size(archive.file);
        uint64_t total;
        walk_archive(&reader, &total, MemberNameNotes::visit, &notes);
    }
    if (!test_only && folder != nullptr && !enter_folder(&app, folder)) {
        fprintf(stderr, "mavusfx: %s: cannot create or enter this folder\n", shown_local(folder).c_str());
        release_app(&app);
        return EXIT_USAGE;
    }
    char current[PATH_BUFFER_SIZE];
    if (platform_current_folder(current, sizeof current)) replace_owned_text(&app.run.dest_folder, current);

    ConsoleReports reports;
    install_console_reports(&reports, true, !raw_names);
    std::string shown_path = shown_local(path);
    reports.archive_name = shown_path.c_str();
    reports.sound_members_first = app.run.sound_members_first != 0;
    run_extraction(&app.run);
    platform_set_hooks(nullptr);

    uint32_t failed = app.run.outcome.failure_count;
    uint8_t refused = app.run.outcome.refused;
    // Damage or a cut after the sound members counts once among the failures.
    bool broken_off = app.run.sound_members_first && (refused == ARCHIVE_DAMAGED || refused == ARCHIVE_CUT_SHORT);
    if (refused == 0 || broken_off) {
        fflush(stdout);
        notes.print(stderr);
    }
    if (test_only && (refused == 0 || broken_off)) {
        uint32_t member_failures = failed - (broken_off ? 1 : 0);
        const char* after = broken_off ? ", before the damage or cut reported above" : "";
        if (member_failures == 0) printf("%u members tested, all OK%s\n", reports.members, after);
        else printf("%u members tested, %u failed%s\n", reports.members, member_failures, after);
    }
    release_app(&app);
    if (refused == ARCHIVE_NOT_LHA) return EXIT_USAGE;
    return failed == 0 ? EXIT_ALL_GOOD : EXIT_MEMBER_FAILED;
}

}  // namespace

int run_test(int argc, char** argv) {
    CommandLine line;
    if (!parse_command_line("test", argc, argv, {WINDOWS_NAMES_OPTION, HELP_OPTION}, &line)) return EXIT_USAGE;
    if (line.wants_help) return print_help(TEST_HELP);
    if (line.operands.size() != 1) return usage_error("test", "test takes one FILE");
    bool windows_names = false;
    for (const GivenOption& o : line.options) windows_names |= o.id == OPTION_WINDOWS_NAMES;
    return extract(line.operands[0].c_str(), nullptr, true, true, windows_names, false);
}

int run_extract(int argc, char** argv) {
    static const std::vector<KnownOption> SPECS = {
        {"directory", 'C', true, OPTION_DIRECTORY}, {"raw-names", 0, false, OPTION_RAW_NAMES},
        WINDOWS_NAMES_OPTION, {"keep-macbinary", 0, false, OPTION_KEEP_MACBINARY}, HELP_OPTION};
    CommandLine line;
    if (!parse_command_line("extract", argc, argv, SPECS, &line)) return EXIT_USAGE;
    if (line.wants_help) return print_help(EXTRACT_HELP);
    const char* folder = nullptr;
    bool raw_names = false, windows_names = false, keep_macbinary = false;
    for (const GivenOption& o : line.options) {
        if (o.id == OPTION_DIRECTORY) folder = o.value.c_str();
        if (o.id == OPTION_RAW_NAMES) raw_names = true;
        if (o.id == OPTION_WINDOWS_NAMES) windows_names = true;
        if (o.id == OPTION_KEEP_MACBINARY) keep_macbinary = true;
    }
    if (line.operands.size() != 1) return usage_error("extract", "extract takes one FILE");
    return extract(line.operands[0].c_str(), folder, false, raw_names, windows_names, keep_macbinary);
}
