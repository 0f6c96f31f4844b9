// The folders of a member's path, walked from the destination down without
// following a link, and the recursive creation of a destination folder.
#pragma once

#include <stddef.h>

#include "engine/extraction_run.h"
#include "platform/reports.h"
#include "platform/system_services.h"

// Opens the folders of the member path `path` (relative to the current folder,
// '/' between components) into `folder`, one component at a time from the current
// folder down, each inside the one before: missing folders are made (and
// announced), and no name is ever looked up through a link, wherever the path's
// folders are moved or swapped meanwhile.  Every component is a folder when `whole`
// is set; otherwise the last is not opened, and `last` points to it.  NO_FAILURE,
// FAILED_LINK_IN_PATH or FAILED_CANNOT_CREATE; only the first leaves `folder` open.
// The text is cut and mended while it is walked.
FailureKind open_member_folder(char* path, bool whole, OpenFolder* folder,
                               const char** last = nullptr);

// Creates every missing folder of the part of `path` before its last '/', by path.
// True when that folder exists afterwards.  For the destination folder, which the
// user names.
bool make_parent_folders(ExtractionRun* run, const char* path);
