// Members of Macintosh encoders in MacBinary form: which headers count as
// MacBinary, and what the host tool writes of them.
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/macbinary.h"
#include "tests/support/test_support.h"

namespace {

void put_be32(Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) b[at + (size_t)i] = (uint8_t)(v >> (24 - 8 * i));
}

// A MacBinary file: the header, the data fork padded to 128 bytes, the resource
// fork padded too (unless `pad_last` is false and it is the last fork).
Bytes macbinary(const Bytes& data, const Bytes& resource, bool pad_last = true) {
    Bytes file(MACBINARY_HEADER_SIZE, 0);
    const char name[] = "Read Me";
    file[1] = (uint8_t)(sizeof name - 1);
    memcpy(&file[2], name, sizeof name - 1);
    memcpy(&file[65], "TEXTttxt", 8);
    put_be32(file, 83, (uint32_t)data.size());
    put_be32(file, 87, (uint32_t)resource.size());
    file.insert(file.end(), data.begin(), data.end());
    if (pad_last || !resource.empty()) file.resize((file.size() + 127) / 128 * 128, 0);
    file.insert(file.end(), resource.begin(), resource.end());
    if (pad_last) file.resize((file.size() + 127) / 128 * 128, 0);
    return file;
}

uint64_t resource_length;

bool forks_of(const uint8_t* header, uint64_t size, uint64_t* data_length) {
    return macbinary_forks(header, size, data_length, &resource_length);
}

TEST(MacBinaryHeader, WhatCountsAsMacBinary) {
    Bytes data = bytes_of("hello\r"), resource(300, 'R');
    Bytes good = macbinary(data, resource);
    uint64_t length = 0;
    EXPECT_TRUE(forks_of(good.data(), good.size(), &length));
    EXPECT_EQ(length, data.size());
    EXPECT_EQ(resource_length, resource.size());
    // The last fork may end unpadded, and either fork may be empty.
    Bytes unpadded = macbinary(data, {}, false);
    EXPECT_EQ(unpadded.size(), 128u + data.size());
    EXPECT_TRUE(forks_of(unpadded.data(), unpadded.size(), &length));
    Bytes resource_only = macbinary({}, resource, false);
    EXPECT_TRUE(forks_of(resource_only.data(), resource_only.size(), &length));
    EXPECT_EQ(length, 0u);

    struct Spoiled { const char* what; size_t at; uint8_t value; };
    for (const Spoiled& s : {Spoiled{"byte 0", 0, 1}, Spoiled{"no name", 1, 0}, Spoiled{"name of 64", 1, 64},
                             Spoiled{"byte 74", 74, 1}, Spoiled{"byte 82", 82, 1}}) {
        SCOPED_TRACE(s.what);
        Bytes spoiled = good;
        spoiled[s.at] = s.value;
        EXPECT_FALSE(forks_of(spoiled.data(), spoiled.size(), &length));
    }
    // Forks that run past the member, by one byte.
    Bytes long_data = good;
    put_be32(long_data, 83, (uint32_t)(good.size() - 128 + 1));
    EXPECT_FALSE(forks_of(long_data.data(), long_data.size(), &length));
    Bytes long_resource = good;
    put_be32(long_resource, 87, 385);  // after 128 of header and 128 of data fork, 384 remain
    EXPECT_FALSE(forks_of(long_resource.data(), long_resource.size(), &length));
    put_be32(long_resource, 87, 384);
    EXPECT_TRUE(forks_of(long_resource.data(), long_resource.size(), &length));
    // A data fork whose padding would not fit before the resource fork.
    Bytes tight = macbinary(data, {}, false);
    put_be32(tight, 87, 1);
    tight.push_back('R');
    EXPECT_FALSE(forks_of(tight.data(), tight.size(), &length));
    // A member shorter than the header itself.
    EXPECT_FALSE(forks_of(good.data(), 127, &length));
    uint32_t huge = 0xFFFFFFFFu;
    put_be32(long_data, 83, huge);
    EXPECT_FALSE(forks_of(long_data.data(), long_data.size(), &length));
}

TestMember mac_member(const std::string& name, const Bytes& stored, uint8_t os_id = 'm') {
    TestMember m;
    m.level = 2;
    m.os_id = os_id;
    m.name = name;
    m.data = stored;
    return m;
}

// The data fork alone by default, the stored bytes whole with --keep-macbinary, and
// whole too whatever is not sound MacBinary of OS id 'm', or has a resource fork
// (which a file here cannot hold: nothing is lost).
TEST(MacBinaryMembers, DataForkAloneOrTheWholeWrapper) {
    ScratchFolder scratch;
    Bytes data = bytes_of("Mac text\rsecond line\r");
    Bytes wrapped = macbinary(data, {});
    Bytes with_resource = macbinary(data, Bytes(1000, 'R'));
    Bytes spoiled = wrapped;
    spoiled[0] = 1;
    Bytes too_long = wrapped;
    put_be32(too_long, 83, 5000);
    TestMember level1 = mac_member("level1", wrapped);
    level1.level = 1;
    write_file("mac.lzh", build_archive({mac_member("ReadMe", wrapped), level1, mac_member("spoiled", spoiled),
                                          mac_member("too_long", too_long), mac_member("dos", wrapped, 'M'),
                                          mac_member("resource", with_resource)}));
    ToolRun run = run_tool({"extract", "-C", scratch / "out", scratch / "mac.lzh"});
    ASSERT_EQ(run.status, 0) << run.output();
    EXPECT_EQ(read_file(scratch / "out/ReadMe"), data);
    EXPECT_EQ(read_file(scratch / "out/level1"), data);
    EXPECT_EQ(read_file(scratch / "out/spoiled"), spoiled);
    EXPECT_EQ(read_file(scratch / "out/too_long"), too_long);
    EXPECT_EQ(read_file(scratch / "out/dos"), wrapped);
    EXPECT_EQ(read_file(scratch / "out/resource"), with_resource);

    ToolRun kept = run_tool({"extract", "--keep-macbinary", "-C", scratch / "kept", scratch / "mac.lzh"});
    ASSERT_EQ(kept.status, 0) << kept.output();
    EXPECT_EQ(read_file(scratch / "kept/ReadMe"), wrapped);
    EXPECT_EQ(read_file(scratch / "kept/level1"), wrapped);
    EXPECT_NE(run_tool("extract --help").out.find("--keep-macbinary"), std::string::npos);
}

// The CRC-16 covers the stored bytes, wrapper and all: a member whose CRC matches
// only its data fork fails and leaves nothing, and an old file of its name stays.
TEST(MacBinaryMembers, TheCrcIsCheckedOverTheWholeMember) {
    ScratchFolder scratch;
    Bytes data = bytes_of("fork"), wrapped = macbinary(data, {});
    TestMember m = mac_member("ReadMe", wrapped);
    m.crc = crc16_of(data);
    m.crc_given = true;
    write_file("mac.lzh", build_archive({m}));
    ASSERT_EQ(system(("mkdir -p '" + (scratch / "out") + "'").c_str()), 0);
    write_file(scratch / "out/ReadMe", bytes_of("old"));
    ToolRun run = run_tool({"extract", "-C", scratch / "out", scratch / "mac.lzh"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("CRC-16 mismatch"), std::string::npos) << run.err;
    EXPECT_EQ(folder_entries(scratch / "out"), std::vector<std::string>{"ReadMe"});
    EXPECT_EQ(read_file(scratch / "out/ReadMe"), bytes_of("old"));
}

// A compressed member whose data fork is larger than one block of the move: packed
// with the tool, then marked as a Macintosh encoder's (the OS id of a level-2
// header is its byte 23; the reader does not check the header's CRC).
TEST(MacBinaryMembers, CompressedMembersLoseTheirWrapperToo) {
    ScratchFolder scratch;
    std::mt19937 random(8);
    Bytes data;
    for (int i = 0; i < 150000; i++) data.push_back((uint8_t)("abcdefgh"[random() % 8]));
    Bytes wrapped = macbinary(data, {}, false);
    ASSERT_EQ(system(("mkdir -p '" + (scratch / "src") + "'").c_str()), 0);
    write_file(scratch / "src/Big", wrapped);
    ASSERT_EQ(run_tool({"pack", scratch / "src", "-o", scratch / "big.lzh"}).status, 0);
    Bytes archive = read_file(scratch / "big.lzh");
    ASSERT_EQ(archive[20], 2);
    ASSERT_NE(std::string(archive.begin() + 2, archive.begin() + 7), "-lh0-");
    archive[23] = 'm';
    write_file(scratch / "big.lzh", archive);
    ToolRun run = run_tool({"extract", "-C", scratch / "out", scratch / "big.lzh"});
    ASSERT_EQ(run.status, 0) << run.output();
    EXPECT_EQ(read_file(scratch / "out/Big"), data);
    ToolRun test = run_tool({"test", scratch / "big.lzh"});
    EXPECT_EQ(test.status, 0) << test.output();
}

}  // namespace
