#include "engine/extraction_loop.h"

#include <string.h>

#include "decode/decode_driver.h"
#include "decode/output_sink.h"
#include "engine/paths.h"
#include "platform/platform.h"

long file_size(FILE* file) {
    long here = ftell(file);
    fseek(file, 0, SEEK_END);
    long size = ftell(file);
    fseek(file, here, SEEK_SET);
    return size;
}

/* A raw walk over the headers that reads only the first byte, the two sizes and the
 * level of each.  Levels 0 and 1: the next header starts 2 + h + packed size bytes on
 * (a level-1 packed size includes its extended headers); level 2: h + packed size
 * (h is then the low byte of the header's length).  A member that would end past
 * the end of the file ends the walk: its size still counts. */
uint32_t sum_original_sizes(ExtractionRun* run) {
    FILE* file = run->archive_file;
    long start = ftell(file);
    long position = start;
    uint32_t sum = 0;
    for (;;) {
        int h = fgetc(file);
        if (h == EOF || h == 0) break;
        uint8_t fields[20];
        if (fread(fields, 1, 20, file) != 20) break;
        uint32_t packed = fields[6] | fields[7] << 8 | fields[8] << 16 | (uint32_t)fields[9] << 24;
        uint32_t original = fields[10] | fields[11] << 8 | fields[12] << 16 | (uint32_t)fields[13] << 24;
        uint8_t level = fields[19];
        sum += original;
        int64_t next = (int64_t)position + h + packed + (level == 2 ? 0 : 2);
        if (next > run->archive_size) break;
        position = (long)next;
        fseek(file, position, SEEK_SET);
    }
    fseek(file, start, SEEK_SET);
    return sum;
}

DecodeResult expand_member(ExtractionRun* run, FILE* out, uint32_t original_size, uint32_t packed_size,
                           const char* path, const MethodRow& method) {
    copy_text(run->current_output_path, path, PATH_BUFFER_SIZE);
    // Never take more than the file still holds: a packed size beyond its end means
    // the archive was cut short.
    bool truncated = false;
    long remaining = run->archive_size - ftell(run->archive_file);
    if (remaining < 0) remaining = 0;
    if ((uint64_t)packed_size > (uint64_t)remaining) {
        packed_size = (uint32_t)remaining;
        truncated = true;
    }
    DecodeResult decoded =
        decode_member(run->archive_file, out, method, packed_size, original_size);
    if (keep_going == 0 || decoded == DECODE_CANCELLED) return DECODE_CANCELLED;
    if (decoded == DECODE_NO_MEMORY) return DECODE_NO_MEMORY;
    return truncated ? DECODE_TRUNCATED : decoded;
}

/* A folder entry makes its folder (a path without the trailing '/' gets one) and
 * never reaches the decoder. */
static void make_member_folder(ExtractionRun* run, const char* path) {
    char folder[PATH_BUFFER_SIZE + 1];
    size_t length = strlen(path);
    if (length == 0) return;
    memcpy(folder, path, length + 1);
    if (folder[length - 1] != '/') {
        folder[length] = '/';
        folder[length + 1] = 0;
    }
    if (!make_parent_folders(run, folder) && platform_path_state(path) != PATH_IS_FOLDER)
        record_failure(run, path, FAILED_CANNOT_CREATE);
}

static const FailureKind FAILURE_OF_DECODE[] = {
    FAILED_DAMAGED /* unused: complete */, FAILED_DAMAGED /* unused: cancelled */,
    FAILED_DAMAGED, FAILED_NO_MEMORY, FAILED_TRUNCATED};

int extract_member(ExtractionRun* run, const MemberHeader* header) {
    char path[PATH_BUFFER_SIZE];
    copy_text(path, header->name[0] == '/' ? header->name + 1 : header->name, sizeof path);
    if (is_unsafe_member_path(header->name)) {
        record_failure(run, header->name, FAILED_UNSAFE_PATH);
        return 0;
    }
    const MethodRow* method = find_method(header->method);
    if (method == nullptr) {
        record_failure(run, header->name, FAILED_UNKNOWN_METHOD);
        return 0;
    }
    if (method->kind == METHOD_FOLDER) {
        if (!run->test_only) make_member_folder(run, path);
        return 0;
    }

    FILE* out = nullptr;
    if (!run->test_only) {
        platform_delete_file(path);
        out = open_output_file(run, path);
        if (out == nullptr) {
            record_failure(run, header->name, FAILED_CANNOT_CREATE);
            return 0;
        }
    }
    output_sink.write_failed = false;
    DecodeResult result =
        expand_member(run, out, header->original_size, header->packed_size, path, *method);
    if (out != nullptr && close_output_file(out) != 0) output_sink.write_failed = true;
    if (keep_going == 0) {
        if (!run->test_only) platform_delete_file(path);
        return 1;
    }
    if (!run->test_only) platform_set_file_time(path, header->time);

    if (result != DECODE_COMPLETE)
        record_failure(run, header->name, FAILURE_OF_DECODE[result]);
    else if (output_sink.write_failed)
        record_failure(run, header->name, FAILED_WRITE_ERROR);
    else if (header->has_crc && output_sink.crc != header->crc)
        record_failure(run, header->name, FAILED_CRC_MISMATCH);
    return 0;
}

void run_extraction(void* argument) {
    ExtractionRun* run = (ExtractionRun*)argument;
    run->archive_size = file_size(run->archive_file);
    output_sink.progress_total = sum_original_sizes(run);
    MemberHeader header;
    for (;;) {
        HeaderResult read = read_member_header(run->archive_file, &header);
        if (read == HEADER_UNKNOWN_LAYOUT) platform_report_unknown_header();
        if (read == HEADER_DAMAGED || read == HEADER_UNKNOWN_LAYOUT)
            record_failure(run, nullptr, ARCHIVE_DAMAGED);
        if (read != HEADER_READ) break;
        long data_position = ftell(run->archive_file);
        platform_report_member(header.name);
        if (extract_member(run, &header) != 0) break;
        if (!run->test_only) notify_shell(run, false, header.name);
        // The next header follows the member's data, whatever the decoder consumed;
        // a size past the end of the file ends the walk there.
        int64_t next = (int64_t)data_position + header.packed_size;
        if (next > run->archive_size) next = run->archive_size;
        fseek(run->archive_file, (long)next, SEEK_SET);
        output_sink.progress_done += header.original_size;
    }
    platform_report_end(keep_going == 0);
}
