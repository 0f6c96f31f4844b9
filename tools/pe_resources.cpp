#include "tools/pe_resources.h"

#include <string.h>

#include <map>

#include "decode/little_endian.h"

namespace {

void put16(uint8_t* p, uint32_t v) {
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}
void put32(uint8_t* p, uint32_t v) {
    put16(p, v & 0xFFFF);
    put16(p + 2, v >> 16);
}
uint32_t aligned(uint32_t value, uint32_t alignment) { return (value + alignment - 1) / alignment * alignment; }

/* The headers of a PE32 image: the optional header (magic 0x10B) and its data
 * directories 96 bytes in, the section table after it, 40 bytes a section. */
struct PeLayout {
    uint32_t optional = 0, sections = 0, section_count = 0;
    uint32_t resource_rva = 0, resource_size = 0;
    int resource_section = -1;  // the section the resource directory lies in

    uint32_t section(int i) const { return sections + 40 * (uint32_t)i; }
};

bool read_layout(const uint8_t* image, uint32_t size, PeLayout* pe, std::string* problem) {
    *problem = "is not a 32-bit Windows program";
    if (size < 0x40 || image[0] != 'M' || image[1] != 'Z') return false;
    uint32_t signature = le32_at(image + 0x3C);
    if (signature > size - 24 || le32_at(image + signature) != 0x00004550) return false;
    pe->optional = signature + 24;
    uint32_t optional_size = le16_at(image + signature + 20);
    pe->section_count = le16_at(image + signature + 6);
    pe->sections = pe->optional + optional_size;
    if (optional_size < 96 + 3 * 8 || pe->sections > size || (size - pe->sections) / 40 < pe->section_count ||
        le16_at(image + pe->optional) != 0x10B || le32_at(image + pe->optional + 92) < 3)
        return false;
    pe->resource_rva = le32_at(image + pe->optional + 96 + 2 * 8);
    pe->resource_size = le32_at(image + pe->optional + 96 + 2 * 8 + 4);
    for (uint32_t i = 0; i < pe->section_count; i++) {
        const uint8_t* s = image + pe->section(i);
        uint32_t address = le32_at(s + 12), extent = le32_at(s + 8) > le32_at(s + 16) ? le32_at(s + 8) : le32_at(s + 16);
        if (pe->resource_rva >= address && pe->resource_rva - address < extent) pe->resource_section = (int)i;
    }
    problem->clear();
    return true;
}

/* The resource tree, read with every offset checked against the section: a
 * directory (16 bytes, the counts of named and numbered entries at 12 and 14) and
 * its entries of 8 bytes, a name (or number) and an offset, the high bit of which
 * marks a directory below; three levels (type, name, language), then the data
 * entries (the data's address, its size and code page). */
struct TreeReader {
    const uint8_t* base;  // where the resource directory begins
    uint32_t size;        // the bytes of the section from there
    uint32_t rva;         // the directory's address
    std::vector<Resource>* out;
    std::string* problem;

    bool fail(const char* why) {
        *problem = why;
        return false;
    }

    // Entries may share what lies below them, so a small damaged tree can name
    // more directories and data than any program holds; past these it is taken for
    // damaged rather than walked or copied out.
    enum { MOST_VISITS = 16384, MOST_BYTES = 64 * 1024 * 1024 };
    uint32_t visits = 0;
    uint64_t bytes = 0;

    bool key_at(uint32_t field, ResourceKey* key) {
        uint32_t value = le32_at(base + field);
        key->named = (value & 0x80000000u) != 0;
        if (!key->named) {
            if (value > 0xFFFF) return fail("has a resource number past 65535");
            key->number = (uint16_t)value;
            return true;
        }
        uint32_t at = value & 0x7FFFFFFF;
        if (at > size - 2 || (size - at - 2) / 2 < le16_at(base + at))
            return fail("has a resource name outside its section");
        key->name.clear();
        for (uint32_t i = 0; i < le16_at(base + at); i++) key->name += (char16_t)le16_at(base + at + 2 + 2 * i);
        return true;
    }

    // The directory at `at`, on `level` 0 (types), 1 (names) or 2 (languages).
    bool directory(uint32_t at, int level, Resource* path) {
        if (at > size - 16) return fail("has a resource directory outside its section");
        if (++visits > MOST_VISITS) return fail("has more resources than a program holds");
        uint32_t count = le16_at(base + at + 12) + le16_at(base + at + 14);
        if ((size - at - 16) / 8 < count) return fail("has a resource directory outside its section");
        for (uint32_t i = 0; i < count; i++) {
            uint32_t entry = at + 16 + 8 * i, value = le32_at(base + entry + 4);
            ResourceKey key;
            if (!key_at(entry, &key)) return false;
            bool below = (value & 0x80000000u) != 0;
            if (below != (level < 2)) return fail("has a resource tree that is not three levels deep");
            if (level == 0) path->type = key;
            else if (level == 1) path->name = key;
            else if (key.named) return fail("has a resource language that is a name");
            else path->language = key.number;
            if (below ? !directory(value & 0x7FFFFFFF, level + 1, path) : !leaf(value, *path)) return false;
        }
        return true;
    }

    bool leaf(uint32_t at, Resource resource) {
        if (at > size - 16) return fail("has a resource entry outside its section");
        uint32_t address = le32_at(base + at), length = le32_at(base + at + 4);
        if (address < rva || address - rva > size || size - (address - rva) < length)
            return fail("has resource data outside its resource section");
        bytes += length;
        if (++visits > MOST_VISITS || bytes > MOST_BYTES) return fail("has more resources than a program holds");
        resource.code_page = le32_at(base + at + 8);
        resource.data.assign(base + (address - rva), base + (address - rva) + length);
        out->push_back(resource);
        return true;
    }
};

typedef std::map<uint16_t, const Resource*> Languages;
typedef std::map<ResourceKey, Languages> Names;
typedef std::map<ResourceKey, Names> Types;

/* The tree laid out as the loader reads it: every directory (the root, the types',
 * the names'), then the data entries, the names' strings, and the data, each
 * piece of data at a multiple of 8. */
struct TreeWriter {
    std::vector<uint8_t> bytes;
    uint32_t rva;
    std::map<std::u16string, uint32_t> strings;  // where each name's string lies

    uint32_t take(uint32_t length) {
        uint32_t at = (uint32_t)bytes.size();
        bytes.resize(at + length);
        return at;
    }
    uint32_t directory(size_t entries) {
        uint32_t at = take(16 + 8 * (uint32_t)entries);
        put16(&bytes[at + 14], (uint32_t)entries);
        return at;
    }
    // Named entries come first; a directory counts them apart from the numbered.
    void entry(uint32_t directory, uint32_t index, const ResourceKey& key, uint32_t value) {
        uint32_t at = directory + 16 + 8 * index;
        if (key.named) {
            put16(&bytes[directory + 12], le16_at(&bytes[directory + 12]) + 1);
            put16(&bytes[directory + 14], le16_at(&bytes[directory + 14]) - 1);
            strings[key.name] = 0;
        }
        put32(&bytes[at], key.named ? 0x80000000u : key.number);  // the name's offset comes later
        put32(&bytes[at + 4], value);
    }

    std::vector<uint8_t> lay_out(const Types& types) {
        std::vector<std::pair<uint32_t, const Names*>> name_directories;
        std::vector<std::pair<uint32_t, const Languages*>> language_directories;
        std::vector<std::pair<uint32_t, const ResourceKey*>> named_entries;
        uint32_t root = directory(types.size()), index = 0;
        for (const auto& type : types) {
            uint32_t below = directory(type.second.size());
            entry(root, index++, type.first, 0x80000000u | below);
            if (type.first.named) named_entries.push_back({root + 16 + 8 * (index - 1), &type.first});
            name_directories.push_back({below, &type.second});
        }
        for (const auto& d : name_directories) {
            index = 0;
            for (const auto& name : *d.second) {
                uint32_t below = directory(name.second.size());
                entry(d.first, index++, name.first, 0x80000000u | below);
                if (name.first.named) named_entries.push_back({d.first + 16 + 8 * (index - 1), &name.first});
                language_directories.push_back({below, &name.second});
            }
        }
        std::vector<std::pair<uint32_t, const Resource*>> leaves;
        for (const auto& d : language_directories) {
            index = 0;
            for (const auto& language : *d.second) {
                uint32_t data_entry = take(16);
                entry(d.first, index++, ResourceKey::of(language.first), data_entry);
                leaves.push_back({data_entry, language.second});
            }
        }
        for (auto& s : strings) {
            s.second = take(2 + 2 * (uint32_t)s.first.size());
            put16(&bytes[s.second], (uint32_t)s.first.size());
            for (size_t i = 0; i < s.first.size(); i++) put16(&bytes[s.second + 2 + 2 * i], s.first[i]);
        }
        for (const auto& named : named_entries)
            put32(&bytes[named.first], 0x80000000u | strings[named.second->name]);
        for (const auto& leaf : leaves) {
            const std::vector<uint8_t>& data = leaf.second->data;
            take(aligned((uint32_t)bytes.size(), 8) - (uint32_t)bytes.size());
            uint32_t at = take((uint32_t)data.size());
            if (!data.empty()) memcpy(&bytes[at], data.data(), data.size());
            put32(&bytes[leaf.first], rva + at);
            put32(&bytes[leaf.first + 4], (uint32_t)data.size());
            put32(&bytes[leaf.first + 8], leaf.second->code_page);
        }
        return bytes;
    }
};

}  // namespace

bool operator<(const ResourceKey& a, const ResourceKey& b) {
    if (a.named != b.named) return a.named;
    return a.named ? a.name < b.name : a.number < b.number;
}

bool read_resources(const uint8_t* image, uint32_t size, std::vector<Resource>* out, std::string* problem) {
    out->clear();
    PeLayout pe;
    if (!read_layout(image, size, &pe, problem)) return false;
    if (pe.resource_rva == 0) return true;
    if (pe.resource_section < 0) return (*problem = "has a resource directory in no section"), false;
    const uint8_t* s = image + pe.section(pe.resource_section);
    uint32_t into = pe.resource_rva - le32_at(s + 12), raw = le32_at(s + 20), raw_size = le32_at(s + 16);
    if (raw > size || size - raw < raw_size || into >= raw_size || raw_size - into < 16)
        return (*problem = "has a resource section past its end"), false;
    TreeReader reader = {image + raw + into, raw_size - into, pe.resource_rva, out, problem};
    Resource path;
    return reader.directory(0, 0, &path);
}

/* The resource section must be the last in the file and in memory, begin with the
 * resource directory, and end where the image ends: then it can take any size and
 * nothing else moves. */
bool write_resources(const std::vector<uint8_t>& image, const std::vector<Resource>& resources,
                     std::vector<uint8_t>* out, std::string* problem) {
    PeLayout pe;
    uint32_t size = (uint32_t)image.size();
    if (!read_layout(image.data(), size, &pe, problem)) return false;
    if (pe.resource_rva == 0 || pe.resource_section < 0) return (*problem = "has no resource section"), false;
    uint32_t header = pe.section(pe.resource_section);
    const uint8_t* s = image.data() + header;
    uint32_t address = le32_at(s + 12), raw = le32_at(s + 20);
    for (uint32_t i = 0; i < pe.section_count; i++) {
        const uint8_t* other = image.data() + pe.section(i);
        if ((int)i != pe.resource_section && (le32_at(other + 12) > address || le32_at(other + 20) > raw))
            return (*problem = "has a section after its resources"), false;
    }
    if (pe.resource_rva != address || raw + le32_at(s + 16) != size || raw > size)
        return (*problem = "has its resources elsewhere than in a last section of their own"), false;

    Types types;
    for (const Resource& r : resources) {
        const Resource*& place = types[r.type][r.name][r.language];
        if (place != nullptr) return (*problem = "would hold one resource twice"), false;
        place = &r;
    }
    TreeWriter writer;
    writer.rva = address;
    std::vector<uint8_t> tree = writer.lay_out(types);
    uint32_t file_alignment = le32_at(image.data() + pe.optional + 36);
    uint32_t section_alignment = le32_at(image.data() + pe.optional + 32);
    if (file_alignment == 0 || section_alignment == 0) return (*problem = "has no alignment"), false;
    uint32_t old_raw_size = le32_at(s + 16), new_raw_size = aligned((uint32_t)tree.size(), file_alignment);

    out->assign(image.begin(), image.begin() + raw);
    out->insert(out->end(), tree.begin(), tree.end());
    out->resize(raw + new_raw_size, 0);
    uint8_t* o = out->data();
    put32(o + header + 8, (uint32_t)tree.size());
    put32(o + header + 16, new_raw_size);
    if (le32_at(s + 36) & 0x40)  // initialised data
        put32(o + pe.optional + 8, le32_at(o + pe.optional + 8) - old_raw_size + new_raw_size);
    put32(o + pe.optional + 56, aligned(address + (uint32_t)tree.size(), section_alignment));
    put32(o + pe.optional + 96 + 2 * 8 + 4, (uint32_t)tree.size());
    put32(o + pe.optional + 64, 0);  // the checksum: none until the whole file is known
    return true;
}

uint32_t pe_checksum_offset(const uint8_t* head, uint32_t length) {
    PeLayout pe;
    std::string problem;
    return read_layout(head, length, &pe, &problem) ? pe.optional + 64 : 0;
}

void PeChecksum::add(const uint8_t* bytes, uint32_t size) {
    for (uint32_t i = 0; i < size; i += 2, length += 2) {
        uint32_t word = bytes[i] | (i + 1 < size ? bytes[i + 1] << 8 : 0);
        if (length == field || length == field + 2) word = 0;
        sum += word;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    if (size & 1) length--;
}

uint32_t PeChecksum::value() const { return ((sum & 0xFFFF) + (sum >> 16)) + (uint32_t)length; }
