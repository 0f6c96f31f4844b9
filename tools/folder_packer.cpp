#include "tools/folder_packer.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine/output_sink.h"
#include "engine/paths.h"
#include "platform/platform.h"
#include "tools/lha_encoder.h"
#include "tools/local_names.h"
#include "tools/member_writer.h"
#include "tools/progress_bar.h"
#include "tools/replacing_file.h"
#include "tools/tool.h"

const PackSettings DEFAULT_PACK_SETTINGS = {16, 2, true};

namespace {

enum { SJIS_BUFFER = 1024, COPY_CHUNK = 1 << 16 };

struct FileIdentity {
    uint64_t id[2];  // device and file number
    bool operator==(const FileIdentity& other) const {
        return id[0] == other.id[0] && id[1] == other.id[1];
    }
};

FileIdentity identity_of(const PathInfo& info) { return {{info.identity[0], info.identity[1]}}; }

void add_name(void* names, const char* name) { ((std::vector<std::string>*)names)->push_back(name); }

struct PlannedMember {
    std::string source;     // the path in the file system
    std::string shown;      // the path below the packed folder, as the terminal shows it
    std::string folder;     // Shift-JIS folder part with its trailing '/'
    std::string file_name;  // Shift-JIS file name, empty for a folder
    bool is_folder;
    uint64_t size;
    time_t modified;
};

struct Plan {
    int level;
    std::vector<PlannedMember> members;
    std::vector<FileIdentity> skipped;  // the archive being written, and the one it replaces
    uint64_t total_bytes = 0;
    unsigned problems = 0;
};

void tell_problem(Plan* plan, const std::string& shown, const char* what) {
    fprintf(stderr, "mavusfx: %s: %s\n", shown.c_str(), what);
    plan->problems++;
}

/* The member's name: the path below the packed folder in Shift-JIS, split into its
 * folder part and file name.  A name is refused when it does not convert, holds a
 * backslash (readers take it as a folder separator), would be refused by the
 * extractor as leaving the destination, or does not fit the header level. */
bool name_member(Plan* plan, const std::string& relative, bool is_folder, PlannedMember* m) {
    const std::string& shown = m->shown;
    if (relative.find('\\') != std::string::npos) {
        tell_problem(plan, shown, "the name holds a backslash, which LHA readers take as a folder separator");
        return false;
    }
    char sjis[SJIS_BUFFER];
    if (!platform_utf8_to_sjis(relative.c_str(), sjis, sizeof sjis)) {
        tell_problem(plan, shown, "the name cannot be written in Shift-JIS (code page 932)");
        return false;
    }
    if (is_unsafe_member_path(sjis)) {
        tell_problem(plan, shown, "the name would be refused when extracted (it reads as an absolute path)");
        return false;
    }
    std::string path = sjis;
    if (is_folder) {
        m->folder = path + "/";
    } else {
        size_t slash = path.rfind('/');
        m->folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
        m->file_name = slash == std::string::npos ? path : path.substr(slash + 1);
    }
    MemberEntry entry = {};
    memcpy(entry.method, "-lh0-", 6);
    entry.folder = m->folder.c_str();
    entry.file_name = m->file_name.c_str();
    uint8_t header[MAX_MEMBER_HEADER];
    if (build_member_header(&entry, plan->level, header) == 0) {
        char what[160];
        snprintf(what, sizeof what, "the name is too long for a level-%d header (%zu bytes in Shift-JIS)",
                 plan->level, m->folder.size() + m->file_name.size());
        tell_problem(plan, shown, what);
        return false;
    }
    return true;
}

/* Walks one folder: its entries sorted by name, each folder's own entry before its
 * content.  Links are followed; a link back to a folder being walked is refused. */
void walk(Plan* plan, const std::string& path, const std::string& relative,
          std::vector<FileIdentity>* ancestors) {
    std::vector<std::string> names;
    if (!platform_list_folder(path.c_str(), add_name, &names)) {
        tell_problem(plan, shown_local((relative.empty() ? path : relative).c_str()), strerror(errno));
        return;
    }
    std::sort(names.begin(), names.end());

    for (const std::string& name : names) {
        PlannedMember m = {};
        m.source = path + "/" + name;
        std::string member_relative = relative + name;
        m.shown = shown_local(member_relative.c_str());
        PathInfo info;
        if (!platform_path_info(m.source.c_str(), &info)) {
            tell_problem(plan, m.shown, strerror(errno));
            continue;
        }
        FileIdentity identity = identity_of(info);
        if (std::find(plan->skipped.begin(), plan->skipped.end(), identity) != plan->skipped.end()) continue;
        m.modified = (time_t)info.modified;
        if (info.is_folder) {
            if (std::find(ancestors->begin(), ancestors->end(), identity) != ancestors->end()) {
                tell_problem(plan, m.shown, "a link back to a folder that holds it");
                continue;
            }
            m.is_folder = true;
            if (!name_member(plan, member_relative, true, &m)) continue;
            plan->members.push_back(m);
            ancestors->push_back(identity);
            walk(plan, m.source, member_relative + "/", ancestors);
            ancestors->pop_back();
        } else if (info.is_file) {
            if (info.size > UINT32_MAX) {
                tell_problem(plan, m.shown, "4 GiB or more: too large for an LHA member");
                continue;
            }
            m.size = info.size;
            if (!name_member(plan, member_relative, false, &m)) continue;
            plan->total_bytes += m.size;
            plan->members.push_back(m);
        } else {
            tell_problem(plan, m.shown, "neither a file nor a folder");
        }
    }
}

// ---- progress ----------------------------------------------------------------

// The bar over the bytes of all files, labelled with the member being packed.
struct Progress {
    ProgressBar bar;
    uint64_t total;
    uint64_t done;          // bytes of the members already packed
    const char* member;
};

void draw_progress(Progress* p, uint64_t member_bytes) {
    if (p->total == 0) return;
    draw_progress_bar(&p->bar, (unsigned)((p->done + member_bytes) * 100 / p->total), p->member);
}

void clear_progress(Progress* p) { clear_progress_bar(&p->bar); }

void on_encoder_progress(void* context, uint64_t bytes_read) {
    draw_progress((Progress*)context, bytes_read);
}

// ---- writing -------------------------------------------------------------------

// Copies `in` to `out` as stored data, with its CRC-16 and size.
EncodeOutcome copy_stored_data(FILE* in, FILE* out, Progress* progress, EncodedMember* result) {
    static uint8_t chunk[COPY_CHUNK];
    uint64_t total = 0;
    running_crc = 0;
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, in)) > 0) {
        update_crc(chunk, (uint32_t)got);
        if (fwrite(chunk, 1, got, out) != got) return ENCODE_WRITE_ERROR;
        total += got;
        if (total > UINT32_MAX) return ENCODE_TOO_LARGE;
        draw_progress(progress, total);
    }
    if (ferror(in)) return ENCODE_READ_ERROR;
    result->original_size = result->packed_size = (uint32_t)total;
    result->crc = running_crc;
    return ENCODED;
}

const char* method_id(unsigned dictionary_bits) {
    switch (dictionary_bits) {
    case 13: return "-lh5-";
    case 15: return "-lh6-";
    case 16: return "-lh7-";
    }
    return "-lh0-";
}

bool write_header(FILE* out, const MemberEntry* entry, int level) {
    uint8_t header[MAX_MEMBER_HEADER];
    unsigned length = build_member_header(entry, level, header);
    return length != 0 && fwrite(header, 1, length, out) == length;
}

const char* outcome_text(EncodeOutcome outcome) {
    switch (outcome) {
    case ENCODE_READ_ERROR: return "read error";
    case ENCODE_WRITE_ERROR: return "cannot write the archive";
    case ENCODE_TOO_LARGE: return "grew to 4 GiB or more while packed: too large for an LHA member";
    case ENCODE_NO_MEMORY: return "out of memory";
    default: return "failed";
    }
}

/* One file: a header with the sizes still open, the data compressed right behind
 * it (or, when that does not make it smaller, stored in its place), then the header
 * again with the sizes and CRC now known. */
bool pack_file(const PlannedMember& m, const PackSettings* settings, FILE* out, Progress* progress,
               uint64_t* original_bytes) {
    FILE* in = fopen(m.source.c_str(), "rb");
    if (in == nullptr) {
        fprintf(stderr, "mavusfx: %s: %s\n", m.shown.c_str(), strerror(errno));
        return false;
    }
    MemberEntry entry = {};
    memcpy(entry.method, method_id(settings->dictionary_bits), 6);
    entry.attribute = ATTRIBUTE_FILE;
    entry.modified = m.modified;
    entry.folder = m.folder.c_str();
    entry.file_name = m.file_name.c_str();
    long header_at = ftell(out);
    bool written = write_header(out, &entry, settings->level);
    long data_at = ftell(out);

    EncodedMember result = {};
    EncodeOutcome outcome = ENCODE_NOT_SMALLER;
    if (written && settings->dictionary_bits != 0 && m.size > 0) {
        EncodeProgress hook = {on_encoder_progress, progress};
        outcome = encode_member(in, out, settings->dictionary_bits, m.size, &hook, &result);
    }
    if (written && outcome == ENCODE_NOT_SMALLER) {
        memcpy(entry.method, "-lh0-", 6);
        if (fseek(in, 0, SEEK_SET) != 0 || fseek(out, data_at, SEEK_SET) != 0) outcome = ENCODE_WRITE_ERROR;
        else outcome = copy_stored_data(in, out, progress, &result);
    }
    fclose(in);
    if (!written) outcome = ENCODE_WRITE_ERROR;
    if (outcome != ENCODED) {
        fprintf(stderr, "mavusfx: %s: %s\n", m.shown.c_str(), outcome_text(outcome));
        return false;
    }
    entry.packed_size = result.packed_size;
    entry.original_size = result.original_size;
    entry.crc = result.crc;
    long data_end = ftell(out);
    if (fseek(out, header_at, SEEK_SET) != 0 || !write_header(out, &entry, settings->level) ||
        fseek(out, data_end, SEEK_SET) != 0) {
        fprintf(stderr, "mavusfx: %s: %s\n", m.shown.c_str(), outcome_text(ENCODE_WRITE_ERROR));
        return false;
    }
    *original_bytes += result.original_size;
    return true;
}

bool plan_folder(const char* folder, Plan* plan) {
    PathInfo info;
    if (!platform_path_info(folder, &info)) {
        fprintf(stderr, "mavusfx: %s: %s\n", shown_local(folder).c_str(), strerror(errno));
        return false;
    }
    if (!info.is_folder) {
        fprintf(stderr, "mavusfx: %s: not a folder\n", shown_local(folder).c_str());
        return false;
    }
    std::vector<FileIdentity> ancestors = {identity_of(info)};
    std::string top = folder;
    while (top.size() > 1 && top.back() == '/') top.pop_back();
    walk(plan, top, "", &ancestors);
    return true;
}

int write_archive(const Plan& plan, FILE* out, const PackSettings* settings, PackTotals* totals) {
    make_crc_table();
    long start = ftell(out);
    Progress progress = {};
    start_progress_bar(&progress.bar, settings->show_progress);
    progress.total = plan.total_bytes;
    PackTotals counted = {};
    for (const PlannedMember& m : plan.members) {
        progress.member = m.shown.c_str();
        if (m.is_folder) {
            MemberEntry entry = {};
            memcpy(entry.method, "-lhd-", 6);
            entry.attribute = ATTRIBUTE_FOLDER;
            entry.modified = m.modified;
            entry.folder = m.folder.c_str();
            entry.file_name = "";
            if (!write_header(out, &entry, plan.level)) {
                clear_progress(&progress);
                fprintf(stderr, "mavusfx: %s: %s\n", m.shown.c_str(), outcome_text(ENCODE_WRITE_ERROR));
                return EXIT_MEMBER_FAILED;
            }
            counted.folders++;
            continue;
        }
        if (!pack_file(m, settings, out, &progress, &counted.original_bytes)) {
            clear_progress(&progress);
            return EXIT_MEMBER_FAILED;
        }
        counted.files++;
        progress.done += m.size;
    }
    clear_progress(&progress);
    // The end of the archive: a 0 where the next header would begin.  A member
    // stored after a longer attempt to compress it may have left bytes behind.
    long end = ftell(out) + 1;
    if (fputc(0, out) == EOF || !platform_truncate(out, end) || ferror(out)) {
        fprintf(stderr, "mavusfx: cannot write the archive: %s\n", strerror(errno));
        return EXIT_MEMBER_FAILED;
    }
    counted.archive_bytes = (uint64_t)(end - start);
    if (totals != nullptr) *totals = counted;
    return EXIT_ALL_GOOD;
}

/* Plans and writes the archive into `out`, leaving out the file `out` is and, when
 * given, the archive it is going to replace. */
int pack_into(const char* folder, FILE* out, const PackSettings* settings, PackTotals* totals,
              const FileIdentity* replaced) {
    Plan plan;
    plan.level = settings->level;
    FileIdentity own;
    if (platform_file_identity(out, own.id)) plan.skipped.push_back(own);
    if (replaced != nullptr) plan.skipped.push_back(*replaced);
    if (!plan_folder(folder, &plan)) return EXIT_USAGE;
    if (plan.problems > 0) {
        fprintf(stderr, "mavusfx: %u file%s cannot be packed: no archive made\n", plan.problems,
                plan.problems == 1 ? "" : "s");
        return EXIT_MEMBER_FAILED;
    }
    return write_archive(plan, out, settings, totals);
}

}  // namespace

int pack_folder_into(const char* folder, FILE* out, const PackSettings* settings, PackTotals* totals,
                     const char* replaced_path) {
    PathInfo existing;
    bool replaces = replaced_path != nullptr && platform_path_info(replaced_path, &existing);
    FileIdentity replaced = replaces ? identity_of(existing) : FileIdentity{};
    return pack_into(folder, out, settings, totals, replaces ? &replaced : nullptr);
}

int pack_folder(const char* folder, const char* archive_path, const PackSettings* settings,
                PackTotals* totals) {
    ReplacingFile out;
    if (!begin_replacing(&out, archive_path)) {
        fprintf(stderr, "mavusfx: %s: cannot create the archive: %s\n", shown_local(archive_path).c_str(),
                strerror(errno));
        return EXIT_USAGE;
    }
    static char out_buffer[1 << 20];
    setvbuf(out.file, out_buffer, _IOFBF, sizeof out_buffer);
    int status = pack_folder_into(folder, out.file, settings, totals, archive_path);
    if (status != EXIT_ALL_GOOD) {
        abandon_replacing(&out);
    } else if (!finish_replacing(&out)) {
        fprintf(stderr, "mavusfx: %s: cannot write the archive: %s\n", shown_local(archive_path).c_str(),
                strerror(errno));
        status = EXIT_MEMBER_FAILED;
    }
    return status;
}
