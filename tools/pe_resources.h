// The resource section of a 32-bit PE image, read into a flat list of resources and
// written back whole: the tree (type, name, language) is laid out anew from the list,
// the section takes the size it needs, and every header field that follows from it
// (the section's sizes, the image size, the initialised-data size, the resource
// directory entry) is set to match.  The section must be the image's last, so that
// growing it moves nothing else; the image still ends where its last section ends.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

// A type or a name in the tree: a number, or a string (UTF-16) when `named`.
struct ResourceKey {
    bool named = false;
    uint16_t number = 0;
    std::u16string name;

    static ResourceKey of(uint16_t number) {
        ResourceKey key;
        key.number = number;
        return key;
    }
    bool is(uint16_t n) const { return !named && number == n; }
};

// The order of the directory entries, which the loader searches by halves: named
// entries first, by their UTF-16 units, then numbers ascending.
bool operator<(const ResourceKey& a, const ResourceKey& b);

struct Resource {
    ResourceKey type, name;
    uint16_t language = 0;
    uint32_t code_page = 0;
    std::vector<uint8_t> data;
};

enum { RESOURCE_ICON = 3, RESOURCE_GROUP_ICON = 14, RESOURCE_VERSION = 16 };

// The resources of `image` (`size` bytes, the whole image).  False, with the reason
// in `problem`, when it is no 32-bit PE image or its resource tree cannot be read.
bool read_resources(const uint8_t* image, uint32_t size, std::vector<Resource>* out, std::string* problem);

// `image` with its resource section replaced by `resources`.  False, with the reason
// in `problem`, when the section cannot be rewritten (not the last section, say).
bool write_resources(const std::vector<uint8_t>& image, const std::vector<Resource>& resources,
                     std::vector<uint8_t>* out, std::string* problem);

// The offset of the checksum field in the optional header, 0 for no PE image.
uint32_t pe_checksum_offset(const uint8_t* head, uint32_t length);

// The PE checksum, as Windows computes it: 16-bit words summed with their carries
// folded back in, over the whole file with its checksum field read as 0, plus the
// file's length.  Fed from the file's start in pieces of even length (the last
// piece may be odd).
struct PeChecksum {
    uint32_t field = 0;  // the checksum field's offset
    uint32_t sum = 0;
    uint64_t length = 0;

    void add(const uint8_t* bytes, uint32_t size);
    uint32_t value() const;
};
