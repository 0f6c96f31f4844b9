#include "engine/extraction_loop.h"

#include <string.h>

#include "decode/decode_driver.h"
#include "engine/output_sink.h"
#include "engine/paths.h"
#include "engine/windows_names.h"
#include "platform/platform.h"

const char METHOD_IDS[METHOD_COUNT + 1][6] = {
    "-lh0-", "-lh1-", "-lh2-", "-lh3-", "-lh4-", "-lh5-", "-lh6-",
    "-lh7-", "-lzs-", "-lz5-", "-lz4-", "-lhd-", ""};

const uint8_t METHOD_DICTIONARY_BITS[METHOD_COUNT] = {0, 12, 13, 13, 12, 13, 15, 16, 11, 12, 0, 0};

/* The stub has no initialised data, which would cost its file a section of its
 * own: there the flag starts as 0 and the entry raises it before anything runs. */
#ifdef MAVUSFX_STUB_BUILD
volatile int run_flag;
#else
volatile int run_flag = 1;
#endif

int method_index(const char* method) {
    for (int i = 0; METHOD_IDS[i][0] != 0; i++) {
        int k = 0;
        while (k < 5 && method[k] == METHOD_IDS[i][k]) k++;
        if (k == 5) return i;
    }
    return -1;
}

long file_size(FILE* file) {
    long here = ftell(file);
    fseek(file, 0, SEEK_END);
    long size = ftell(file);
    fseek(file, here, SEEK_SET);
    return size;
}

/* Every header is read as the member loop will read it, and the data stepped over.
 * A sound archive ends in its 0 byte, with every member's data inside the file
 * before it; what follows the end byte (a signature) is not looked at.  Nothing, or
 * no readable header, where the archive should begin is no archive; a file that
 * ends where a header or a member's data should be is cut short. */
ArchiveShape walk_archive(SfxApp* app, uint64_t* total) {
    FILE* file = app->archive_file;
    long start = ftell(file);
    ArchiveShape shape = SHAPE_NO_ARCHIVE;  // until a first header was read
    *total = 0;
    MemberHeader header;
    for (;;) {
        if (ftell(file) >= app->archive_size) break;
        HeaderResult read = read_member_header(app, &header);
        if (read == HEADER_END) shape = SHAPE_SOUND;
        else if (read == HEADER_DAMAGED && shape != SHAPE_NO_ARCHIVE && ftell(file) < app->archive_size)
            shape = SHAPE_DAMAGED;
        if (read != HEADER_READ) break;
        shape = SHAPE_CUT_SHORT;  // unless the end byte follows
        *total += header.original_size;
        int64_t next = (int64_t)ftell(file) + header.packed_size;
        if (next > app->archive_size) break;
        fseek(file, (long)next, SEEK_SET);
    }
    fseek(file, start, SEEK_SET);
    return shape;
}

static bool is_stored_method(int index) { return index == METHOD_LH0 || index == METHOD_LZ4; }

/* The shape walk saw every member's data inside the file; a file that shrinks
 * meanwhile shows as a short read of the stored copy, or as damage to a decoder,
 * which reads zeros past the end. */
ExpandResult expand_member(SfxApp* app, FILE* out, uint32_t original_size, uint32_t packed_size,
                           int index) {
    if (is_stored_method(index)) {
        // Stored data is the member's own bytes: a count beyond them would copy the
        // next member's header into this file.
        uint32_t count = original_size < packed_size ? original_size : packed_size;
        CopyResult copied = copy_stored(app, out, count);
        if (copied == COPY_CANCELLED) return EXPAND_CANCELLED;
        if (copied == COPY_NO_MEMORY) return EXPAND_NO_MEMORY;
        if (copied == COPY_TRUNCATED) return EXPAND_TRUNCATED;
        return count < original_size ? EXPAND_DAMAGED : EXPAND_COMPLETE;
    }

    DecodeJob job = {};
    job.archive_file = app->archive_file;
    job.output_file = out;
    job.original_size = original_size;
    job.packed_size = packed_size;
    job.dictionary_bits = METHOD_DICTIONARY_BITS[index];
    job.method_index = index;
    DecodeResult decoded = decode_member(&job);
    if (decoded == DECODE_CANCELLED) return EXPAND_CANCELLED;
    if (decoded == DECODE_NO_MEMORY) return EXPAND_NO_MEMORY;
    return decoded == DECODE_DAMAGED ? EXPAND_DAMAGED : EXPAND_COMPLETE;
}

/* A folder entry makes its folder (a path without the trailing '/' gets one) and
 * never reaches the decoder. */
static void make_member_folder(SfxApp* app, const char* path) {
    char folder[PATH_BUFFER_SIZE + 1];
    size_t length = strlen(path);
    if (length == 0) return;
    memcpy(folder, path, length + 1);
    if (folder[length - 1] != '/') {
        folder[length] = '/';
        folder[length + 1] = 0;
    }
    if (!make_parent_folders(app, folder) && platform_path_state(path) != PATH_IS_FOLDER)
        record_failure(app, path, FAILED_CANNOT_CREATE);
}

static const FailureKind FAILURE_OF_EXPAND[] = {
    NO_FAILURE, FAILED_DAMAGED /* cancelled: not reported */, FAILED_DAMAGED, FAILED_TRUNCATED,
    FAILED_NO_MEMORY};

/* Why a member may not be written at all, before anything is touched: a path that
 * leaves the destination, a name Windows cannot hold (a NUL inside included), a
 * link on the way. */
static bool refuse_member(SfxApp* app, const MemberHeader* header, char* path, int index) {
    FailureKind kind;
    if (is_unsafe_member_path(header->name)) kind = FAILED_UNSAFE_PATH;
    else if (windows_name_problem(header->name, header->name_length) != nullptr) kind = FAILED_WINDOWS_NAME;
    else if (index < 0) kind = FAILED_UNKNOWN_METHOD;
    else if (!app->test_only && path_has_link(path)) kind = FAILED_LINK_IN_PATH;
    else return false;
    record_failure(app, header->name, kind);
    return true;
}

/* The member's data goes to a new file beside its path, which is moved over the
 * path only when the data is complete, written and matches its CRC-16: a member
 * that fails, or a stop, leaves the old file as it was and takes the new one away.
 * A stop that comes once the data is complete keeps the member. */
int extract_member(SfxApp* app, const MemberHeader* header) {
    char path[PATH_BUFFER_SIZE];
    copy_text(path, header->name[0] == '/' ? header->name + 1 : header->name, sizeof path);
    int index = method_index(header->method);
    if (refuse_member(app, header, path, index)) return 0;
    if (index == METHOD_LHD) {
        if (!app->test_only) make_member_folder(app, path);
        return 0;
    }

    FILE* out = nullptr;
    char temporary[TEMPORARY_NAME_SIZE];
    if (!app->test_only) {
        out = open_output_file(app, path, temporary);
        if (out == nullptr) {
            record_failure(app, header->name, FAILED_CANNOT_CREATE);
            return 0;
        }
    }
    output_write_failed = false;
    ExpandResult result =
        expand_member(app, out, header->original_size, header->packed_size, index);
    if (out != nullptr && close_output_file(out) != 0) output_write_failed = true;
    FailureKind failure = FAILURE_OF_EXPAND[result];
    if (failure == NO_FAILURE && output_write_failed) failure = FAILED_WRITE_ERROR;
    if (failure == NO_FAILURE && header->has_crc && running_crc != header->crc)
        failure = FAILED_CRC_MISMATCH;
    if (out != nullptr) {
        if (failure == NO_FAILURE) {
            platform_set_file_time(temporary, header->time);
            if (!platform_replace_file(temporary, path)) failure = FAILED_CANNOT_CREATE;
        }
        if (failure != NO_FAILURE) platform_delete_file(temporary);
    }
    if (result == EXPAND_CANCELLED) return 1;
    if (failure != NO_FAILURE) record_failure(app, header->name, failure);
    return run_flag == 0;
}

/* Before anything is written the archive's shape is walked: an archive cut short,
 * damaged or missing, and members that need more room than the destination has,
 * are refused as a whole, and nothing is extracted. */
static bool archive_acceptable(SfxApp* app) {
    uint64_t total;
    ArchiveShape shape = walk_archive(app, &total);
    progress_total = (uint32_t)total;
    // The shapes but the sound one name their refusals in the same order.
    FailureKind refusal = (FailureKind)(ARCHIVE_DAMAGED - SHAPE_DAMAGED + shape);
    if (shape == SHAPE_SOUND) {
        if (app->test_only || total <= platform_free_space(".")) return true;
        refusal = ARCHIVE_NO_SPACE;
    }
    record_failure(app, nullptr, refusal);
    return false;
}

void run_extraction(void* argument) {
    SfxApp* app = (SfxApp*)argument;
    make_crc_table();
    app->archive_size = file_size(app->archive_file);
    MemberHeader header;
    bool acceptable = archive_acceptable(app);
    while (acceptable) {
        HeaderResult read = read_member_header(app, &header);
        if (read == HEADER_DAMAGED) record_failure(app, nullptr, ARCHIVE_DAMAGED);
        if (read != HEADER_READ) break;
        long data_position = ftell(app->archive_file);
        platform_report_member(app, header.name);
        if (extract_member(app, &header) != 0) break;
        if (!app->test_only) notify_shell(app, false, header.name);
        // The next header follows the member's data, whatever the decoder consumed
        // (the shape walk saw it inside the file).
        fseek(app->archive_file, data_position + (long)header.packed_size, SEEK_SET);
        progress_done += header.original_size;
    }
    platform_report_end(app, run_flag == 0);
}
