// The end-of-run report: shown once when the worker ends and a member failed or
// the archive was damaged.  Its text is the sentence "一部のファイルを正しく展開で
// きませんでした", then the names of the failed members one a line (at most ten),
// then "…" on a line of its own when more members failed than are named.  A run
// refused before anything was written has one sentence instead: "ファイルが壊れてい
// るか、途中までしかありません。もう一度入手してください" for an archive cut short
// (or missing), "ディスクの空き容量が足りません" for a destination without room,
// "展開先のフォルダに書き込めません" for one that takes no new file.
#pragma once

#include "frontend/run_record.h"

// Room for the sentence, ten names with their line breaks, the ellipsis and the
// terminator.
enum { END_REPORT_SIZE = 64 + OUTCOME_LISTED_NAMES * PATH_BUFFER_SIZE + 8 };

// True when the run has something to report: a failed member or a damaged archive.
bool run_has_failures(const RunOutcome* outcome);

// Writes the report's text (Shift-JIS) into `out`, cut to `size` bytes at worst.
void compose_end_report(const RunOutcome* outcome, char* out, unsigned size);
