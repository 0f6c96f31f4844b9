// mavusfx extract and mavusfx test: the stub's own extraction loop, run on this
// thread with the reports printed.
#include <string.h>

#include "engine/extraction_loop.h"
#include "engine/paths.h"
#include "platform/platform.h"
#include "tools/console_reports.h"
#include "tools/tool.h"

// Makes `folder` (and its missing parents) the current folder.
static bool enter_folder(SfxApp* app, const char* folder) {
    char path[PATH_BUFFER_SIZE];
    if (strlen(folder) + 2 > sizeof path) return false;
    strcpy(path, folder);
    strcat(path, "/");
    if (platform_path_state(folder) != PATH_IS_FOLDER) make_parent_folders(&app->run, path);
    return platform_change_folder(folder);
}

int run_extract(const char* path, const char* folder, bool test_only) {
    OpenedArchive archive;
    if (!open_archive(path, &archive)) return EXIT_USAGE;
    SfxApp app;
    init_app(&app, nullptr);
    app.run.archive_file = archive.file;
    app.run.test_only = test_only ? 1 : 0;
    if (!test_only && folder != nullptr && !enter_folder(&app, folder)) {
        fprintf(stderr, "mavusfx: %s: cannot create or enter this folder\n", folder);
        release_app(&app);
        return EXIT_USAGE;
    }
    char current[PATH_BUFFER_SIZE];
    if (platform_current_folder(current, sizeof current)) replace_owned_text(&app.run.dest_folder, current);

    ConsoleReports reports;
    install_console_reports(&reports, true);
    run_extraction(&app.run);
    platform_set_hooks(nullptr);

    uint32_t failed = app.run.outcome.failure_count;
    uint8_t refused = app.run.outcome.refused;
    if (test_only && refused == 0) {
        if (failed == 0) printf("%u members tested, all OK\n", reports.members);
        else printf("%u members tested, %u failed\n", reports.members, failed);
    }
    release_app(&app);
    if (refused == ARCHIVE_NOT_LHA) return EXIT_USAGE;
    return failed == 0 ? EXIT_ALL_GOOD : EXIT_MEMBER_FAILED;
}
