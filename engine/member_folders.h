// The folders of a member's path: the look for links on the way, and the creation of
// the missing ones.
#pragma once

#include "engine/extraction_run.h"

// True when a component of the member path `path` (relative to the current folder,
// '/' between components) exists as a symbolic link, junction or other reparse
// point: writing through it would land outside the destination.  The text is cut
// and mended while it is looked at.
bool path_has_link(char* path);

// Creates every missing folder of the part of `path` before its last '/'.  True when
// that folder exists afterwards.
bool make_parent_folders(ExtractionRun* run, const char* path);
