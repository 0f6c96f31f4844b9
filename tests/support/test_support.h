// Shared pieces of the native tests: scratch folders, a recorder of the platform's
// reports, builders for LHA headers and bit streams, and the corpus manifest.
#pragma once

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <string>
#include <vector>

#include "decode/decode_driver.h"
#include "platform/report_hooks.h"

using Bytes = std::vector<uint8_t>;

std::string source_path(const std::string& relative);  // under the source tree
std::string corpus_path(const std::string& name);        // tests/data/corpus/name

Bytes read_file(const std::string& path);
void write_file(const std::string& path, const Bytes& bytes);
bool file_exists(const std::string& path);
bool folder_exists(const std::string& path);
// The names in a folder, sorted, without those that start with a dot.
std::vector<std::string> folder_entries(const std::string& path);
std::string sha256_hex(const Bytes& bytes);
// Bytes and text, one as the other.
inline Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline std::string text_of(const Bytes& b) { return std::string(b.begin(), b.end()); }
inline std::string sha256_hex(const std::string& text) { return sha256_hex(bytes_of(text)); }
uint16_t crc16_of(const Bytes& bytes);

// Sets the time zone while the object lives and puts the old one back.
class TimeZone {
public:
    explicit TimeZone(const char* zone) {
        const char* old = getenv("TZ");
        had_ = old != nullptr;
        if (had_) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone() {
        if (had_) setenv("TZ", old_.c_str(), 1);
        else unsetenv("TZ");
        tzset();
    }
private:
    bool had_;
    std::string old_;
};

// A fresh folder under /tmp, made the current folder while the object lives, and
// removed with everything in it afterwards.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
private:
    std::string path_;
    std::string previous_;
};

// Records every report of the engine while installed.
struct ReportRecorder {
    struct Failure { std::string name; FailureKind kind; };
    struct Notice { ShellEvent event; std::string path; };
    std::vector<std::string> members;
    std::vector<uint32_t> progress;
    std::vector<Failure> failures;
    std::vector<Notice> notices;
    std::vector<std::string> older_readings;  // members read by the older encoders' rule
    int unknown_header_boxes = 0;
    int ends = 0;
    bool cancelled = false;

    ReportRecorder();   // installs itself
    ~ReportRecorder();  // uninstalls
    bool failed(const std::string& name, FailureKind kind) const;
};

// The 5-byte id of a row of METHOD_TABLE, such as "-lh5-".
std::string method_id(int method);

// Runs the whole extraction loop on `archive` (a file holding a bare LHA archive)
// into the current folder, as the stub's worker would, a run of its own (not
// stopped).  Returns the run outcome.
struct EngineRun {
    uint32_t failure_count;
    bool archive_damaged;
    uint8_t refused;  // the whole-run refusal (ARCHIVE_CUT_SHORT ...), 0 when none
};
// `sound_members_first` as the host tool sets it for a bare archive.
EngineRun run_engine_on(const std::string& archive, bool test_only = false,
                        bool sound_members_first = false);

// Builds LHA member headers and archives in memory.
struct TestMember {
    std::string method = "-lh0-";
    std::string name;             // as stored: level 0/1 base name or level-2/3 file name
    std::string folder;           // extended folder name (levels 1 to 3), 0xFF separated
    Bytes data;                   // the member's data as stored
    uint32_t original_size = UINT32_MAX;  // default: data.size()
    uint32_t raw_time = 0;
    uint8_t attribute = 0x20;
    int level = 0;
    bool with_crc = true;         // level 0: CRC present; level 1: CRC and OS id
    uint16_t crc = 0;             // 0: computed from data (for -lh0-)
    bool crc_given = false;
    uint8_t os_id = 'M';
    // Further extended headers (levels 1, 2): type and data, after the names.
    std::vector<std::pair<uint8_t, std::string>> extended;
};
Bytes build_member(const TestMember& member);
Bytes build_archive(const std::vector<TestMember>& members, bool end_byte = true);

// Runs `packed` through the real decode_member as one member of `method_index`
// expanding to `original_size` bytes.  The member declares `packed_size` bytes
// (default: all of `packed`).  Returns the result, the output, its CRC-16 and
// whether a write failed.  Each call is a run of its own: not stopped.
struct DecodedMember {
    DecodeResult result;
    Bytes output;
    uint16_t crc;
    bool write_failed;
};
// With `with_progress` the progress total is the member's size, so the percentage
// runs from 1 to 100 over it and the progress hooks see it.  Given an `output`, the
// member is written there instead and the result's output stays empty.  `older_rule`
// reads it by the method's older encoders' rule.
DecodedMember decode_packed(const Bytes& packed, uint32_t original_size, int method_index,
                            uint32_t packed_size = UINT32_MAX, bool with_progress = false,
                            FILE* output = nullptr, uint8_t older_rule = 0);

// Runs the host tool (build/native/mavusfx) and keeps its exit status and output.
struct ToolRun {
    int status;  // the exit status, -1 when it did not exit
    std::string out;
    std::string err;
    std::string output() const { return out + err; }
};
// Each word is passed as one argument; the tool runs in a scratch folder of its own,
// with `environment` ("LC_ALL=C.UTF-8") added to the process's.
ToolRun run_tool(const std::vector<std::string>& words, const std::string& environment = "");
// The same with the words of `arguments` split at spaces (for paths without any).
ToolRun run_tool(const std::string& arguments);

// Writes bits most significant first, as the bit input reads them.
class BitWriter {
public:
    void put(uint32_t value, unsigned count);  // the low `count` bits of value
    void put_bits(const char* pattern);        // "0101 1100": spaces ignored
    Bytes finish() const;                      // padded with zero bits to a byte
    size_t bit_count() const { return bit_count_; }
private:
    Bytes bytes_;
    size_t bit_count_ = 0;
};

// One line of tests/data/corpus/manifest.tsv.
struct ManifestEntry {
    std::string archive;
    bool is_folder;
    std::string path;   // raw bytes of the path, '/' separated
    uint64_t size;
    std::string sha256;
    uint16_t crc16;
    uint32_t mtime;
};
std::vector<ManifestEntry> read_manifest(const std::string& manifest_path);
