#pragma once

#include <stdint.h>

struct ConsoleReports {
    bool list_members;  // print each member's name on stdout
    bool terminal;      // stderr is a terminal: a progress bar may be drawn
    bool bar_shown;
    double started;
    uint32_t members;
};

void install_console_reports(ConsoleReports* reports, bool list_members);
