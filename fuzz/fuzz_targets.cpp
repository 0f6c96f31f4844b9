#include "fuzz/fuzz_targets.h"

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>


#include "decode/decode_driver.h"
#include "engine/extraction_loop.h"
#include "engine/member_header.h"
#include "frontend/config_block.h"
#include "platform/report_hooks.h"

// A broken invariant must stop the fuzzer with a report, also in release builds.
#define FUZZ_CHECK(condition)                                                           \
    do {                                                                               \
        if (!(condition)) {                                                            \
            fprintf(stderr, "fuzz invariant failed: %s (%s:%d)\n", #condition, __FILE__, \
                    __LINE__);                                                         \
            abort();                                                                   \
        }                                                                              \
    } while (0)

// Members may claim any size, up to 4 GiB each, and garbage decodes at a few
// hundred nanoseconds a byte under the sanitizers.  So a coded member ends, as
// damaged, once it has produced the output limit (decoder.output_limit), with what
// it produced written, and the rest counts as done: a member never writes more than
// the limit and the rest of one match (LONGEST_MATCH) besides; stored data is as
// long as the input holds.  The limit is DEFAULT_OUTPUT_LIMIT, which keeps every
// target at thousands of inputs a second, or MAVUSFX_FUZZ_OUTPUT_LIMIT from the
// environment for a slower run that reaches past the larger windows (fuzz/README.md).
enum { DEFAULT_OUTPUT_LIMIT = 2048, LONGEST_MATCH = 256 };

static uint32_t output_limit() {
    static uint32_t limit = 0;
    if (limit == 0) {
        const char* text = getenv("MAVUSFX_FUZZ_OUTPUT_LIMIT");
        unsigned long value = text != nullptr ? strtoul(text, nullptr, 10) : 0;
        limit = value != 0 && value < UINT32_MAX ? (uint32_t)value : (uint32_t)DEFAULT_OUTPUT_LIMIT;
    }
    return limit;
}

// The decoder's run settings for one input: bounded, written in turn (the helper
// thread would write the windows while the decoder goes on; tests/write_behind_test
// holds it against writing in turn), with or without the fast runs.  end_bounded_run
// puts the defaults back for whatever runs in the process next.
static void start_bounded_run(bool fast) {
    decoder = {};
    decoder.simple_loop_only = !fast;
    decoder.writes_in_turn = true;
    decoder.output_limit = output_limit();
}

static void end_bounded_run() { decoder = {}; }

static FILE* memory_file(const uint8_t* data, size_t size) {
    // fmemopen refuses size 0; an empty archive is one byte short of a 0 end byte.
    static const uint8_t nothing = 0;
    return fmemopen((void*)(size != 0 ? data : &nothing), size != 0 ? size : 1, "rb");
}

// Seeks past a member's data as the extraction loop does: never beyond the end.
static void skip_member_data(FILE* file, const MemberHeader& header, size_t size) {
    uint64_t next = (uint64_t)ftell(file) + header.packed_size;
    fseek(file, (long)(next < size ? next : size), SEEK_SET);
}

void fuzz_member_headers(const uint8_t* data, size_t size) {
    FILE* file = memory_file(data, size);
    MemberHeader header;
    for (int i = 0; i < 1000; i++) {
        long before = ftell(file);
        if (read_member_header(file, &header) != HEADER_READ) break;
        FUZZ_CHECK(strlen(header.name) < PATH_BUFFER_SIZE);
        FUZZ_CHECK(ftell(file) > before);
        skip_member_data(file, header, size);
    }
    fclose(file);
}

// What a decode left behind, for holding the fast runs against the simple loop:
// the bytes written (counted and hashed), every progress report with the decoded
// count after which it came, the result, the count and the CRC.
struct DecodeTrace {
    uint64_t bytes;
    uint64_t hash;
    uint32_t cancel_at;  // percentage at which the stop button is pressed; 0: never
    DecodeResult result;
    uint32_t decoded;
    uint16_t crc;
};

static void mix(uint64_t& hash, uint64_t value) { hash = (hash ^ value) * 0x100000001B3ull; }

static ssize_t trace_write(void* cookie, const char* data, size_t size) {
    DecodeTrace* t = (DecodeTrace*)cookie;
    t->bytes += size;
    for (size_t i = 0; i < size; i++) mix(t->hash, (uint8_t)data[i]);
    return (ssize_t)size;
}

static void trace_progress(void* cookie, uint32_t percent) {
    DecodeTrace* t = (DecodeTrace*)cookie;
    mix(t->hash, (uint64_t)percent << 32 | decoder.decoded_count);
    if (t->cancel_at != 0 && percent >= t->cancel_at) decoder.stop_requested = 1;
}

static DecodeTrace traced_decode(const uint8_t* packed, size_t size, int method,
                                 uint32_t original, uint32_t cancel_at, bool fast) {
    start_bounded_run(fast);
    start_progress(original);
    DecodeTrace trace = {0, 0xCBF29CE484222325ull, cancel_at, DECODE_COMPLETE, 0, 0};
    PlatformHooks hooks = {};
    hooks.progress = trace_progress;
    hooks.context = &trace;
    platform_set_hooks(&hooks);
    cookie_io_functions_t io = {nullptr, trace_write, nullptr, nullptr};
    FILE* out = fopencookie(&trace, "wb", io);
    FILE* in = memory_file(packed, size);
    MemberResult decoded = decode_member({size, original, in, out, &METHOD_TABLE[method], 0});
    fclose(out);
    fclose(in);
    platform_set_hooks(nullptr);  // the hooks' context is this frame's
    trace.result = decoded.result;
    trace.decoded = decoder.decoded_count;
    trace.crc = decoded.output.crc;
    end_bounded_run();
    return trace;
}

/* Input: one byte choosing the method row (1 to 9), four bytes of original size,
 * then the packed data.  The member is decoded twice, with the fast runs and
 * without, each from the state the decoder starts a member with and bounded to
 * the output limit, and the two must agree in everything observable; every fourth input
 * presses the stop button at a percentage taken from the size bytes. */
void fuzz_decode_member(const uint8_t* data, size_t size) {
    if (size < 5) return;
    int method = 1 + data[0] % 9;
    uint32_t original = (uint32_t)data[1] | (uint32_t)data[2] << 8 | (uint32_t)data[3] << 16 |
                        (uint32_t)data[4] << 24;
    uint32_t cancel_at = data[1] % 4 == 0 ? 1 + data[2] % 100 : 0;
    DecodeTrace fast = traced_decode(data + 5, size - 5, method, original, cancel_at, true);
    DecodeTrace simple = traced_decode(data + 5, size - 5, method, original, cancel_at, false);
    FUZZ_CHECK(fast.bytes <= original && fast.bytes <= output_limit() + LONGEST_MATCH + size);
    if (fast.result == DECODE_COMPLETE) FUZZ_CHECK(fast.bytes == original);
    FUZZ_CHECK(fast.result == simple.result && fast.bytes == simple.bytes);
    FUZZ_CHECK(fast.hash == simple.hash && fast.decoded == simple.decoded);
    FUZZ_CHECK(fast.crc == simple.crc);
}

void fuzz_config_block(const uint8_t* data, size_t size) {
    FILE* file = memory_file(data, size);
    SfxApp app;
    init_app(&app, nullptr);
    app.run.archive_file = file;
    if (read_config(&app)) {
        FUZZ_CHECK(app.title != nullptr && app.run.dest_folder != nullptr);
        FUZZ_CHECK(strlen(app.run.dest_folder) < PATH_BUFFER_SIZE);
        FUZZ_CHECK(ftell(file) <= (long)(size != 0 ? size : 1));
    }
    release_app(&app);
}

// ---- the whole loop, into a scratch folder ----

// Every input is extracted into a fresh folder, in memory where the system has a
// tmpfs at /dev/shm: on a disk, making and taking away the files cost more than the
// decoding.
static char fuzz_root[64];      // /dev/shm/mavusfx-fuzz-XXXXXX: holds only "scratch"
static char fuzz_scratch[128];  // the destination of every run

static void remove_tree(const char* path) {
    DIR* dir = opendir(path);
    if (dir != nullptr) {
        while (dirent* entry = readdir(dir)) {
            if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
            char child[4096];
            snprintf(child, sizeof child, "%s/%s", path, entry->d_name);
            struct stat st;
            if (lstat(child, &st) == 0 && S_ISDIR(st.st_mode)) remove_tree(child);
            else unlink(child);
        }
        closedir(dir);
    }
    rmdir(path);
}

// The names in `path` other than "." and "..".
static int entries_in(const char* path, const char* only_allowed) {
    DIR* dir = opendir(path);
    if (dir == nullptr) return -1;
    int unexpected = 0;
    while (dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
        if (only_allowed == nullptr || strcmp(entry->d_name, only_allowed) != 0) unexpected++;
    }
    closedir(dir);
    return unexpected;
}

static void remove_root() { remove_tree(fuzz_root); }

static void prepare_scratch() {
    if (fuzz_root[0] == 0) {
        struct stat st;
        bool in_memory =
            stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK) == 0;
        strcpy(fuzz_root, in_memory ? "/dev/shm/mavusfx-fuzz-XXXXXX" : "/tmp/mavusfx-fuzz-XXXXXX");
        FUZZ_CHECK(mkdtemp(fuzz_root) != nullptr);
        atexit(remove_root);
        snprintf(fuzz_scratch, sizeof fuzz_scratch, "%s/scratch", fuzz_root);
    }
    remove_tree(fuzz_scratch);
    FUZZ_CHECK(mkdir(fuzz_scratch, 0700) == 0);
}

void fuzz_extraction(const uint8_t* data, size_t size) {
    prepare_scratch();
    char previous[4096];
    FUZZ_CHECK(getcwd(previous, sizeof previous) != nullptr);
    FUZZ_CHECK(chdir(fuzz_scratch) == 0);
    platform_set_hooks(nullptr);
    start_bounded_run(true);
    ExtractionRun run = {};
    run.archive_file = memory_file(data, size);
    run.dest_folder = fuzz_scratch;
    run_extraction(&run);
    fclose(run.archive_file);
    end_bounded_run();
    FUZZ_CHECK(chdir(previous) == 0);
    // Nothing may have been written beside the scratch folder.
    FUZZ_CHECK(entries_in(fuzz_root, "scratch") == 0);
}

void fuzz_all(const uint8_t* data, size_t size) {
    fuzz_member_headers(data, size);
    fuzz_decode_member(data, size);
    fuzz_config_block(data, size);
    fuzz_extraction(data, size);
}
