#include "tools/pack/folder_packer.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "decode/crc16.h"
#include "engine/shift_jis.h"
#include "engine/unsafe_member_path.h"
#include "platform/host_services.h"
#include "platform/system_services.h"
#include "tools/pack/exclude_globs.h"
#include "tools/pack/lha_encoder.h"
#include "tools/pack/member_names.h"
#include "tools/pack/member_writer.h"
#include "tools/local_names.h"
#include "tools/progress_bar.h"
#include "tools/replacing_file.h"
#include "tools/tool.h"

const PackSettings DEFAULT_PACK_SETTINGS = {16, 2, true, false, {}};

namespace {

enum { PATH_BUFFER = 4096, COPY_CHUNK = 1 << 16 };

struct FileIdentity {
    uint64_t id[2];  // device and file number
    bool operator==(const FileIdentity& other) const {
        return id[0] == other.id[0] && id[1] == other.id[1];
    }
    bool operator<(const FileIdentity& other) const {
        return id[0] != other.id[0] ? id[0] < other.id[0] : id[1] < other.id[1];
    }
    bool known() const { return (id[0] | id[1]) != 0; }  // Windows may not tell
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
    bool has_mode;          // a file's Unix permissions are known
    uint16_t mode;
};

struct ExcludePattern {
    std::string glob;   // in NFC, as the names it is matched on
    bool folders_only;  // it ended in '/'
};

struct Plan {
    int level;
    bool follow_links;
    std::vector<ExcludePattern> exclude;
    int64_t newest_time = -1;           // SOURCE_DATE_EPOCH, -1 when not set
    std::string top_real;               // the packed folder with its links resolved
    std::vector<PlannedMember> members;
    std::vector<FileIdentity> skipped;  // the archive being written, and the one it replaces
    std::map<FileIdentity, std::string> folders_packed;  // each real folder once
    uint64_t total_bytes = 0;
    unsigned problems = 0;
    unsigned left_out = 0;
};

void tell_problem(Plan* plan, const std::string& shown, const std::string& what) {
    fprintf(stderr, "mavusfx: %s: %s\n", shown.c_str(), what.c_str());
    plan->problems++;
}

void leave_out(Plan* plan, const std::string& shown, const std::string& why) {
    fprintf(stderr, "mavusfx: %s: left out: %s\n", shown.c_str(), why.c_str());
    plan->left_out++;
}

bool excluded(const Plan& plan, const std::string& relative, const std::string& name, bool is_folder) {
    for (const ExcludePattern& e : plan.exclude) {
        if (e.folders_only && !is_folder) continue;
        if (glob_matches(e.glob.c_str(), relative.c_str(), true) || glob_matches(e.glob.c_str(), name.c_str(), false))
            return true;
    }
    return false;
}

/* Whether `real` (links resolved) lies below the packed folder. */
bool inside_top(const Plan& plan, const std::string& real) {
    const std::string& top = plan.top_real;
    if (real.size() <= top.size() || real.compare(0, top.size(), top) != 0) return false;
    char after = real[top.size()];
    char last = top.back();
    return after == '/' || after == '\\' || last == '/' || last == '\\';
}

/* Why a link is not followed when links are not followed on the whole, or nullptr
 * for a link to a file inside the folder: that is packed as the file. */
const char* link_left_out(const Plan& plan, const PlannedMember& m, const PathInfo& info, bool examined) {
    if (!examined) return "a symbolic link that leads nowhere";
    if (info.is_folder) return "a symbolic link to a folder (--follow-symlinks follows it)";
    char real[PATH_BUFFER];
    if (!platform_real_path(m.source.c_str(), real, sizeof real) || !inside_top(plan, real))
        return "a symbolic link to something outside the folder (--follow-symlinks packs it)";
    return nullptr;
}

/* The member's name: the path below the packed folder (NFC) in Shift-JIS, split
 * into its folder part and file name.  A name is refused when member_names.h does
 * not give it one, when the extractor would refuse it as leaving the destination,
 * or when it does not fit the header level. */
bool name_member(Plan* plan, const std::string& relative, bool is_folder, PlannedMember* m) {
    const std::string& shown = m->shown;
    std::string path;
    std::string problem = shift_jis_name(relative, &path);
    if (!problem.empty()) {
        tell_problem(plan, shown, problem);
        return false;
    }
    if (is_unsafe_member_path(path.c_str())) {
        tell_problem(plan, shown, "the name would be refused when extracted (it reads as an absolute path)");
        return false;
    }
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
    entry.has_mode = m->has_mode;  // its header takes room too
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

/* A Shift-JIS name with its ASCII letters in upper case (trail bytes kept): two
 * names of one folder that give the same are one name on Windows. */
std::string folded_name(std::string sjis) {
    fold_name_case(&sjis[0], sjis.size());
    return sjis;
}

/* False, with the problem told, when another name of the folder became the same
 * member name (two normalisation forms of one name, a look-alike and its
 * code-page-932 form) or differs from it only in the case of its letters. */
struct TakenName {
    std::string sjis;
    std::string shown;
};

bool unique_in_folder(Plan* plan, const PlannedMember& m, std::map<std::string, TakenName>* names) {
    std::string sjis = m.is_folder ? m.folder.substr(0, m.folder.size() - 1) : m.folder + m.file_name;
    auto taken = names->emplace(folded_name(sjis), TakenName{sjis, m.shown});
    if (taken.second) return true;
    const TakenName& other = taken.first->second;
    if (other.sjis == sjis)
        tell_problem(plan, m.shown, "the same name in the archive as " + other.shown);
    else
        tell_problem(plan, m.shown, "differs from " + other.shown +
                                        " only in letter case, and Windows would keep one of them");
    return false;
}

/* The times a header of the plan's level holds, and what the readers give back
 * whole: levels 0 and 1 keep local MS-DOS stamps from 1980 (the last day is kept
 * within what seconds since 1970 in 32 bits reach in any time zone), level 2 keeps
 * those 32-bit seconds.  A time outside is stored at the nearest end, with a word. */
time_t storable_time(const Plan& plan, const std::string& shown, time_t modified) {
    const int64_t DOS_FIRST = 315532800 + 14 * 3600;  // 1980-01-01, east of UTC too
    const int64_t DOS_LAST = 4294771198 - 14 * 3600;  // 2106-02-06, west of UTC too
    int64_t first = plan.level == 2 ? 0 : DOS_FIRST, last = plan.level == 2 ? (int64_t)UINT32_MAX : DOS_LAST;
    int64_t t = (int64_t)modified;
    if (t >= first && t <= last) return modified;
    time_t stored = (time_t)(t < first ? first : last);
    char when[16], kept[16];
    const struct tm* parts = gmtime(&modified);
    if (parts == nullptr || strftime(when, sizeof when, "%Y-%m-%d", parts) == 0)
        snprintf(when, sizeof when, "%lld", (long long)t);
    parts = gmtime(&stored);
    if (parts == nullptr || strftime(kept, sizeof kept, "%Y-%m-%d", parts) == 0) kept[0] = 0;
    fprintf(stderr, "mavusfx: warning: %s: dated %s, which a level-%d header cannot hold; stored as %s\n",
            shown.c_str(), when, plan.level, kept);
    return stored;
}

struct ListedName {
    std::string raw;       // as the file system has it
    std::string composed;  // in NFC: what the member is named and sorted by
};

/* Walks one folder: its entries sorted by their NFC names, each folder's own entry
 * before its content.  `relative` is the folder's path below the packed one in NFC,
 * `shown` the same as the file system has it, each with a trailing '/' or empty. */
void walk(Plan* plan, const std::string& path, const std::string& relative, const std::string& shown,
          std::vector<FileIdentity>* ancestors) {
    std::vector<std::string> raw_names;
    if (!platform_list_folder(path.c_str(), add_name, &raw_names)) {
        tell_problem(plan, shown.empty() ? shown_local(path.c_str()) : shown, strerror(errno));
        return;
    }
    std::vector<ListedName> names;
    for (const std::string& raw : raw_names) {
        ListedName n = {raw, ""};
        if (!composed_name(raw, &n.composed)) {
            tell_problem(plan, shown_local((shown + raw).c_str()), "the name is not UTF-8 text");
            continue;
        }
        names.push_back(n);
    }
    std::sort(names.begin(), names.end(), [](const ListedName& a, const ListedName& b) {
        return a.composed != b.composed ? a.composed < b.composed : a.raw < b.raw;
    });

    std::map<std::string, TakenName> member_names;
    for (const ListedName& name : names) {
        PlannedMember m = {};
        m.source = path + "/" + name.raw;
        m.shown = shown_local((shown + name.raw).c_str());
        std::string member_relative = relative + name.composed;
        if (excluded(*plan, member_relative, name.composed, false)) continue;
        PathInfo info = {};
        bool examined = platform_path_info(m.source.c_str(), &info);
        bool followed = !info.is_link || plan->follow_links;
        if (!examined && followed) {
            tell_problem(plan, m.shown, strerror(errno));
            continue;
        }
        FileIdentity identity = identity_of(info);
        if (examined && std::find(plan->skipped.begin(), plan->skipped.end(), identity) != plan->skipped.end())
            continue;
        if (!followed) {
            if (const char* why = link_left_out(*plan, m, info, examined)) {
                leave_out(plan, m.shown, why);
                continue;
            }
        }
        m.modified = (time_t)info.modified;
        if (plan->newest_time >= 0 && info.modified > plan->newest_time) m.modified = (time_t)plan->newest_time;
        m.modified = storable_time(*plan, m.shown, m.modified);
        if (info.is_folder) {
            if (excluded(*plan, member_relative, name.composed, true)) continue;
            if (std::find(ancestors->begin(), ancestors->end(), identity) != ancestors->end()) {
                tell_problem(plan, m.shown, "a link back to a folder that holds it");
                continue;
            }
            auto packed = plan->folders_packed.find(identity);
            if (identity.known() && packed != plan->folders_packed.end()) {
                leave_out(plan, m.shown, "the same folder as " + packed->second + ", which is packed");
                continue;
            }
            m.is_folder = true;
            if (!name_member(plan, member_relative, true, &m) || !unique_in_folder(plan, m, &member_names))
                continue;
            if (identity.known()) plan->folders_packed[identity] = m.shown;
            plan->members.push_back(m);
            ancestors->push_back(identity);
            walk(plan, m.source, member_relative + "/", m.shown + "/", ancestors);
            ancestors->pop_back();
        } else if (info.is_file) {
            if (info.size > UINT32_MAX) {
                tell_problem(plan, m.shown, "4 GiB or more: too large for an LHA member");
                continue;
            }
            m.size = info.size;
            m.has_mode = info.has_mode;
            m.mode = (uint16_t)(info.mode & 0777);
            if (!name_member(plan, member_relative, false, &m) || !unique_in_folder(plan, m, &member_names))
                continue;
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
    uint16_t crc = 0;
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, in)) > 0) {
        crc = crc16(crc, chunk, (uint32_t)got);
        if (fwrite(chunk, 1, got, out) != got) return ENCODE_WRITE_ERROR;
        total += got;
        if (total > UINT32_MAX) return ENCODE_TOO_LARGE;
        draw_progress(progress, total);
    }
    if (ferror(in)) return ENCODE_READ_ERROR;
    result->original_size = result->packed_size = (uint32_t)total;
    result->crc = crc;
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
    case ENCODE_TOO_LARGE: return "grew to 4 GiB or more while packed: too large for an LHA member";
    case ENCODE_NO_MEMORY: return "out of memory";
    default: return "failed";
    }
}

/* A write to the archive failed: that is the output's fault, not the file's, and
 * the caller names the output with the system's reason. */
bool output_failed(PackTotals* counted, int error) {
    counted->write_error = error != 0 ? error : EIO;
    return false;
}

/* One file: a header with the sizes still open, the data compressed right behind
 * it (or, when that does not make it smaller, stored in its place), then the header
 * again with the sizes and CRC now known. */
bool pack_file(const PlannedMember& m, const PackSettings* settings, FILE* out, Progress* progress,
               PackTotals* counted) {
    FILE* in = fopen(m.source.c_str(), "rb");
    if (in == nullptr) {
        fprintf(stderr, "mavusfx: %s: %s\n", m.shown.c_str(), strerror(errno));
        return false;
    }
    MemberEntry entry = {};
    memcpy(entry.method, method_id(settings->dictionary_bits), 6);
    entry.attribute = ATTRIBUTE_FILE;
    entry.has_mode = m.has_mode;
    entry.mode = m.mode;
    entry.modified = m.modified;
    entry.folder = m.folder.c_str();
    entry.file_name = m.file_name.c_str();
    FileOffset header_at = platform_tell(out);
    bool written = write_header(out, &entry, settings->level);
    FileOffset data_at = platform_tell(out);

    EncodedMember result = {};
    EncodeOutcome outcome = ENCODE_NOT_SMALLER;
    errno = 0;
    if (written && settings->dictionary_bits != 0 && m.size > 0) {
        EncodeProgress hook = {on_encoder_progress, progress};
        outcome = encode_member(in, out, settings->dictionary_bits, m.size, &hook, &result);
    }
    if (written && outcome == ENCODE_NOT_SMALLER) {
        memcpy(entry.method, "-lh0-", 6);
        if (fseek(in, 0, SEEK_SET) != 0 || platform_seek(out, data_at, SEEK_SET) != 0) outcome = ENCODE_WRITE_ERROR;
        else outcome = copy_stored_data(in, out, progress, &result);
    }
    if (!written) outcome = ENCODE_WRITE_ERROR;
    int error = errno;
    fclose(in);
    if (outcome == ENCODE_WRITE_ERROR) return output_failed(counted, error);
    if (outcome != ENCODED) {
        fprintf(stderr, "mavusfx: %s: %s\n", m.shown.c_str(), outcome_text(outcome));
        return false;
    }
    entry.packed_size = result.packed_size;
    entry.original_size = result.original_size;
    entry.crc = result.crc;
    FileOffset data_end = platform_tell(out);
    if (platform_seek(out, header_at, SEEK_SET) != 0 || !write_header(out, &entry, settings->level) ||
        platform_seek(out, data_end, SEEK_SET) != 0)
        return output_failed(counted, errno);
    counted->original_bytes += result.original_size;
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
    char real[PATH_BUFFER];
    if (!platform_real_path(folder, real, sizeof real)) {
        fprintf(stderr, "mavusfx: %s: %s\n", shown_local(folder).c_str(), strerror(errno));
        return false;
    }
    plan->top_real = real;
    std::vector<FileIdentity> ancestors = {identity_of(info)};
    if (ancestors[0].known()) plan->folders_packed[ancestors[0]] = folder;
    std::string top = folder;
    while (top.size() > 1 && top.back() == '/') top.pop_back();
    walk(plan, top, "", "", &ancestors);
    return true;
}

/* SOURCE_DATE_EPOCH: unset or empty, no limit; otherwise decimal seconds since 1970. */
bool read_source_date_epoch(int64_t* newest) {
    const char* text = getenv("SOURCE_DATE_EPOCH");
    *newest = -1;
    if (text == nullptr || text[0] == 0) return true;
    char* end = nullptr;
    errno = 0;
    long long value = strtoll(text, &end, 10);
    if (errno != 0 || *end != 0 || value < 0 || text[0] < '0' || text[0] > '9') {
        fprintf(stderr, "mavusfx: SOURCE_DATE_EPOCH is not a number of seconds since 1970: \"%s\"\n", text);
        return false;
    }
    *newest = value;
    return true;
}

/* The patterns in NFC like the names they are matched on; a trailing '/' makes a
 * pattern for folders. */
std::vector<ExcludePattern> exclude_patterns(const std::vector<std::string>& globs) {
    std::vector<ExcludePattern> patterns;
    for (const std::string& glob : globs) {
        ExcludePattern p = {glob, false};
        composed_name(glob, &p.glob);  // a pattern that is not UTF-8 is matched as it is
        while (p.glob.size() > 1 && p.glob.back() == '/') {
            p.glob.pop_back();
            p.folders_only = true;
        }
        patterns.push_back(p);
    }
    return patterns;
}

int write_archive(const Plan& plan, FILE* out, const PackSettings* settings, PackTotals* totals) {
    make_crc_table();
    FileOffset start = platform_tell(out);
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
                output_failed(&counted, errno);
                if (totals != nullptr) *totals = counted;
                return EXIT_MEMBER_FAILED;
            }
            counted.folders++;
            continue;
        }
        if (!pack_file(m, settings, out, &progress, &counted)) {
            clear_progress(&progress);
            if (totals != nullptr) *totals = counted;
            return EXIT_MEMBER_FAILED;
        }
        counted.files++;
        progress.done += m.size;
    }
    clear_progress(&progress);
    // The end of the archive: a 0 where the next header would begin.  A member
    // stored after a longer attempt to compress it may have left bytes behind.
    FileOffset end = platform_tell(out) + 1;
    if (fputc(0, out) == EOF || !platform_truncate(out, end) || ferror(out)) {
        output_failed(&counted, errno);
        if (totals != nullptr) *totals = counted;
        return EXIT_MEMBER_FAILED;
    }
    counted.archive_bytes = (uint64_t)(end - start);
    counted.left_out = plan.left_out;
    if (totals != nullptr) *totals = counted;
    return EXIT_ALL_GOOD;
}

/* Plans and writes the archive into `out`, leaving out the file `out` is and, when
 * given, the archive it is going to replace. */
int pack_into(const char* folder, FILE* out, const PackSettings* settings, PackTotals* totals,
              const FileIdentity* replaced) {
    Plan plan;
    plan.level = settings->level;
    plan.follow_links = settings->follow_links;
    plan.exclude = exclude_patterns(settings->exclude);
    if (!read_source_date_epoch(&plan.newest_time)) return EXIT_USAGE;
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
    std::string problem;
    if (!begin_replacing(&out, archive_path, &problem)) {
        tell_output_problem(out, problem);
        return EXIT_USAGE;
    }
    static char out_buffer[1 << 20];
    setvbuf(out.file, out_buffer, _IOFBF, sizeof out_buffer);
    PackTotals counted = {};
    int status = pack_folder_into(folder, out.file, settings, &counted, out.target.c_str());
    if (status != EXIT_ALL_GOOD) {
        abandon_replacing(&out);
        if (counted.write_error != 0) tell_output_problem(out, strerror(counted.write_error));
    } else if (!finish_replacing(&out)) {
        tell_output_problem(out, strerror(errno));
        status = EXIT_MEMBER_FAILED;
    }
    if (totals != nullptr) *totals = counted;
    return status;
}
