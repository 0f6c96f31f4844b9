#include "engine/extraction_loop.h"

#include <errno.h>
#include <string.h>

#include "decode/decode_driver.h"
#include "decode/progress.h"
#include "engine/folder_times.h"
#include "engine/macbinary.h"
#include "engine/member_folders.h"
#include "engine/output_file.h"
#include "engine/shell_notices.h"
#include "engine/unsafe_member_path.h"
#include "platform/reports.h"
#include "platform/system_services.h"
#include "engine/windows_names.h"

#ifndef MAVUSFX_STUB_BUILD
static void count_member(void* count, const MemberHeader&) { ++*(uint32_t*)count; }
#endif

static const FailureKind FAILURE_OF_DECODE[] = {
    NO_FAILURE, FAILED_DAMAGED /* cancelled: not reported */, FAILED_DAMAGED, FAILED_NO_MEMORY,
    FAILED_TRUNCATED};

/* Why a member may not be written at all, before anything is touched: a path that
 * leaves the destination, a name Windows cannot hold (a NUL inside included; a run
 * may write those its own system can), an unknown method, sizes past what is
 * counted.  A link on the way is found as the folders are opened. */
static bool refuse_member(ExtractionRun* run, const MemberHeader* header, const MethodRow* method) {
    FailureKind kind;
    if (is_unsafe_member_path(header->name)) kind = FAILED_UNSAFE_PATH;
    else if (windows_name_problem(header->name, header->name_length) != nullptr &&
             !(run->names_beyond_windows && only_windows_refuses(header->name, header->name_length)))
        kind = FAILED_WINDOWS_NAME;
    else if (method == nullptr && !header->named_as_folder) kind = FAILED_UNKNOWN_METHOD;
    else if (header->too_large) kind = FAILED_TOO_LARGE;
    else return false;
    record_failure(run, header->name, kind);
    return true;
}

#ifndef MAVUSFX_STUB_BUILD
/* What the host tool does to a member's complete, sound data before the file is
 * closed: a MacBinary member is cut down to its data fork (the CRC-16 was taken over
 * all of it), and Unix permissions are applied without the set-user-ID, set-group-ID
 * and sticky bits, masked by the umask.  Both act on the open file, never on a name
 * that could meanwhile lead elsewhere. */
static void finish_host_output(const ExtractionRun* run, const MemberHeader* header, FILE* out,
                               MemberResult* decoded) {
    if (decoded->result != DECODE_COMPLETE || decoded->output.write_failed ||
        (header->has_crc && decoded->output.crc != header->crc))
        return;
    if (header->os_id == 'm' && !run->keep_macbinary && !keep_data_fork(out, header->original_size)) {
        decoder.output.write_error = errno;
        decoded->output.write_failed = true;
        return;
    }
    if (header->has_mode) platform_set_file_mode(out, header->mode & 0777u);
}
#endif

/* The member's data goes to a new file beside its path, which is moved over the
 * path only when the data is complete, written and matches its CRC-16: a member
 * that fails, or a stop, leaves the old file as it was and takes the new one away.
 * A stop that comes once the data is complete keeps the member. */
static int extract_member(ExtractionRun* run, const MemberHeader* header, FileOffset data_position) {
    char path[PATH_BUFFER_SIZE];
    copy_text(path, header->name[0] == '/' ? header->name + 1 : header->name, sizeof path);
    const MethodRow* method = find_method(header->method);
    if (refuse_member(run, header, method)) return 0;

    // A folder entry makes its folder and never reaches the decoder.
    FILE* out = nullptr;
    OutputFile output;
    bool folder = header->named_as_folder || method->kind == METHOD_FOLDER;
    if (!run->test_only) {
        FailureKind refused = open_output_file(path, folder, &output);
        if (refused != NO_FAILURE) {
            record_failure(run, header->name, refused);
            return decoder.stop_requested;  // a stop asked for meanwhile (a full disk, say)
        }
        out = output.file;
#ifndef MAVUSFX_STUB_BUILD
        // Its time and permissions are set once its members are in (a folder that
        // could not be made takes none).
        if (folder) note_folder_time(run, path, header);
#endif
    }
    if (folder) return 0;
    // The shape walk saw every member's data inside the file; a file that shrinks
    // meanwhile shows as a short read of the stored copy, or as damage to a decoder,
    // which reads zeros past the end.
    MemberJob job = {header->packed_size, header->original_size, run->archive_file, out,
                     method, 0};
    MemberResult decoded = decode_member(job);
    // The format's reading comes first.  A member of a method whose older encoders
    // differ in one rule that fails it (damaged, or a CRC-16 that does not match) is
    // read once more by their rule, from its data again and over the same output,
    // and kept when its CRC-16 then matches.  Both readings stop at the member's
    // size, so a complete second one overwrites the whole first.  A write that
    // failed in either fails the member.
    if (method->older_reading && header->has_crc && !decoded.output.write_failed &&
        (decoded.result == DECODE_DAMAGED ||
         (decoded.result == DECODE_COMPLETE && decoded.output.crc != header->crc))) {
        platform_seek(run->archive_file, data_position, SEEK_SET);
        if (out != nullptr) platform_seek(out, 0, SEEK_SET);
        job.older_rule = 1;
        MemberResult again = decode_member(job);
        if (again.result == DECODE_CANCELLED ||
            (again.result == DECODE_COMPLETE && again.output.crc == header->crc)) {
            decoded = again;
            if (again.result == DECODE_COMPLETE) platform_report_older_reading(header->name);
        }
        decoded.output.write_failed = again.output.write_failed;
    }
#ifndef MAVUSFX_STUB_BUILD
    if (out != nullptr) finish_host_output(run, header, out, &decoded);
#endif
    if (out != nullptr && close_output_file(out) != 0) {
#ifndef MAVUSFX_STUB_BUILD
        if (!decoded.output.write_failed) decoder.output.write_error = errno;
#endif
        decoded.output.write_failed = true;
    }
    FailureKind failure = FAILURE_OF_DECODE[decoded.result];
    if (failure == NO_FAILURE && decoded.output.write_failed) failure = FAILED_WRITE_ERROR;
    if (failure == NO_FAILURE && header->has_crc && decoded.output.crc != header->crc)
        failure = FAILED_CRC_MISMATCH;
    if (out != nullptr) {
        if (!settle_output_file(&output, failure == NO_FAILURE, header->time)) {
            if (failure == NO_FAILURE) failure = FAILED_CANNOT_CREATE;
        } else if (failure == NO_FAILURE) {
            notify_file_written(run, path);
        }
    }
    if (decoded.result == DECODE_CANCELLED) return 1;
    if (failure != NO_FAILURE) record_failure(run, header->name, failure);
    return decoder.stop_requested;
}

/* A folder that takes no new file (read-only, on a read-only medium, or closed to
 * the user) is found with one file made and taken away again; one of that name
 * left by a run that was ended is taken away first. */
static bool folder_takes_files() {
    static const char PROBE[] = "~mavusfx.tmp";
    OpenFolder here = platform_current_folder_root();
    platform_settle_file_in(here, PROBE, PROBE, false, 0);
    FILE* probe = platform_create_file_in(here, PROBE);
    if (probe == nullptr) return false;
    fclose(probe);
    platform_settle_file_in(here, PROBE, PROBE, false, 0);
    return true;
}

/* Before anything is written the archive's shape is walked: an archive cut short,
 * damaged or missing, a destination that cannot be written, and members that need
 * more room than the destination has, are refused as a whole, and nothing is
 * extracted.  A run that takes the sound members first goes on with them, when
 * there are any, and reports the damage or the cut after them. */
static bool archive_acceptable(ExtractionRun* run) {
    uint64_t total;
#ifdef MAVUSFX_STUB_BUILD
    ArchiveShape shape = walk_archive(run, &total);
#else
    run->sound_members = 0;
    ArchiveShape shape = walk_archive(run, &total, run->sound_members_first ? count_member : nullptr,
                                      &run->sound_members);
#endif
    start_progress(total);
    // The shapes but the sound one name their refusals in the same order.
    FailureKind refusal = (FailureKind)(ARCHIVE_DAMAGED - SHAPE_DAMAGED + shape);
    if (shape == SHAPE_SOUND || (run->sound_members_first && run->sound_members != 0)) {
        if (run->test_only) return true;
        refusal = ARCHIVE_NOT_WRITABLE;
        if (folder_takes_files()) {
            if (total <= platform_free_space(".")) return true;
            refusal = ARCHIVE_NO_SPACE;
        }
    }
    record_failure(run, nullptr, refusal);
    return false;
}

void run_extraction(void* argument) {
    ExtractionRun* run = (ExtractionRun*)argument;
    run->archive_size = file_size(run->archive_file);
    MemberHeader header;
    bool acceptable = archive_acceptable(run);
    while (acceptable) {
        HeaderResult read = read_member_header(run->archive_file, &header);
        if (read == HEADER_DAMAGED || read == HEADER_UNKNOWN_LAYOUT)
            record_failure(run, nullptr, ARCHIVE_DAMAGED);
        if (read != HEADER_READ) break;
        FileOffset data_position = platform_tell(run->archive_file);
        platform_report_member(header.name);
        if (extract_member(run, &header, data_position) != 0) break;
        // The next header follows the member's data, whatever the decoder consumed
        // (the shape walk saw it inside the file).
        const FileOffset next_header = data_position + (FileOffset)header.packed_size;
#ifndef MAVUSFX_STUB_BUILD
        // Fast path: a decoder that took the member's data whole stands there
        // already, and a seek would cost a system call even inside the buffer.
        if (platform_tell(run->archive_file) != next_header)
#endif
            platform_seek(run->archive_file, next_header, SEEK_SET);
        progress_pass_member(header.original_size);
#ifndef MAVUSFX_STUB_BUILD
        // After the last sound member comes the end, or the damage or the cut the
        // walk found, told apart as the walk tells them.
        if (run->sound_members_first && --run->sound_members == 0) {
            read = read_member_header(run->archive_file, &header);
            if (read != HEADER_END)
                record_failure(run, nullptr, read == HEADER_READ || platform_tell(run->archive_file) >= run->archive_size
                                                 ? ARCHIVE_CUT_SHORT : ARCHIVE_DAMAGED);
            break;
        }
#endif
    }
#ifndef MAVUSFX_STUB_BUILD
    release_held_folder();
#endif
    if (!run->test_only) finish_shell_notices(run);
#ifndef MAVUSFX_STUB_BUILD
    restore_folder_times(run);
#endif
    platform_report_end(decoder.stop_requested != 0);
}
