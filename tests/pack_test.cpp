// mavusfx pack: member headers read back by the engine's reader, folders packed and
// extracted again through the engine, the black-box readers bsdtar and 7z on our
// archives, and the command's statuses and refusals.
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <utime.h>

#include <map>
#include <random>

#include <gtest/gtest.h>

#include "engine/member_header.h"
#include "platform/text_conversion.h"
#include "tests/support/member_decoding.h"
#include "tests/support/test_support.h"
#include "tools/pack/folder_packer.h"
#include "tools/pack/member_writer.h"

namespace {

// Every member header of an archive file, in order.
std::vector<MemberHeader> headers_of(const std::string& archive) {
    std::vector<MemberHeader> headers;
    for (const ArchiveMember& m : read_archive_members(archive)) headers.push_back(m.header);
    return headers;
}

// ---- headers -------------------------------------------------------------------

// One header written and read back by the engine's reader.
MemberHeader write_and_read(const MemberEntry& entry, int level, unsigned* length = nullptr) {
    uint8_t header[MAX_MEMBER_HEADER];
    unsigned n = build_member_header(&entry, level, header);
    if (length != nullptr) *length = n;
    MemberHeader read = {};
    if (n == 0) return read;
    Bytes bytes(header, header + n);
    bytes.insert(bytes.end(), entry.packed_size, 'd');
    bytes.push_back(0);
    ScratchFolder scratch;
    write_file(scratch / "a.lzh", bytes);
    std::vector<MemberHeader> all = headers_of(scratch / "a.lzh");
    EXPECT_EQ(all.size(), 1u);
    return all.empty() ? read : all[0];
}

MemberEntry file_entry(const char* folder, const char* name) {
    MemberEntry e = {};
    memcpy(e.method, "-lh7-", 6);
    e.packed_size = 7;
    e.original_size = 1234;
    e.crc = 0xBEEF;
    e.attribute = ATTRIBUTE_FILE;
    e.modified = 1262581663;  // an odd second
    e.folder = folder;
    e.file_name = name;
    return e;
}

TEST(MemberHeaders, EveryLevelReadsBackWithShiftJisNames) {
    TimeZone zone("JST-9");
    // "ソ" (83 5C), "表" (95 5C) and "能" (94 5C) end in a backslash byte.
    const char* folder = "\x83\x5C\x83\x74\x83\x67/\x95\x5C/";
    const char* file = "\x94\x5C\x97\xCD.txt";
    for (int level = 0; level <= 2; level++) {
        SCOPED_TRACE(level);
        MemberEntry e = file_entry(folder, file);
        MemberHeader h = write_and_read(e, level);
        EXPECT_EQ(std::string(h.name), std::string(folder) + file);
        EXPECT_EQ(memcmp(h.method, "-lh7-", 5), 0);
        EXPECT_EQ(h.packed_size, 7u);
        EXPECT_EQ(h.original_size, 1234u);
        EXPECT_EQ(h.crc, 0xBEEF);
        EXPECT_EQ(h.has_crc, 1);
        EXPECT_EQ(h.attribute, ATTRIBUTE_FILE);
        EXPECT_EQ(h.time, level == 2 ? 1262581663u : 1262581662u);  // MS-DOS: even seconds

        MemberEntry d = e;
        memcpy(d.method, "-lhd-", 6);
        d.packed_size = d.original_size = 0;
        d.attribute = ATTRIBUTE_FOLDER;
        d.file_name = "";
        MemberHeader dh = write_and_read(d, level);
        EXPECT_EQ(std::string(dh.name), folder);
        EXPECT_EQ(dh.attribute, ATTRIBUTE_FOLDER);
    }
}

TEST(MemberHeaders, NamesUpToEachLevelsLimit) {
    // Level 0: a path of 233 bytes; level 1: a file name of 230 bytes and a path of
    // 259; level 2: a header of 255 bytes (218 bytes of folder and file name).
    struct Case { int level; size_t folder, file; bool fits; };
    const Case cases[] = {{0, 100, 133, true},  {0, 100, 134, false}, {1, 29, 230, true},
                          {1, 0, 231, false},   {1, 30, 230, false},  {2, 100, 118, true},
                          {2, 100, 119, false}, {2, 0, 221, true},    {2, 0, 222, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "level " << c.level << ", " << c.folder << " + " << c.file);
        std::string folder = c.folder > 0 ? std::string(c.folder - 1, 'f') + "/" : "";
        std::string file(c.file, 'n');
        unsigned length;
        MemberHeader h = write_and_read(file_entry(folder.c_str(), file.c_str()), c.level, &length);
        EXPECT_EQ(length != 0, c.fits);
        if (c.fits) {
            EXPECT_EQ(std::string(h.name), folder + file);
        }
    }
}

TEST(MemberHeaders, DosTimeInLocalStandardTime) {
    // 2000-03-01 00:00:00 in a zone 9 hours east of UTC.
    uint32_t stamp = unix_to_dos_time(951868800 - 9 * 3600, -9 * 3600);
    EXPECT_EQ(stamp, 20u << 25 | 3u << 21 | 1u << 16);
    EXPECT_EQ(dos_time_to_unix_in_zone(stamp, -9 * 3600), 951868800u - 9 * 3600);
    // Before 1980 and after 2107 the nearest stamp MS-DOS has.
    EXPECT_EQ(unix_to_dos_time(0, 0), 1u << 21 | 1u << 16);
    EXPECT_EQ(unix_to_dos_time((time_t)5000000000LL, 0), 127u << 25 | 12u << 21 | 31u << 16 | 23u << 11 | 59u << 5 | 29u);
}

// ---- folders packed and extracted through the engine -----------------------------

void set_time(const std::string& path, time_t t) {
    struct utimbuf times = {t, t};
    utime(path.c_str(), &times);
}

void make_folders(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        mkdir(path.substr(0, slash).c_str(), 0777);
    mkdir(path.c_str(), 0777);
}

// What a packed tree should give back: relative path (Shift-JIS, as extracted) to
// content and time stamp.  An empty stamp list entry means a folder.
struct Expected {
    std::map<std::string, Bytes> files;
    std::map<std::string, time_t> times;
    std::vector<std::string> folders;
};

// Adds a file under `root` by its UTF-8 path, and what extraction must produce.
void add_file(Expected* expected, const std::string& root, const std::string& utf8_path, const Bytes& content,
              time_t stamp) {
    std::string path = root + "/" + utf8_path;
    make_folders(path.substr(0, path.rfind('/')));
    write_file(path, content);
    set_time(path, stamp);
    char sjis[1024];
    ASSERT_TRUE(platform_utf8_to_sjis(utf8_path.c_str(), sjis, sizeof sjis)) << utf8_path;
    expected->files[sjis] = content;
    expected->times[sjis] = stamp;
}

void check_extracted(const Expected& expected, const std::string& root, int level) {
    for (const auto& f : expected.files) {
        std::string path = root + "/" + f.first;
        ASSERT_TRUE(file_exists(path)) << f.first;
        EXPECT_TRUE(read_file(path) == f.second) << f.first;
        struct stat st;
        ASSERT_EQ(stat(path.c_str(), &st), 0);
        time_t want = expected.times.at(f.first);
        if (level != 2) want -= want % 2;
        EXPECT_EQ(st.st_mtime, want) << f.first;
    }
    for (const std::string& folder : expected.folders) EXPECT_TRUE(folder_exists(root + "/" + folder)) << folder;
}

int pack(const std::string& folder, const std::string& archive, unsigned bits, int level) {
    PackSettings settings = {bits, level, false, false, {}};
    return pack_folder(folder.c_str(), archive.c_str(), &settings, nullptr);
}

// Packs `source`, extracts it with the engine into a fresh folder and compares.
void pack_and_extract(const Expected& expected, const std::string& source, const std::string& archive,
                      unsigned bits, int level) {
    ASSERT_EQ(pack(source, archive, bits, level), 0);
    ScratchFolder out;
    ReportRecorder recorder;
    EngineRun run = run_engine_on(archive);
    EXPECT_EQ(run.failure_count, 0u);
    EXPECT_FALSE(run.archive_damaged);
    check_extracted(expected, out.path(), level);
}

// The corpus' own content, extracted from its archives by the engine and laid out
// with UTF-8 names: one folder of small files (a Shift-JIS name with a 0x5C byte
// among them) and two long members.
Expected corpus_tree(const std::string& root) {
    Expected expected;
    std::vector<ManifestEntry> manifest = read_manifest(corpus_path("manifest.tsv"));
    for (const char* archive : {"lh5_level2.lzh", "lh7_long.lzh"}) {
        ScratchFolder extracted;
        EXPECT_EQ(run_engine_on(corpus_path(archive)).failure_count, 0u);
        for (const ManifestEntry& e : manifest) {
            if (e.archive != archive) continue;
            char utf8[1024];
            EXPECT_TRUE(platform_sjis_to_utf8(e.path.c_str(), utf8, sizeof utf8));
            if (e.is_folder) {
                make_folders(root + "/" + utf8);
                expected.folders.push_back(e.path);
                continue;
            }
            add_file(&expected, root, utf8, read_file(extracted / e.path), e.mtime);
        }
    }
    return expected;
}

TEST(PackFolder, CorpusContentComesBackThroughEveryMethodAndLevel) {
    TimeZone zone("JST-9");
    ScratchFolder work;
    std::string source = work / "source";
    mkdir(source.c_str(), 0777);
    Expected expected = corpus_tree(source);
    ASSERT_EQ(expected.files.size(), 10u);
    struct Case { unsigned bits; int level; const char* method; };
    for (const Case& c : {Case{16, 2, "-lh7-"}, Case{16, 1, "-lh7-"}, Case{16, 0, "-lh7-"},
                          Case{15, 2, "-lh6-"}, Case{13, 1, "-lh5-"}, Case{0, 2, "-lh0-"}}) {
        SCOPED_TRACE(c.method + std::string(" level ") + std::to_string(c.level));
        std::string archive = work / "packed.lzh";
        pack_and_extract(expected, source, archive, c.bits, c.level);
        // Text compresses with the chosen method; the random file is stored.
        for (const MemberHeader& h : headers_of(archive)) {
            std::string name = h.name;
            std::string method(h.method, 5);
            if (name == "long/text.txt" || name == "src/decoder.c") {
                EXPECT_EQ(method, c.method) << name;
            } else if (name == "data/random.bin") {
                EXPECT_EQ(method, "-lh0-");
            }
            EXPECT_EQ(h.level, c.level);
        }
    }
}

TEST(PackFolder, EdgeShapesAndStableOrder) {
    TimeZone zone("EST5");
    ScratchFolder work;
    std::string source = work / "source";
    mkdir(source.c_str(), 0777);
    Expected expected;
    std::mt19937 random(3);
    Bytes noise(70000);
    for (auto& b : noise) b = (uint8_t)random();
    std::string deep = "d0/d1/d2/d3/d4/d5/d6/d7/d8/d9/d10/d11";
    add_file(&expected, source, "empty", {}, 1500000000);
    add_file(&expected, source, "one", {'1'}, 1500000001);
    add_file(&expected, source, "zeros.bin", Bytes(65536 * 2, 0), 1500000002);
    add_file(&expected, source, "noise.bin", noise, 1500000003);
    add_file(&expected, source, deep + "/bottom.txt", Bytes(5000, 'z'), 1500000004);
    add_file(&expected, source, "ソフト/表示.txt", Bytes(3000, 'j'), 1500000005);
    add_file(&expected, source, "ソフト/能力/十.txt", Bytes(10, 'k'), 1500000006);
    make_folders(source + "/empty folder");
    expected.folders = {"empty folder", deep};

    for (int level = 0; level <= 2; level++) {
        SCOPED_TRACE(level);
        pack_and_extract(expected, source, work / "edge.lzh", 16, level);
    }
    // Names sorted byte-wise, each folder before what it holds.
    std::vector<std::string> names;
    for (const MemberHeader& h : headers_of(work / "edge.lzh")) names.push_back(h.name);
    ASSERT_GE(names.size(), 20u);
    EXPECT_EQ(names[0], "d0/");
    EXPECT_EQ(names[1], "d0/d1/");
    EXPECT_EQ(names[12], deep + "/bottom.txt");
    EXPECT_EQ(names[13], "empty");
    EXPECT_EQ(names[14], "empty folder/");
    EXPECT_EQ(names[16], "one");
    EXPECT_EQ(names[18], "\x83\x5C\x83\x74\x83\x67/");
}

// ---- the black-box readers --------------------------------------------------------

bool have(const char* program) {
    std::string command = std::string("command -v ") + program + " >/dev/null 2>&1";
    return system(command.c_str()) == 0;
}

TEST(BlackBoxReaders, BsdtarAnd7zReadOurArchives) {
    bool bsdtar = have("bsdtar"), seven = have("7z");
    if (!bsdtar && !seven) GTEST_SKIP() << "neither bsdtar nor 7z is installed";
    ScratchFolder work;
    std::string source = work / "source";
    mkdir(source.c_str(), 0777);
    Expected expected;
    std::mt19937 random(5);
    Bytes noise(40000), mixed;
    for (auto& b : noise) b = (uint8_t)random();
    for (int i = 0; i < 3000; i++) {
        std::string line = "line " + std::to_string(i * 7 % 1000) + " of the packed text\n";
        mixed.insert(mixed.end(), line.begin(), line.end());
    }
    mixed.insert(mixed.end(), noise.begin(), noise.end());
    mixed.insert(mixed.end(), 100000, 'r');
    mixed.insert(mixed.end(), noise.begin(), noise.end());  // 140 KiB back: beyond every window
    add_file(&expected, source, "a/mixed.bin", mixed, 1600000000);
    add_file(&expected, source, "a/b/noise.bin", noise, 1600000000);
    add_file(&expected, source, "empty.txt", {}, 1600000000);
    add_file(&expected, source, "z.txt", Bytes(70000, 'z'), 1600000000);

    struct Reader { bool present; const char* command; };
    for (const Reader& reader : {Reader{bsdtar, "bsdtar -xf "}, Reader{seven, "7z x -y -bd "}}) {
        if (!reader.present) continue;
        for (unsigned bits : {13u, 15u, 16u}) {
            for (int level = 0; level <= 2; level++) {
                SCOPED_TRACE(testing::Message() << reader.command << bits << " bits, level " << level);
                std::string archive = work / "black.lzh";
                ASSERT_EQ(pack(source, archive, bits, level), 0);
                ScratchFolder out;
                std::string command = std::string(reader.command) + archive + " >/dev/null 2>&1";
                EXPECT_EQ(system(command.c_str()), 0);
                for (const auto& f : expected.files)
                    EXPECT_TRUE(file_exists(out / f.first) && read_file(out / f.first) == f.second) << f.first;
            }
        }
    }
}

// ---- the command -----------------------------------------------------------------

ToolRun pack_command(const std::string& arguments) { return run_tool("pack " + arguments); }

TEST(PackCommand, UsageErrorsExitTwo) {
    ScratchFolder work;
    mkdir((work / "in").c_str(), 0777);
    std::string in = work / "in", out = work / "out.lzh";
    EXPECT_EQ(pack_command("").status, 2);
    EXPECT_EQ(pack_command(in).status, 2);
    EXPECT_EQ(pack_command(in + " -o " + out + " --method lh9").status, 2);
    EXPECT_EQ(pack_command(in + " -o " + out + " --level 3").status, 2);
    EXPECT_EQ(pack_command(in + " -o " + out + " --frobnicate").status, 2);
    ToolRun missing = pack_command(work / "missing -o " + out);
    EXPECT_EQ(missing.status, 2);
    EXPECT_NE(missing.err.find("missing"), std::string::npos);
    EXPECT_EQ(pack_command(in + " -o " + out + " --method lh6 --level 0").status, 0);
    EXPECT_TRUE(file_exists(out));
}

TEST(PackCommand, RefusedNamesLeaveNoArchive) {
    ScratchFolder work;
    std::string in = work / "in", out = work / "out.lzh";
    make_folders(in + "/sub");
    write_file(in + "/sub/fine.txt", {'x'});
    write_file(out, {'o', 'l', 'd'});
    // A name outside code page 932, one with a backslash, one too long for level 2.
    struct Case { std::string name; const char* words; };
    for (const Case& c : {Case{"\xF0\x9F\x98\x80.txt", "Shift-JIS"}, Case{"back\\slash", "backslash"},
                          Case{std::string(225, 'n'), "too long for a level-2 header"}}) {
        write_file(in + "/sub/" + c.name, {'y'});
        ToolRun run = pack_command(in + " -o " + out);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("sub/" + c.name + ": "), std::string::npos) << run.err;
        EXPECT_NE(run.err.find(c.words), std::string::npos) << run.err;
        EXPECT_TRUE(read_file(out) == Bytes({'o', 'l', 'd'}));
        EXPECT_EQ(folder_entries(work.path()).size(), 2u);  // in, out.lzh: no temporary left
        unlink((in + "/sub/" + c.name).c_str());
    }
    // The long name fits level 0.
    write_file(in + "/sub/" + std::string(225, 'n'), {'y'});
    EXPECT_EQ(pack_command(in + " -o " + out + " --level 0").status, 0);
    EXPECT_EQ(headers_of(out).size(), 3u);
}

TEST(PackCommand, AnArchiveInsideTheFolderLeavesItselfOut) {
    ScratchFolder work;
    write_file(work / "a.txt", Bytes(1000, 'a'));
    for (int round = 0; round < 2; round++) {
        ASSERT_EQ(pack_command(work.path() + " -o " + (work / "self.lzh")).status, 0);
        std::vector<MemberHeader> headers = headers_of(work / "self.lzh");
        ASSERT_EQ(headers.size(), 1u);
        EXPECT_STREQ(headers[0].name, "a.txt");
    }
}

}  // namespace
