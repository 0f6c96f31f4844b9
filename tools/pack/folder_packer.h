// Packing a folder into an LHA archive: every file and folder below it as a member,
// in a stable order (names sorted byte-wise in NFC, each folder's entry before its
// content), files compressed with the chosen method or stored as "-lh0-" when that
// does not make them smaller, folders as "-lhd-" entries.
//
// Names are taken in Normalization Form C and become Shift-JIS only when they read
// back the same (member_names.h); names Windows cannot create are refused.
//
// Symbolic links: a link to a file inside the folder is packed as that file (its
// content and time under the link's name).  Links to folders, links to anything
// outside the folder and links that lead nowhere are left out, each named on stderr,
// unless `follow_links` is set; then every link is followed, a link to a folder that
// holds it is refused, and a folder reached a second time (by another link, or
// through a mount) is left out: each real folder is packed once, so links cannot
// make the archive grow beyond the folders that are there.
//
// When SOURCE_DATE_EPOCH is set (seconds since 1970), times later than it are
// stored as it: the same content gives the same archive whenever it was copied.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

struct PackSettings {
    unsigned dictionary_bits;  // 13 "-lh5-", 15 "-lh6-", 16 "-lh7-", 0 store everything
    int level;                 // header level 0, 1 or 2
    bool show_progress;        // a progress line on stderr, when it is a terminal
    bool follow_links;         // follow every symbolic link (see above)
    // Shell patterns (exclude_globs.h) of what is left out, matched on the path below
    // the folder ('*' not crossing a '/') and on the name alone; a pattern ending in
    // '/' matches folders only.  A folder left out takes its content with it.
    std::vector<std::string> exclude;
};
// "-lh7-", level 2, progress shown, links not followed, nothing excluded.
extern const PackSettings DEFAULT_PACK_SETTINGS;

struct PackTotals {
    uint32_t files;
    uint32_t folders;
    uint32_t left_out;         // links not followed, folders reached twice
    uint64_t original_bytes;
    uint64_t archive_bytes;
    int write_error;           // errno of a write to the archive that failed, else 0
};

// Packs the content of `folder` into a new archive at `archive_path`, written as
// replacing_file.h writes an output: a failure leaves nothing behind (and an
// existing archive of that name as it was).  Problems are told on stderr, naming
// the file, or the archive with the system's reason when it cannot be written.
// Returns EXIT_ALL_GOOD, EXIT_MEMBER_FAILED when a file could not be packed or the
// archive could not be written (no archive is made), or EXIT_USAGE when the folder
// cannot be read, the archive cannot be created or SOURCE_DATE_EPOCH is not a
// number.
// `totals` may be null.
int pack_folder(const char* folder, const char* archive_path, const PackSettings* settings,
                PackTotals* totals);

// The same, written into `out` (a seekable file open for writing) from its current
// position on; the file ends with the archive.  The file `out` is, and the file
// `replaced_path` names when it is not null (the one `out` is going to replace),
// are left out of the archive.  On failure what was written is of no use and the
// caller removes it; a failed write to `out` is not told but left in `totals`
// (write_error) for the caller, who knows the output's name.
int pack_folder_into(const char* folder, FILE* out, const PackSettings* settings, PackTotals* totals,
                     const char* replaced_path = nullptr);
