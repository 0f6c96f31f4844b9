// The member header reader: levels 0, 1 and 2, their extended headers, the layout
// classes, names and time stamps, and headers that must be refused.
#include <string.h>

#include <vector>

#include <gtest/gtest.h>

#include "engine/member_header.h"
#include "tests/support/test_support.h"

namespace {

// Reads one header from `bytes` and reports where the file stood afterwards.
struct Read {
    HeaderResult result;
    MemberHeader header;
    long position;
};

Read read_one(const Bytes& bytes) {
    FILE* file = tmpfile();
    if (!bytes.empty()) fwrite(bytes.data(), 1, bytes.size(), file);
    rewind(file);
    Read r;
    r.result = read_member_header(file, &r.header);
    r.position = ftell(file);
    fclose(file);
    return r;
}

std::string ext(uint8_t type, const std::string& data) {
    std::string out;
    uint32_t size = (uint32_t)data.size() + 3;
    out += (char)(size & 0xFF);
    out += (char)(size >> 8);
    out += (char)type;
    return out + data;
}

// A level-2 header with the given extended headers (each from ext()), then data.
Bytes level2(const std::string& extended, uint8_t os_id = 'M', const Bytes& data = Bytes(4, 'x')) {
    Bytes h = {0, 0, '-', 'l', 'h', '0', '-'};
    auto put32 = [&](uint32_t v) { for (int i = 0; i < 4; i++) h.push_back((uint8_t)(v >> (8 * i))); };
    put32((uint32_t)data.size());
    put32((uint32_t)data.size());
    put32(1262581662);
    h.push_back(0x20);
    h.push_back(2);
    h.push_back(0x34);
    h.push_back(0x12);
    h.push_back(os_id);
    h.insert(h.end(), extended.begin(), extended.end());
    h.push_back(0);
    h.push_back(0);
    h[0] = (uint8_t)h.size();
    h[1] = (uint8_t)(h.size() >> 8);
    h.insert(h.end(), data.begin(), data.end());
    return h;
}

std::string ext3(uint8_t type, const std::string& data) {
    std::string out;
    uint32_t size = (uint32_t)data.size() + 5;
    for (int i = 0; i < 4; i++) out += (char)(size >> (8 * i));
    out += (char)type;
    return out + data;
}

// A level-3 header: 4 where level 2 has its length, the length in four bytes behind
// the OS id, extended headers (from ext3()) with four-byte sizes.
Bytes level3(const std::string& extended, const Bytes& data = Bytes(4, 'x')) {
    Bytes h = {4, 0, '-', 'l', 'h', '0', '-'};
    auto put32 = [&](uint32_t v) { for (int i = 0; i < 4; i++) h.push_back((uint8_t)(v >> (8 * i))); };
    put32((uint32_t)data.size());
    put32((uint32_t)data.size());
    put32(1262581662);
    h.push_back(0x20);
    h.push_back(3);
    h.push_back(0x34);
    h.push_back(0x12);
    h.push_back('2');  // OS/2
    put32(0);          // total length, set below
    h.insert(h.end(), extended.begin(), extended.end());
    put32(0);
    for (int i = 0; i < 4; i++) h[24 + i] = (uint8_t)(h.size() >> (8 * i));
    h.insert(h.end(), data.begin(), data.end());
    return h;
}

TEST(MemberHeader, Level3HasFourByteSizesAndItsLengthBehindTheOsId) {
    Bytes b = level3(ext3(0x00, "\x11\x22") + ext3(0x02, "os2\xFF" "dir\xFF") + ext3(0x01, "file.txt") +
                     ext3(0x40, std::string("\x21\x00", 2)));
    Read r = read_one(b);
    ASSERT_EQ(r.result, HEADER_READ);
    EXPECT_EQ(r.header.level, 3);
    EXPECT_STREQ(r.header.name, "os2/dir/file.txt");
    EXPECT_EQ(r.header.packed_size, 4u);
    EXPECT_EQ(r.header.original_size, 4u);
    EXPECT_EQ(r.header.time, 1262581662u);
    EXPECT_EQ(r.header.crc, 0x1234);
    EXPECT_EQ(r.header.has_crc, 1);
    EXPECT_EQ(r.header.os_id, '2');
    EXPECT_EQ(r.header.attribute, 0x20);  // an OS/2 header's 0x40 is not taken
    EXPECT_EQ(r.position, (long)b.size() - 4);

    // Every size is bounded as level 2's: the word size, the length against what
    // the header needs and what the buffer holds, each extended header within it.
    Bytes word = b;
    word[0] = 2;
    EXPECT_EQ(read_one(word).result, HEADER_DAMAGED);
    for (uint32_t length : {31u, (uint32_t)HEADER_BUFFER_SIZE + 1, 0xFFFFFFFFu}) {
        Bytes bad = b;
        for (int i = 0; i < 4; i++) bad[24 + i] = (uint8_t)(length >> (8 * i));
        EXPECT_EQ(read_one(bad).result, HEADER_DAMAGED) << length;
    }
    for (uint32_t size : {4u, 60u, 0xFFFFFFFFu}) {  // no room for itself; past the end
        Bytes bad = b;
        for (int i = 0; i < 4; i++) bad[28 + i] = (uint8_t)(size >> (8 * i));
        EXPECT_EQ(read_one(bad).result, HEADER_DAMAGED) << size;
    }
    EXPECT_EQ(read_one(Bytes(b.begin(), b.begin() + 40)).result, HEADER_DAMAGED);
    EXPECT_EQ(read_one(Bytes(b.begin(), b.begin() + 30)).result, HEADER_DAMAGED);
}

// LHa for OS-9 (OS id 'K') states a level-2 header 2 bytes shorter than its chain
// of extended headers, and takes the header's CRC over the whole chain (which the
// reader, like every header CRC, does not check).
Bytes os9_member(int short_by) {
    Bytes b = level2(ext(0x00, std::string(2, '\0')) + ext(0x01, "os9.txt"), 'K');
    size_t length = b.size() - 4;
    b[0] = (uint8_t)(length - (size_t)short_by);
    b[1] = (uint8_t)((length - (size_t)short_by) >> 8);
    uint16_t crc = crc16_of(Bytes(b.begin(), b.begin() + (long)length));
    b[27] = (uint8_t)crc;
    b[28] = (uint8_t)(crc >> 8);
    return b;
}

TEST(MemberHeader, Level2StatedTwoShortIsReadToTheEndOfItsChain) {
    Bytes b = os9_member(2);
    Read r = read_one(b);
    ASSERT_EQ(r.result, HEADER_READ);
    EXPECT_STREQ(r.header.name, "os9.txt");
    EXPECT_EQ(r.header.os_id, 'K');
    EXPECT_EQ(r.position, (long)b.size() - 4);  // the data begins where the chain ends
    EXPECT_EQ(read_one(os9_member(0)).result, HEADER_READ);
    // Only exactly 2 short, and only when those two bytes end the chain.
    EXPECT_EQ(read_one(os9_member(1)).result, HEADER_DAMAGED);
    EXPECT_EQ(read_one(os9_member(3)).result, HEADER_DAMAGED);
    Bytes more = os9_member(2);
    more[b.size() - 6] = 9;  // the chain goes on behind them
    EXPECT_EQ(read_one(more).result, HEADER_DAMAGED);
    EXPECT_EQ(read_one(Bytes(b.begin(), b.end() - 5)).result, HEADER_DAMAGED);  // cut inside them
}

// Amiga and MorphOS LHA store a file's comment behind a NUL in its name.
TEST(MemberHeader, AFileNameEndsAtANulAndTheRestIsItsComment) {
    for (int level : {0, 1, 2}) {
        TestMember m;
        m.level = level;
        m.name = std::string("pic.iff\0A comment", 17);
        Read r = read_one(build_member(m));
        ASSERT_EQ(r.result, HEADER_READ) << level;
        EXPECT_STREQ(r.header.name, "pic.iff") << level;
        EXPECT_EQ(r.header.name_length, 7) << level;
        EXPECT_STREQ(r.header.comment, "A comment") << level;
        EXPECT_EQ(r.header.comment_length, 9) << level;
    }
    // A NUL in a folder name is no comment: it stays in the name, to be refused.
    Read folder = read_one(level2(ext(0x02, std::string("a\0b\xFF", 4)) + ext(0x01, "f")));
    ASSERT_EQ(folder.result, HEADER_READ);
    EXPECT_EQ(folder.header.name_length, 5);
    EXPECT_EQ(folder.header.comment_length, 0);
}

TEST(MemberHeader, NamedAsFolderWithoutAFileNameOrWithATrailingSeparator) {
    struct Case {
        const char* method;
        std::string name, folder;
        int level;
        bool named_as_folder;
    };
    for (const Case& c : std::vector<Case>{
             {"-lh0-", "", "dir\xFF", 2, true},   // Amiga LHA 1.22's folders
             {"-lh0-", "", "dir", 1, true},        // no separator behind the folder
             {"-lh5-", "x\\", "", 0, true},
             {"-pm2-", "x/", "", 0, true},         // whatever the method
             {"-lh0-", "a.txt", "dir\xFF", 2, false}}) {
        TestMember m;
        m.method = c.method;
        m.name = c.name;
        m.folder = c.folder;
        m.level = c.level;
        Read r = read_one(build_member(m));
        ASSERT_EQ(r.result, HEADER_READ) << c.method << c.name;
        EXPECT_EQ(r.header.named_as_folder, c.named_as_folder) << c.method << c.name;
    }
}

// A level-2 header is read up to its 16-bit maximum (lhasa and 7z read 5,000 bytes of
// comment); what the buffer cannot hold is only level 3's, and damaged.
TEST(MemberHeader, Level2HeadersUpToTheirSixteenBitMaximum) {
    for (size_t filler : {5000u, 65535u - 26 - 11 - 3}) {
        Bytes b = level2(ext(0x01, "big.txt") + ext(0x3F, std::string(filler, 'c')));
        ASSERT_LE(b.size() - 4, 65535u);
        Read r = read_one(b);
        ASSERT_EQ(r.result, HEADER_READ) << filler;
        EXPECT_STREQ(r.header.name, "big.txt");
        EXPECT_EQ(r.position, (long)b.size() - 4);
    }
}

TEST(MemberHeader, Level2WithNameCrcAndAttribute) {
    Bytes b = level2(ext(0x00, "\x11\x22") + ext(0x01, "file.txt") + ext(0x40, std::string("\x21\x00", 2)));
    Read r = read_one(b);
    ASSERT_EQ(r.result, HEADER_READ);
    EXPECT_STREQ(r.header.name, "file.txt");
    EXPECT_EQ(r.header.attribute, 0x21);
    EXPECT_EQ(r.header.time, 1262581662u);
    EXPECT_EQ(r.header.crc, 0x1234);
    EXPECT_EQ(r.header.has_crc, 1);
    EXPECT_EQ(r.header.os_id, 'M');
    EXPECT_EQ(r.position, (long)b.size() - 4);  // standing on the data
}

TEST(MemberHeader, AttributeHeaderOfAnotherSystemIsSkippedAndTheChainGoesOn) {
    Read r = read_one(level2(ext(0x40, std::string("\x21\x00", 2)) + ext(0x01, "after"), 'U'));
    ASSERT_EQ(r.result, HEADER_READ);
    EXPECT_EQ(r.header.attribute, 0x20);
    EXPECT_STREQ(r.header.name, "after");
}

TEST(MemberHeader, Level1SubtractsItsExtendedHeadersFromThePackedSize) {
    TestMember m;
    m.level = 1;
    m.folder = "docs\xFF";
    m.name = "a.txt";
    m.data = Bytes(10, 'q');
    Read r = read_one(build_member(m));
    ASSERT_EQ(r.result, HEADER_READ);
    EXPECT_EQ(r.header.packed_size, 10u);
    EXPECT_STREQ(r.header.name, "docs/a.txt");
    EXPECT_EQ(r.position, (long)build_member(m).size() - 10);

    // 30 bytes of extended headers in a stored packed size of 1030: 1000 bytes of data.
    TestMember big = m;
    big.folder = std::string(24, 'f') + "\xFF";  // 3 + 25 = 28, plus the final size field
    big.data = Bytes(1000, 'z');
    Read r2 = read_one(build_member(big));
    ASSERT_EQ(r2.result, HEADER_READ);
    EXPECT_EQ(r2.header.packed_size, 1000u);
}

TEST(MemberHeader, Level0NamesTakeSlashesButKeepShiftJisTrailBytes) {
    TestMember m;
    m.name = "dir\\sub\\\x95\x5C.txt";  // 0x95 0x5C is one Shift-JIS character
    Read r = read_one(build_member(m));
    ASSERT_EQ(r.result, HEADER_READ);
    EXPECT_STREQ(r.header.name, "dir/sub/\x95\x5C.txt");

    // 0x80 is a character of its own, and a lead byte takes only a trail byte with it.
    m.name = "d\x80\\bs.txt\\\x81\\\x95";
    r = read_one(build_member(m));
    ASSERT_EQ(r.result, HEADER_READ);
    EXPECT_STREQ(r.header.name, "d\x80/bs.txt/\x81\\\x95");
}

TEST(MemberHeader, LayoutClassesByHeaderMinusNameLength) {
    TestMember plain;
    plain.name = "x";
    Read d22 = read_one(build_member(plain));  // CRC only
    ASSERT_EQ(d22.result, HEADER_READ);
    EXPECT_EQ(d22.header.has_crc, 1);
    EXPECT_EQ(d22.header.os_id, 0);

    Bytes extended = build_member(plain);  // CRC, OS id and one more ignored byte
    extended.insert(extended.begin() + 25, {'U', 0x77});
    extended[0] += 2;
    Read d24 = read_one(extended);
    ASSERT_EQ(d24.result, HEADER_READ);
    EXPECT_EQ(d24.header.os_id, 'U');
    EXPECT_EQ(d24.position, (long)extended.size());

    TestMember bare = plain;
    bare.with_crc = false;
    Read d20 = read_one(build_member(bare));
    ASSERT_EQ(d20.result, HEADER_READ);
    EXPECT_EQ(d20.header.has_crc, 0);

    for (int extra : {1, 3}) {  // d = 21 and 23: unknown layouts
        Bytes odd = build_member(bare);
        odd.insert(odd.begin() + 23, (size_t)extra, 0);
        odd[0] += (uint8_t)extra;
        EXPECT_EQ(read_one(odd).result, HEADER_UNKNOWN_LAYOUT) << extra;
        // The run shows the "Unknown header" box once and ends with the archive damaged.
        ScratchFolder scratch;
        write_file(scratch / "odd.lzh", odd);
        ReportRecorder recorder;
        EngineRun run = run_engine_on(scratch / "odd.lzh", true);
        EXPECT_EQ(recorder.unknown_header_boxes, 1) << extra;
        EXPECT_TRUE(run.archive_damaged) << extra;
    }
}

// The level-2 length is 16 bits: a header of 256 bytes and more is read whole; one
// of 21 or 23 bytes is an unknown layout like any other.
TEST(MemberHeader, Level2LengthIsSixteenBitsAndOddLengthsAreUnknown) {
    Bytes wide = level2(ext(0x01, std::string(240, 'n')));
    Read r = read_one(wide);
    ASSERT_EQ(r.result, HEADER_READ);
    EXPECT_EQ(std::string(r.header.name), std::string(240, 'n'));
    EXPECT_EQ(r.position, (long)wide.size() - 4);
    EXPECT_EQ(r.header.header_size, (uint8_t)(wide.size() - 4));
    for (uint8_t odd : {21, 23}) {
        Bytes h = level2("");
        h[0] = odd;
        EXPECT_EQ(read_one(h).result, HEADER_UNKNOWN_LAYOUT) << (int)odd;
    }
}

TEST(MemberHeader, EndOfArchive) {
    EXPECT_EQ(read_one({}).result, HEADER_END);
    EXPECT_EQ(read_one({0, 1, 2}).result, HEADER_END);
}

TEST(MemberHeader, RefusesHeadersOutsideTheFormatsBounds) {
    TestMember m;
    m.name = "a";
    Bytes good = build_member(m);

    Bytes short_read(good.begin(), good.begin() + 10);
    EXPECT_EQ(read_one(short_read).result, HEADER_DAMAGED);

    Bytes level4 = good;
    level4[20] = 4;
    EXPECT_EQ(read_one(level4).result, HEADER_DAMAGED);

    Bytes tiny = {12, 0, '-', 'l', 'h', '0', '-', 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(read_one(tiny).result, HEADER_DAMAGED);

    Bytes long_level2 = level2(ext(0x01, std::string(300, 'n')));
    EXPECT_EQ(read_one(long_level2).result, HEADER_DAMAGED);

    Bytes past_end = level2(ext(0x01, "name"));
    past_end[24] = 60;  // the file-name header claims more than the header holds
    EXPECT_EQ(read_one(past_end).result, HEADER_DAMAGED);

    for (uint8_t size : {1, 2}) {
        Bytes tiny_ext = level2(ext(0x01, "name"));
        tiny_ext[24] = size;
        EXPECT_EQ(read_one(tiny_ext).result, HEADER_DAMAGED) << (int)size;
    }

    Bytes long_name = level2(ext(0x02, std::string(200, 'd') + "\xFF") + ext(0x01, std::string(60, 'f')));
    EXPECT_EQ(read_one(long_name).result, HEADER_DAMAGED);

    TestMember level1 = m;  // extended headers longer than the packed size
    level1.level = 1;
    level1.folder = "abc\xFF";
    level1.data = {};
    Bytes b = build_member(level1);
    b[7] = 1;  // packed size 1, extended headers 7
    EXPECT_EQ(read_one(b).result, HEADER_DAMAGED);
}

TEST(MemberHeader, DosTimes) {
    EXPECT_EQ(dos_time_to_unix_in_zone(0, 0), 0u);
    auto stamp = [](uint32_t y, uint32_t mo, uint32_t d) { return (y - 1980) << 25 | mo << 21 | d << 16; };
    uint32_t march = dos_time_to_unix_in_zone(stamp(2000, 3, 1), 0);
    EXPECT_EQ(march, 951868800u);
    EXPECT_EQ(march - dos_time_to_unix_in_zone(stamp(2000, 2, 29), 0), 86400u);
    // 12:34:56 on 2010-01-04: seconds are stored halved.
    uint32_t t = stamp(2010, 1, 4) | 12u << 11 | 34u << 5 | 28u;
    EXPECT_EQ(dos_time_to_unix_in_zone(t, 0), 1262608496u);
}

// Every date a stamp can hold, month fields 0 and 13-15 and day 0 included, against
// a count of days by the full Gregorian rule (2100 is no leap year, 2000 is).
TEST(MemberHeader, DosDatesAgainstTheCalendar) {
    auto leap = [](uint32_t y) { return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0); };
    static const uint32_t before_month[13] = {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
    uint32_t days_before_year = 3652;  // 1970-01-01 to 1980-01-01
    for (uint32_t year = 1980; year <= 2107; year++) {
        for (uint32_t month = 0; month < 16; month++) {
            for (uint32_t day = 0; day < 32; day++) {
                uint32_t stamp = (year - 1980) << 25 | month << 21 | day << 16 | 23u << 11 | 59u << 5 | 29u;
                uint32_t expected;
                if (month > 12) {
                    expected = 315532800u;  // 1980-01-01 00:00:00
                } else {
                    uint32_t days = days_before_year + before_month[month] + day - 1 +
                                    (month >= 3 && leap(year));
                    expected = days * 86400u + 23 * 3600 + 59 * 60 + 58;
                }
                ASSERT_EQ(dos_time_to_unix_in_zone(stamp, -3600), expected - 3600)
                    << year << "-" << month << "-" << day;
            }
        }
        days_before_year += leap(year) ? 366 : 365;
    }
}

}  // namespace
