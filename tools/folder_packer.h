// Packing a folder into an LHA archive: every file and folder below it as a member,
// in a stable order (names sorted byte-wise, each folder's entry before its
// content), files compressed with the chosen method or stored as "-lh0-" when that
// does not make them smaller, folders as "-lhd-" entries.
#pragma once

#include <stdint.h>
#include <stdio.h>

struct PackSettings {
    unsigned dictionary_bits;  // 13 "-lh5-", 15 "-lh6-", 16 "-lh7-", 0 store everything
    int level;                 // header level 0, 1 or 2
    bool show_progress;        // a progress line on stderr, when it is a terminal
};
// "-lh7-", level 2, progress shown.
extern const PackSettings DEFAULT_PACK_SETTINGS;

struct PackTotals {
    uint32_t files;
    uint32_t folders;
    uint64_t original_bytes;
    uint64_t archive_bytes;
};

// Packs the content of `folder` into a new archive at `archive_path`.  The archive
// is written to a temporary file beside it and renamed only when complete, so a
// failure leaves nothing behind (and an existing archive of that name as it was).
// Problems are told on stderr, naming the file.  Returns EXIT_ALL_GOOD,
// EXIT_MEMBER_FAILED when a file could not be packed (no archive is made), or
// EXIT_USAGE when the folder cannot be read or the archive cannot be created.
// `totals` may be null.
int pack_folder(const char* folder, const char* archive_path, const PackSettings* settings,
                PackTotals* totals);

// The same, written into `out` (a seekable file open for writing) from its current
// position on; the file ends with the archive.  The file `out` is, and the file
// `replaced_path` names when it is not null (the one `out` is going to replace),
// are left out of the archive.  On failure what was written is of no use and the
// caller removes it.
int pack_folder_into(const char* folder, FILE* out, const PackSettings* settings, PackTotals* totals,
                     const char* replaced_path = nullptr);
