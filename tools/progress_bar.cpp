#include "tools/progress_bar.h"

#include <stdio.h>
#include <string.h>

#include <string>

#include "platform/host_services.h"
#include "tools/local_names.h"

enum { BAR_WIDTH = 30, LABEL_BYTES = 40 };

void start_progress_bar(ProgressBar* bar, bool wanted) {
    memset(bar, 0, sizeof *bar);
    bar->wanted = wanted && platform_error_output_is_terminal();
    bar->started = platform_seconds_now();
}

void draw_progress_bar(ProgressBar* bar, unsigned percent, const char* label) {
    if (!bar->wanted) return;
    double now = platform_seconds_now();
    if (now - bar->started < 0.3 || now - bar->last_drawn < 0.1) return;
    bar->last_drawn = now;
    if (percent > 100) percent = 100;
    char line[BAR_WIDTH + 1];
    memset(line, '#', percent * BAR_WIDTH / 100);
    memset(line + percent * BAR_WIDTH / 100, '.', BAR_WIDTH - percent * BAR_WIDTH / 100);
    line[BAR_WIDTH] = 0;
    std::string shown = label != nullptr ? shown_local(label) : std::string();
    size_t cut = shown.size();
    if (cut > LABEL_BYTES) {
        cut = LABEL_BYTES;
        while (cut > 0 && (shown[cut] & 0xC0) == 0x80) cut--;
    }
    fprintf(stderr, "\r\033[K[%s] %3u%%%s%.*s", line, percent, cut > 0 ? "  " : "", (int)cut,
            shown.c_str());
    fflush(stderr);
    bar->shown = true;
}

void clear_progress_bar(ProgressBar* bar) {
    if (!bar->shown) return;
    fputs("\r\033[K", stderr);
    fflush(stderr);
    bar->shown = false;
}
