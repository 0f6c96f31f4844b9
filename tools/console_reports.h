#pragma once

#include <stdint.h>

#include "tools/progress_bar.h"

struct ConsoleReports {
    bool list_members;         // print each member's name on stdout
    ProgressBar bar;
    uint32_t members;
    const char* archive_name;  // the archive as messages show it, for failures of the whole
    bool out_of_room;          // a write found the disk full: the run was stopped there
    // Damage or a cut is reported after the sound members before it, which were
    // handled; otherwise it refused the whole run.
    bool sound_members_first;
};

// Installs the reports as the platform's hooks.  A member that cannot be made or
// written for want of room (no space or no inodes left, a quota, a file size
// limit) is told with the system's reason and stops the run: every member after
// it would fail the same way.
// with `local_names` the files are
// written under names in the locale's encoding (otherwise as the archive's bytes).
void install_console_reports(ConsoleReports* reports, bool list_members, bool local_names);
