// Builds the stored ("-lh0-") LHA archives of the Wine end-to-end tests, level-2
// headers, from files or from generated content of a given size:
//
//   stored_archive OUT [--bad-crc NAME] [--over-4gib NAME] NAME=FILE | NAME=@SIZE ...
//
// Member i gets the time stamp 2020-01-01 00:00 UTC plus i hours.  --bad-crc stores
// a wrong CRC-16 in that member's header.  --over-4gib gives that member extended
// header 0x42 with its packed size and an original size 4 GiB larger than its data:
// a member that a reader counting in 32 bits must refuse, not cut.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "tests/support/test_support.h"

static Bytes generated(size_t size, uint32_t seed) {
    Bytes bytes(size);
    uint32_t x = seed * 2654435761u + 1;
    for (size_t i = 0; i < size; i++) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = (uint8_t)x;
    }
    return bytes;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fputs("usage: stored_archive OUT [--bad-crc NAME] [--over-4gib NAME] NAME=FILE|NAME=@SIZE ...\n", stderr);
        return 2;
    }
    std::string bad_crc, over_4gib;
    std::vector<TestMember> members;
    for (int i = 2; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--bad-crc" && i + 1 < argc) {
            bad_crc = argv[++i];
            continue;
        }
        if (a == "--over-4gib" && i + 1 < argc) {
            over_4gib = argv[++i];
            continue;
        }
        size_t equals = a.find('=');
        if (equals == std::string::npos) {
            fprintf(stderr, "stored_archive: %s is not NAME=FILE or NAME=@SIZE\n", a.c_str());
            return 2;
        }
        std::string name = a.substr(0, equals), source = a.substr(equals + 1);
        TestMember m;
        m.level = 2;
        size_t slash = name.rfind('/');
        if (slash != std::string::npos) {
            // The folder field ends in its separator, 0xFF.
            m.folder = name.substr(0, slash + 1);
            for (char& c : m.folder)
                if (c == '/') c = (char)0xFF;
        }
        m.name = slash == std::string::npos ? name : name.substr(slash + 1);
        m.data = source[0] == '@' ? generated(strtoull(source.c_str() + 1, nullptr, 10), (uint32_t)i)
                                  : read_file(source);
        m.raw_time = 1577836800u + 3600u * (uint32_t)members.size();
        if (name == bad_crc) {
            m.crc = (uint16_t)(crc16_of(m.data) ^ 0x5A5A);
            m.crc_given = true;
        }
        if (name == over_4gib) {
            std::string sizes;
            const uint64_t packed = m.data.size(), original = packed + ((uint64_t)1 << 32);
            for (uint64_t v : {packed, original})
                for (int k = 0; k < 8; k++) sizes.push_back((char)(v >> (8 * k)));
            m.extended = {std::make_pair((uint8_t)0x42, sizes)};
        }
        members.push_back(m);
    }
    write_file(argv[1], build_archive(members));
    return 0;
}
