// The worker's procedure: walks the archive appended to the program's own file and
// extracts every member into the current folder.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "decode/decode_driver.h"
#include "engine/member_header.h"
#include "engine/extraction_run.h"
#include "engine/archive_walk.h"

// The thread procedure (its argument is the ExtractionRun).
void run_extraction(void* run);

