// Announcing new folders and member files to the shell, so that open Explorer
// windows refresh.
#pragma once

#include "engine/extraction_run.h"

// Announces a made folder (the path as given) or a created member file (the
// destination folder, a backslash and the member path with backslashes).
void notify_shell(ExtractionRun* run, bool folder_made, const char* path);
