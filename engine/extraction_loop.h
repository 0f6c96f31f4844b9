// The worker's procedure: walks the archive appended to the program's own file and
// extracts every member into the current folder.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "decode/decode_driver.h"
#include "engine/member_header.h"
#include "engine/extraction_run.h"

// The size of an open file in bytes; its position is left as it was.
long file_size(FILE* file);

// The thread procedure (its argument is the ExtractionRun).
void run_extraction(void* run);

// Sum of the original sizes of all members from the current position on; the
// position is left as it was.
uint32_t sum_original_sizes(ExtractionRun* run);

// Extracts one member; 1 when the run was cancelled, else 0.
int extract_member(ExtractionRun* run, const MemberHeader* header);

// Decodes the data of one member (of a stored or coded method) to `out` (null:
// decode only), never past the end of the archive; output_sink.crc holds its CRC-16
// afterwards.  A packed size beyond the archive's end gives DECODE_TRUNCATED.
DecodeResult expand_member(ExtractionRun* run, FILE* out, uint32_t original_size,
                           uint32_t packed_size, const char* path, const MethodRow& method);
