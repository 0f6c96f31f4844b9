// The tool's one progress bar: a line on stderr, drawn only when stderr is a
// terminal and only once the work has taken a moment (short runs stay quiet),
// redrawn at most ten times a second.
#pragma once

struct ProgressBar {
    bool wanted;  // asked for, and stderr is a terminal
    bool shown;   // a line stands on the terminal now
    double started;
    double last_drawn;
};

// Starts the clock; `wanted` false keeps the bar away altogether.
void start_progress_bar(ProgressBar* bar, bool wanted);
// Draws `percent` (at most 100), followed by `label` when it is not null (text in
// the locale's encoding, cut to 40 bytes on a character boundary).
void draw_progress_bar(ProgressBar* bar, unsigned percent, const char* label);
// Takes the line away, so that what follows starts on a clean line.
void clear_progress_bar(ProgressBar* bar);
