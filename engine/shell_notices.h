// Announcing new folders, and the folders that received files, to the shell, so
// that open Explorer windows show them.  Paths are relative to the destination,
// the current folder, with '/' between their parts; the system makes them whole.
#pragma once

#include "engine/extraction_run.h"

// A folder made is announced as made (SHELL_FOLDER_MADE) by whoever made it.

// Announces the folder of a member file just written ("./a/b", or "." for the
// destination itself) as one whose content changed: once for each run of members
// that went into the folder, when the next member goes elsewhere or by
// finish_shell_notices, not once a file.
void notify_file_written(ExtractionRun* run, const char* path);
// Announces the folder the last members went into; at the end of a run.
void finish_shell_notices(ExtractionRun* run);
