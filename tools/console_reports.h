#pragma once

#include <stdint.h>

#include "tools/progress_bar.h"

struct ConsoleReports {
    bool list_members;  // print each member's name on stdout
    ProgressBar bar;
    uint32_t members;
};

// Installs the reports as the platform's hooks; with `local_names` the files are
// written under names in the locale's encoding (otherwise as the archive's bytes).
void install_console_reports(ConsoleReports* reports, bool list_members, bool local_names);
