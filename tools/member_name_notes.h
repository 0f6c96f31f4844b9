// Warnings about member names that extract without a failure but not as the
// archive may mean: two members that make one file (the same name, or names that
// differ only in letter case, which Windows takes as one), and names a POSIX file
// system holds but Windows does not.  They are gathered from the member headers
// in archive order, then printed: one line per clash, one line for those names.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/member_header.h"

class MemberNameNotes {
public:
    // `names_beyond_windows`: as the extraction run's setting of that name.  When
    // false such names are refused, so they make no note.
    explicit MemberNameNotes(bool names_beyond_windows) : names_beyond_windows_(names_beyond_windows) {}

    // Takes the next member of the archive.  Members the extraction refuses or
    // skips (an unsafe path, a name refused, an unknown method) clash with nothing;
    // folder entries neither.
    void note(const MemberHeader& header);
    // note() as a MemberVisit for walk_archive.
    static void visit(void* notes, const MemberHeader& header) { ((MemberNameNotes*)notes)->note(header); }

    // The warnings on `out`, each line "mavusfx: warning: ...".
    void print(FILE* out) const;

    size_t clash_count() const { return clashes_.size(); }
    uint32_t beyond_windows_count() const { return beyond_windows_count_; }

private:
    struct Clash {
        uint32_t earlier, later;  // places of the two members
    };
    // Keeps a member's number and name; returns its place.
    uint32_t store(uint32_t number, const char* name);
    uint32_t number_at(uint32_t place) const;
    const char* name_at(uint32_t place) const;
    void grow();

    bool names_beyond_windows_;
    uint32_t members_ = 0;
    // Each member taken into the table: its number (4 bytes), its name, a NUL, in
    // blocks that never move, so that a long list grows without a copy; a place is
    // the block's index times BLOCK_SIZE plus the offset in it.
    std::vector<std::unique_ptr<char[]>> blocks_;
    uint32_t used_ = 0;  // bytes taken of the last block
    // Open addressing with linear probes: a member's place plus one; 0 is an empty
    // slot.  Kept at most half full.
    std::vector<uint32_t> slots_;
    uint32_t filled_ = 0;
    std::vector<Clash> clashes_;
    std::vector<std::string> beyond_windows_;  // the first few, as stored
    uint32_t beyond_windows_count_ = 0;
};
