#include "tools/member_name_notes.h"

#include <string.h>

#include "decode/method_table.h"
#include "engine/shift_jis.h"
#include "engine/unsafe_member_path.h"
#include "engine/windows_names.h"
#include "tools/local_names.h"

namespace {

enum { SHOWN_NAMES = 5, FIRST_SLOTS = 1024, BLOCK_SIZE = 1 << 16 };

const char* without_leading_slash(const char* name) { return name[0] == '/' ? name + 1 : name; }

// A name as Windows compares it: without the one leading '/' that extraction drops,
// its letters in one case.
std::string folded_key(const char* name) {
    std::string key(without_leading_slash(name));
    if (!key.empty()) fold_name_case(&key[0], key.size());
    return key;
}

uint32_t hash_of(const std::string& key) {
    uint32_t hash = 2166136261u;
    for (char c : key) hash = (hash ^ (unsigned char)c) * 16777619u;
    return hash;
}

}  // namespace

/* A name is at most PATH_BUFFER_SIZE bytes with its NUL: an entry always fits a block. */
static_assert(4 + PATH_BUFFER_SIZE <= BLOCK_SIZE, "a member's entry fits one block");

uint32_t MemberNameNotes::store(uint32_t number, const char* name) {
    size_t length = strlen(name) + 1;
    if (blocks_.empty() || used_ + 4 + length > BLOCK_SIZE) {
        blocks_.emplace_back(new char[BLOCK_SIZE]);
        used_ = 0;
    }
    char* entry = blocks_.back().get() + used_;
    memcpy(entry, &number, 4);
    memcpy(entry + 4, name, length);
    uint32_t place = (uint32_t)(blocks_.size() - 1) * BLOCK_SIZE + used_;
    used_ += (uint32_t)(4 + length);
    return place;
}

uint32_t MemberNameNotes::number_at(uint32_t place) const {
    uint32_t number;
    memcpy(&number, blocks_[place / BLOCK_SIZE].get() + place % BLOCK_SIZE, 4);
    return number;
}

const char* MemberNameNotes::name_at(uint32_t place) const {
    return blocks_[place / BLOCK_SIZE].get() + place % BLOCK_SIZE + 4;
}

void MemberNameNotes::grow() {
    std::vector<uint32_t> old;
    old.swap(slots_);
    slots_.assign(old.empty() ? (size_t)FIRST_SLOTS : old.size() * 2, 0);
    uint32_t mask = (uint32_t)slots_.size() - 1;
    for (uint32_t slot : old) {
        if (slot == 0) continue;
        uint32_t i = hash_of(folded_key(name_at(slot - 1))) & mask;
        while (slots_[i] != 0) i = (i + 1) & mask;
        slots_[i] = slot;
    }
}

void MemberNameNotes::note(const MemberHeader& header) {
    uint32_t number = ++members_;
    const char* name = header.name;
    if (is_unsafe_member_path(name)) return;
    if (windows_name_problem(name, header.name_length) != nullptr) {
        if (!names_beyond_windows_ || !only_windows_refuses(name, header.name_length)) return;
        if (beyond_windows_.size() < SHOWN_NAMES) beyond_windows_.push_back(name);
        beyond_windows_count_++;
    }
    const MethodRow* method = find_method(header.method);
    if (header.named_as_folder || method == nullptr || method->kind == METHOD_FOLDER) return;

    std::string key = folded_key(name);
    if ((filled_ + 1) * 2 > slots_.size()) grow();
    uint32_t mask = (uint32_t)slots_.size() - 1;
    uint32_t i = hash_of(key) & mask;
    while (slots_[i] != 0 && folded_key(name_at(slots_[i] - 1)) != key) i = (i + 1) & mask;
    uint32_t place = store(number, name);
    // The later member takes the slot: a third member of that name clashes with it.
    if (slots_[i] != 0) clashes_.push_back({slots_[i] - 1, place});
    else filled_++;
    slots_[i] = place + 1;
}

void MemberNameNotes::print(FILE* out) const {
    for (const Clash& clash : clashes_) {
        const char* earlier = name_at(clash.earlier);
        const char* later = name_at(clash.later);
        uint32_t first = number_at(clash.earlier), second = number_at(clash.later);
        bool case_only = strcmp(without_leading_slash(earlier), without_leading_slash(later)) != 0;
        fputs("mavusfx: warning: ", out);
        if (strcmp(earlier, later) == 0)
            fprintf(out, "members %u and %u are both named \"%s\"", first, second, shown_sjis(later).c_str());
        else
            fprintf(out, "members %u \"%s\" and %u \"%s\" %s", first, shown_sjis(earlier).c_str(), second,
                    shown_sjis(later).c_str(),
                    case_only ? "are one file on Windows, which does not tell letter case apart"
                              : "are the same file");
        fprintf(out, "; extracting %sleaves member %u\n", case_only ? "there " : "", second);
    }
    if (beyond_windows_count_ == 0) return;
    fprintf(out, "mavusfx: warning: %u %s Windows cannot hold and would not extract there: ",
            beyond_windows_count_, beyond_windows_count_ == 1 ? "member has a name" : "members have names");
    for (size_t i = 0; i < beyond_windows_.size(); i++)
        fprintf(out, "%s\"%s\"", i == 0 ? "" : ", ", shown_sjis(beyond_windows_[i].c_str()).c_str());
    if (beyond_windows_count_ > beyond_windows_.size())
        fprintf(out, " and %u more", beyond_windows_count_ - (uint32_t)beyond_windows_.size());
    fputc('\n', out);
}
