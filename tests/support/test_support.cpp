#include "tests/support/test_support.h"

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "engine/extraction_loop.h"

std::string source_path(const std::string& relative) {
    return std::string(MAVUSFX_SOURCE_DIR) + "/" + relative;
}

std::string corpus_path(const std::string& name) { return source_path("tests/data/corpus/" + name); }

Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void write_file(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write((const char*)bytes.data(), (std::streamsize)bytes.size());
    if (!out) throw std::runtime_error("cannot write " + path);
}

bool file_exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool folder_exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::vector<std::string> folder_entries(const std::string& path) {
    std::vector<std::string> names;
    if (DIR* dir = opendir(path.c_str())) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.') names.push_back(entry->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// ---- SHA-256 (FIPS 180-4), for comparing extracted files with the manifest ----

static uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

std::string sha256_hex(const Bytes& message) {
    static const uint32_t k[64] = {
        0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4,
        0xab1c5ed5, 0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe,
        0x9bdc06a7, 0xc19bf174, 0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f,
        0x4a7484aa, 0x5cb0a9dc, 0x76f988da, 0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7,
        0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967, 0x27b70a85, 0x2e1b2138, 0x4d2c6dfc,
        0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85, 0xa2bfe8a1, 0xa81a664b,
        0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070, 0x19a4c116,
        0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
        0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7,
        0xc67178f2};
    uint32_t h[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                     0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    Bytes m = message;
    uint64_t bit_length = (uint64_t)message.size() * 8;
    m.push_back(0x80);
    while (m.size() % 64 != 56) m.push_back(0);
    for (int i = 7; i >= 0; i--) m.push_back((uint8_t)(bit_length >> (8 * i)));
    for (size_t chunk = 0; chunk < m.size(); chunk += 64) {
        uint32_t w[64];
        for (int i = 0; i < 16; i++)
            w[i] = (uint32_t)m[chunk + 4 * i] << 24 | (uint32_t)m[chunk + 4 * i + 1] << 16 |
                   (uint32_t)m[chunk + 4 * i + 2] << 8 | m[chunk + 4 * i + 3];
        for (int i = 16; i < 64; i++) {
            uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
            uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
            w[i] = w[i - 16] + s0 + w[i - 7] + s1;
        }
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4], f = h[5], g = h[6], hh = h[7];
        for (int i = 0; i < 64; i++) {
            uint32_t t1 = hh + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k[i] + w[i];
            uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
            hh = g; g = f; f = e; e = d + t1; d = c; c = b; b = a; a = t1 + t2;
        }
        h[0] += a; h[1] += b; h[2] += c; h[3] += d; h[4] += e; h[5] += f; h[6] += g; h[7] += hh;
    }
    char hex[65];
    for (int i = 0; i < 8; i++) snprintf(hex + 8 * i, 9, "%08x", h[i]);
    return hex;
}

uint16_t crc16_of(const Bytes& bytes) {
    uint16_t crc = 0;
    for (uint8_t b : bytes) {
        crc ^= b;
        for (int k = 0; k < 8; k++) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

// ---- scratch folders ----

static void remove_tree(const std::string& path) {
    DIR* dir = opendir(path.c_str());
    if (dir != nullptr) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            std::string child = path + "/" + name;
            struct stat st;
            if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) remove_tree(child);
            else unlink(child.c_str());
        }
        closedir(dir);
    }
    rmdir(path.c_str());
}

ScratchFolder::ScratchFolder() {
    char pattern[] = "/tmp/mavusfx-test-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    char here[4096];
    previous_ = getcwd(here, sizeof here) != nullptr ? here : "/";
    if (chdir(path_.c_str()) != 0) throw std::runtime_error("chdir failed");
}

ScratchFolder::~ScratchFolder() {
    if (chdir(previous_.c_str()) != 0) { /* nothing better to do in a destructor */ }
    remove_tree(path_);
}

// ---- report recorder ----

static void record_member(void* c, const char* name) { ((ReportRecorder*)c)->members.push_back(name); }
static void record_progress(void* c, uint32_t p) { ((ReportRecorder*)c)->progress.push_back(p); }
static void record_failure_hook(void* c, const char* name, FailureKind kind) {
    ((ReportRecorder*)c)->failures.push_back({name != nullptr ? name : "", kind});
}
static void record_unknown(void* c) { ((ReportRecorder*)c)->unknown_header_boxes++; }
static void record_end(void* c, bool cancelled) {
    ReportRecorder* r = (ReportRecorder*)c;
    r->ends++;
    r->cancelled = cancelled;
}
static void record_notice(void* c, ShellEvent event, const char* path) {
    ((ReportRecorder*)c)->notices.push_back({event, path});
}

static void record_older_reading(void* c, const char* name) {
    ((ReportRecorder*)c)->older_readings.push_back(name);
}

ReportRecorder::ReportRecorder() {
    PlatformHooks hooks = {record_member, record_progress, record_failure_hook, record_unknown,
                           record_end,    record_notice,   this,                record_older_reading,
                           nullptr};
    platform_set_hooks(&hooks);
}

ReportRecorder::~ReportRecorder() { platform_set_hooks(nullptr); }

bool ReportRecorder::failed(const std::string& name, FailureKind kind) const {
    for (const Failure& f : failures)
        if (f.name == name && f.kind == kind) return true;
    return false;
}

std::string method_id(int method) {
    return "-" + std::string(METHOD_TABLE[method].letters) + "-";
}

EngineRun run_engine_on(const std::string& archive, bool test_only, bool sound_members_first) {
    decoder.stop_requested = 0;  // a run of its own
    ExtractionRun run = {};
    run.archive_file = fopen(archive.c_str(), "rb");
    if (run.archive_file == nullptr) throw std::runtime_error("cannot open " + archive);
    run.test_only = test_only ? 1 : 0;
    run.sound_members_first = sound_members_first ? 1 : 0;
    char here[PATH_BUFFER_SIZE];
    if (platform_current_folder(here, sizeof here)) run.dest_folder = here;
    run_extraction(&run);
    fclose(run.archive_file);
    return {run.outcome.failure_count, run.outcome.archive_damaged != 0, run.outcome.refused};
}

// ---- LHA builders ----

static void put16(Bytes& b, uint32_t v) { b.push_back((uint8_t)v); b.push_back((uint8_t)(v >> 8)); }
static void put32(Bytes& b, uint32_t v) { put16(b, v & 0xFFFF); put16(b, v >> 16); }

// Level 3 gives each extended header a size of 4 bytes, the others 2.
static void put_extended(Bytes& b, uint8_t type, const std::string& data, int level = 2) {
    if (level == 3) put32(b, (uint32_t)data.size() + 5);
    else put16(b, (uint32_t)data.size() + 3);
    b.push_back(type);
    b.insert(b.end(), data.begin(), data.end());
}

Bytes build_member(const TestMember& s) {
    uint32_t original = s.original_size == UINT32_MAX ? (uint32_t)s.data.size() : s.original_size;
    uint16_t crc = s.crc_given ? s.crc : crc16_of(s.data);
    Bytes h;
    if (s.level == 0 || s.level == 1) {
        Bytes ext;
        if (s.level == 1) {
            if (!s.folder.empty()) put_extended(ext, 0x02, s.folder);
            for (const auto& e : s.extended) put_extended(ext, e.first, e.second);
            put16(ext, 0);
        }
        h.push_back(0);  // size, set below
        h.push_back(0);  // checksum, not checked
        h.insert(h.end(), s.method.begin(), s.method.begin() + 5);
        uint32_t ext_total = s.level == 1 ? (uint32_t)ext.size() - 2 : 0;
        put32(h, (uint32_t)s.data.size() + ext_total);
        put32(h, original);
        put32(h, s.raw_time);
        h.push_back(s.attribute);
        h.push_back((uint8_t)s.level);
        h.push_back((uint8_t)s.name.size());
        h.insert(h.end(), s.name.begin(), s.name.end());
        // Level 0 carries the CRC alone (h - n = 22); level 1 adds the OS id before
        // its first extended-header size (h - n = 25).
        if (s.with_crc) put16(h, crc);
        if (s.with_crc && s.level == 1) h.push_back(s.os_id);
        if (s.level == 1) {
            // The first extended header's size is the base header's last two bytes;
            // the rest of the chain follows the base header.
            h.push_back(ext[0]);
            h.push_back(ext[1]);
            h[0] = (uint8_t)(h.size() - 2);
            h.insert(h.end(), ext.begin() + 2, ext.end());
        } else {
            h[0] = (uint8_t)(h.size() - 2);
        }
    } else {
        // Level 2: the total length in the first two bytes.  Level 3: 4 there (its
        // word size) and the total length in four bytes behind the OS id.
        put16(h, s.level == 3 ? 4 : 0);
        h.insert(h.end(), s.method.begin(), s.method.begin() + 5);
        put32(h, (uint32_t)s.data.size());
        put32(h, original);
        put32(h, s.raw_time);
        h.push_back(s.attribute);
        h.push_back((uint8_t)s.level);
        put16(h, crc);
        h.push_back(s.os_id);
        if (s.level == 3) put32(h, 0);  // total length, set below
        if (!s.name.empty()) put_extended(h, 0x01, s.name, s.level);
        if (!s.folder.empty()) put_extended(h, 0x02, s.folder, s.level);
        for (const auto& e : s.extended) put_extended(h, e.first, e.second, s.level);
        if (s.level == 3) {
            put32(h, 0);
            for (int i = 0; i < 4; i++) h[24 + i] = (uint8_t)(h.size() >> (8 * i));
        } else {
            put16(h, 0);
            h[0] = (uint8_t)h.size();
            h[1] = (uint8_t)(h.size() >> 8);
        }
    }
    h.insert(h.end(), s.data.begin(), s.data.end());
    return h;
}

Bytes build_archive(const std::vector<TestMember>& members, bool end_byte) {
    Bytes archive;
    for (const TestMember& m : members) {
        Bytes one = build_member(m);
        archive.insert(archive.end(), one.begin(), one.end());
    }
    if (end_byte) archive.push_back(0);
    return archive;
}

// ---- decoding one member ----

DecodedMember decode_packed(const Bytes& packed, uint32_t original_size, int method_index,
                            uint32_t packed_size, bool with_progress, FILE* output,
                            uint8_t older_rule) {
    decoder.stop_requested = 0;  // a run of its own
    start_progress(with_progress ? original_size : 0);
    FILE* in = tmpfile();
    FILE* out = output != nullptr ? output : tmpfile();
    if (in == nullptr || out == nullptr) throw std::runtime_error("tmpfile failed");
    if (!packed.empty()) fwrite(packed.data(), 1, packed.size(), in);
    rewind(in);
    DecodedMember decoded;
    MemberResult result =
        decode_member({packed_size == UINT32_MAX ? packed.size() : packed_size, original_size,
                       in, out, &METHOD_TABLE[method_index], older_rule});
    decoded.result = result.result;
    decoded.crc = result.output.crc;
    decoded.write_failed = result.output.write_failed;
    fclose(in);
    if (output != nullptr) return decoded;
    long length = ftell(out);
    rewind(out);
    decoded.output.resize(length > 0 ? (size_t)length : 0);
    if (!decoded.output.empty() &&
        fread(decoded.output.data(), 1, decoded.output.size(), out) != decoded.output.size())
        throw std::runtime_error("cannot read back the output");
    fclose(out);
    return decoded;
}

static std::string quoted(const std::string& word) {
    std::string out = "'";
    for (char c : word) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

ToolRun run_tool(const std::vector<std::string>& words, const std::string& environment) {
    ScratchFolder logs;
    std::string command = environment + " " + quoted(MAVUSFX_TOOL);
    for (const std::string& w : words) command += " " + quoted(w);
    command += " >" + (logs / "out") + " 2>" + (logs / "err");
    int raw = system(command.c_str());
    Bytes out = read_file(logs / "out"), err = read_file(logs / "err");
    return {raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, std::string(out.begin(), out.end()),
            std::string(err.begin(), err.end())};
}

ToolRun run_tool(const std::string& arguments) {
    std::vector<std::string> words;
    std::stringstream split(arguments);
    std::string word;
    while (split >> word) words.push_back(word);
    return run_tool(words);
}

// ---- bit writer ----

void BitWriter::put(uint32_t value, unsigned count) {
    for (unsigned i = count; i-- > 0;) {
        if (bit_count_ % 8 == 0) bytes_.push_back(0);
        if ((value >> i) & 1) bytes_.back() |= (uint8_t)(0x80 >> (bit_count_ % 8));
        bit_count_++;
    }
}

void BitWriter::put_bits(const char* pattern) {
    for (; *pattern != 0; pattern++)
        if (*pattern == '0' || *pattern == '1') put(*pattern == '1', 1);
}

Bytes BitWriter::finish() const { return bytes_; }

// ---- manifest ----

static std::string unhex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back((char)strtol(hex.substr(i, 2).c_str(), nullptr, 16));
    return out;
}

std::vector<ManifestEntry> read_manifest(const std::string& manifest_path) {
    std::ifstream in(manifest_path);
    std::vector<ManifestEntry> entries;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> f;
        std::stringstream fields(line);
        std::string field;
        while (std::getline(fields, field, '\t')) f.push_back(field);
        if (f.size() < 7) continue;
        entries.push_back({f[0], f[1] == "dir", unhex(f[2]), std::stoull(f[3]), f[4],
                           (uint16_t)std::stoul(f[5], nullptr, 16), (uint32_t)std::stoul(f[6])});
    }
    return entries;
}
