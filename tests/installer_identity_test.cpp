// The publisher's icon and properties that make writes into the installer's
// resources, read back by readers of their own (wrestool from icoutils, Python's
// pefile) and by the tests' PE reader; the inputs make refuses; the resource
// section read and written whole.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "frontend/pe_image.h"
#include "tests/support/pe_file.h"
#include "tests/support/test_support.h"
#include "tools/pe_resources.h"
#include "tools/tool.h"

namespace {

const uint32_t RT_ICON = 3, RT_DIALOG = 5, RT_GROUP_ICON = 14, RT_VERSION = 16, RT_MANIFEST = 24;
const uint32_t JAPANESE = 1041;

#define SKIP_WITHOUT_STUB() \
    if (std::string(MAVUSFX_STUB).empty()) GTEST_SKIP() << "no stub given (MAVUSFX_STUB is empty)"

std::string publisher_icon() { return source_path("tests/data/icons/publisher.ico"); }

uint32_t u16_at(const Bytes& b, size_t at) { return b[at] | b[at + 1] << 8; }
uint32_t u32_at(const Bytes& b, size_t at) { return u16_at(b, at) | u16_at(b, at + 2) << 16; }

// A shell command's standard output; the status in `status`.
std::string output_of(const std::string& command, int* status) {
    ScratchFolder logs;
    *status = system((command + " >" + (logs / "out") + " 2>&1").c_str());
    return text_of(read_file(logs / "out"));
}

bool have(const char* check) { return system((std::string(check) + " >/dev/null 2>&1").c_str()) == 0; }

// What Python's pefile reads of a file: its own warnings, whether the checksum is
// right, the last section against the image's size fields, the version strings and
// the fixed part's versions; one "name=value" a line.
const char PEFILE_REPORT[] = R"PY(
import re, sys, pefile
pe = pefile.PE(sys.argv[1])
o = pe.OPTIONAL_HEADER
last = pe.sections[-1]
align = lambda v, a: (v + a - 1) // a * a
print("warnings=%d" % len(pe.get_warnings()))
for w in pe.get_warnings(): print("warning=" + w)
# Windows' sum of 16-bit words, the checksum field left out (pefile's own sum writes
# the file anew from what it parsed, which changes characters past U+FFFF).
raw = open(sys.argv[1], "rb").read()
field = o.get_file_offset() + 64
words = raw[:field] + b"\0\0\0\0" + raw[field + 4:] + b"\0"
total = 0
for i in range(0, len(raw), 2):
    total += words[i] | words[i + 1] << 8
    total = (total & 0xFFFF) + (total >> 16)
print("checksum=%s" % ("right" if o.CheckSum == total + len(raw) else "wrong"))
print("last=" + last.Name.rstrip(b"\0").decode())
print("image_size=%s" % (o.SizeOfImage == align(last.VirtualAddress + last.Misc_VirtualSize, o.SectionAlignment)))
print("raw_size=%s" % (last.SizeOfRawData == align(last.Misc_VirtualSize, o.FileAlignment)))
d = o.DATA_DIRECTORY[2]
print("directory=%s" % (d.VirtualAddress == last.VirtualAddress and d.Size == last.Misc_VirtualSize))
data = sum(s.SizeOfRawData for s in pe.sections if s.Characteristics & 0x40)
print("initialized=%s" % (o.SizeOfInitializedData == data))
for info in pe.FileInfo[0]:
    for table in getattr(info, "StringTable", []):
        for k, v in table.entries.items():
            # pefile gives a character past U+FFFF as the escapes of its two halves
            v = re.sub(r"\\u(d[89ab]..)\\u(d[c-f]..)", lambda m: chr(0x10000 + (int(m[1], 16) - 0xD800 << 10)
                       + int(m[2], 16) - 0xDC00), v.decode(), flags=re.I)
            print("%s/%s=%s" % (table.LangID.decode(), k.decode(), v))
f = pe.VS_FIXEDFILEINFO[0]
print("fixed=%d.%d.%d.%d/%d.%d.%d.%d" % (f.FileVersionMS >> 16, f.FileVersionMS & 0xFFFF, f.FileVersionLS >> 16,
      f.FileVersionLS & 0xFFFF, f.ProductVersionMS >> 16, f.ProductVersionMS & 0xFFFF, f.ProductVersionLS >> 16,
      f.ProductVersionLS & 0xFFFF))
)PY";

std::map<std::string, std::string> pefile_report(const std::string& path) {
    ScratchFolder scratch;
    write_file(scratch / "report.py", bytes_of(PEFILE_REPORT));
    int status;
    std::string text = output_of("/usr/bin/python3 " + (scratch / "report.py") + " '" + path + "'", &status);
    EXPECT_EQ(status, 0) << text;
    std::map<std::string, std::string> report;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        std::string line = text.substr(start, end - start);
        size_t equals = line.find('=');
        if (equals != std::string::npos) report[line.substr(0, equals)] += line.substr(equals + 1);
    }
    return report;
}

#define SKIP_WITHOUT_READERS()                                                              \
    if (!have("command -v wrestool") || !have("/usr/bin/python3 -c 'import pefile'"))       \
    GTEST_SKIP() << "wrestool (icoutils) or python3-pefile is not installed (scripts/setup.sh)"

// The header fields that follow from the resource section agree, and the reader
// finds nothing odd; the checksum is the whole file's.
void expect_consistent(const std::map<std::string, std::string>& report) {
    EXPECT_EQ(report.at("warnings"), "0") << (report.count("warning") ? report.at("warning") : "");
    EXPECT_EQ(report.at("checksum"), "right");
    EXPECT_EQ(report.at("last"), ".rsrc");
    for (const char* field : {"image_size", "raw_size", "directory", "initialized"})
        EXPECT_EQ(report.at(field), "True") << field;
}

class InstallerIdentity : public ::testing::Test {
protected:
    ScratchFolder scratch;
    std::string out = scratch / "setup.exe";

    ToolRun make(const std::vector<std::string>& extra, const std::string& stub = MAVUSFX_STUB) {
        std::vector<std::string> args = {"make", "--stub", stub, "--archive", corpus_path("lh5_level2.lzh"),
                                         "-o", out, "--title", "試験"};
        args.insert(args.end(), extra.begin(), extra.end());
        return run_tool(args);
    }
};

// Several sizes, a PNG image among them, and Japanese texts: wrestool rebuilds the
// very icon file from the group and its images, pefile reads the strings as given,
// the stub's dialogs and manifest stay, and the installer still works.
TEST_F(InstallerIdentity, ReadBackByIndependentReaders) {
    SKIP_WITHOUT_STUB();
    SKIP_WITHOUT_READERS();
    ToolRun made = make({"--icon", publisher_icon(), "--product-name", "試験の製品", "--company",
                         "株式会社試験 𠮷", "--description", "試験のインストーラ", "--product-version", "2.5",
                         "--file-version", "2.5.0.7", "--copyright", "© 2026 試験"});
    ASSERT_EQ(made.status, 0) << made.output();

    int status;
    std::string listed = output_of("wrestool -l '" + out + "'", &status);
    for (const char* line : {"--type=3 --name=1 --language=1041", "--type=3 --name=4 --language=1041",
                             "--type=14 --name=102 --language=1041", "--type=16 --name=1 --language=1041",
                             "--type=5 --name=103 --language=1041", "--type=24 --name=1 --language=1041"})
        EXPECT_NE(listed.find(line), std::string::npos) << line << " in\n" << listed;
    EXPECT_EQ(listed.find("--type=3 --name=5"), std::string::npos) << listed;
    ASSERT_EQ(system(("wrestool -x -t14 -n102 '" + out + "' >'" + (scratch / "back.ico") + "'").c_str()), 0);
    Bytes icon = read_file(publisher_icon()), back = read_file(scratch / "back.ico");
    ASSERT_GE(back.size(), icon.size());
    EXPECT_TRUE(std::equal(icon.begin(), icon.end(), back.begin())) << "the icon read back differs";

    std::map<std::string, std::string> report = pefile_report(out);
    expect_consistent(report);
    EXPECT_EQ(report["041104B0/ProductName"], "試験の製品");
    EXPECT_EQ(report["041104B0/CompanyName"], "株式会社試験 𠮷");
    EXPECT_EQ(report["041104B0/FileDescription"], "試験のインストーラ");
    EXPECT_EQ(report["041104B0/LegalCopyright"], "© 2026 試験");
    EXPECT_EQ(report["041104B0/ProductVersion"], "2.5");
    EXPECT_EQ(report["041104B0/FileVersion"], "2.5.0.7");
    EXPECT_EQ(report["fixed"], "2.5.0.7/2.5.0.0");

    // The tests' own reader: the PNG image whole, the dialogs and manifest as built.
    PeFile pe(read_file(out)), stub(read_file(MAVUSFX_STUB));
    Bytes png;
    ASSERT_TRUE(pe.resource(RT_ICON, 1, JAPANESE, &png));
    EXPECT_EQ(Bytes(icon.begin() + u32_at(icon, 6 + 12), icon.begin() + u32_at(icon, 6 + 12) + u32_at(icon, 6 + 8)), png);
    for (std::pair<uint32_t, uint32_t> kept : {std::make_pair(RT_DIALOG, 101u), std::make_pair(RT_DIALOG, 103u),
                                               std::make_pair(RT_MANIFEST, 1u)}) {
        Bytes now, before;
        EXPECT_TRUE(pe.resource(kept.first, kept.second, JAPANESE, &now));
        EXPECT_TRUE(stub.resource(kept.first, kept.second, JAPANESE, &before));
        EXPECT_EQ(now, before) << kept.first << "/" << kept.second;
    }

    // The block lies where the grown image ends, and the stub's reading finds it.
    uint32_t image_end = pe_image_end(pe.bytes().data(), 4096);
    EXPECT_GT(image_end, stub.bytes().size());
    OpenedArchive opened;
    ASSERT_TRUE(open_archive(out.c_str(), &opened));
    EXPECT_EQ(opened.block_offset, image_end);
    EXPECT_STREQ(opened.config.title, "\x8e\x8e\x8c\xb1");  // 試験
    fclose(opened.file);
    ToolRun tested = run_tool({"test", out});
    EXPECT_EQ(tested.status, 0) << tested.output();
    ToolRun list = run_tool({"list", out});
    for (const char* line : {"  product:        \"試験の製品\"\n", "  company:        \"株式会社試験 𠮷\"\n",
                             "  version:        \"2.5\"\n"})
        EXPECT_NE(list.out.find(line), std::string::npos) << line << list.out;

    // The same settings from a settings file, its icon beside it: the same bytes.
    mkdir((scratch / "ci").c_str(), 0777);
    write_file(scratch / "ci/publisher.ico", icon);
    write_file(scratch / "ci/setup.toml", bytes_of(
        "icon = \"publisher.ico\"\nproduct-name = \"試験の製品\"\ncompany = \"株式会社試験 𠮷\"\n"
        "description = \"試験のインストーラ\"\nproduct-version = \"2.5\"\nfile-version = \"2.5.0.7\"\n"
        "copyright = \"© 2026 試験\"\ntitle = \"試験\"\n"));
    ToolRun again = run_tool({"make", "--config", scratch / "ci/setup.toml", "--stub", MAVUSFX_STUB, "--archive",
                              corpus_path("lh5_level2.lzh"), "-o", scratch / "again.exe"});
    ASSERT_EQ(again.status, 0) << again.output();
    EXPECT_TRUE(read_file(out) == read_file(scratch / "again.exe")) << "not reproducible";
}

// A two-colour 16 x 16 bitmap in place of the stub's own PNG image, the headers
// set for the section it gives.  Properties alone keep the stub's icon and the strings
// not given, and the one version given stands for the other.
TEST_F(InstallerIdentity, SmallBitmapAndUnsetPartsStay) {
    SKIP_WITHOUT_STUB();
    SKIP_WITHOUT_READERS();
    Bytes bitmap(40 + 2 * 4 + 16 * 4 + 16 * 4, 0);
    bitmap[0] = 40;
    bitmap[4] = 16;
    bitmap[8] = 32;
    bitmap[12] = 1;
    bitmap[14] = 1;
    bitmap[40 + 4] = bitmap[40 + 5] = bitmap[40 + 6] = 0xFF;  // white
    for (size_t i = 40 + 8; i < 40 + 8 + 64; i += 2) bitmap[i] = 0x5A;
    Bytes ico = {0, 0, 1, 0, 1, 0, 16, 16, 2, 0, 1, 0, 1, 0};
    for (uint32_t v : {(uint32_t)bitmap.size(), 22u})
        for (int k = 0; k < 4; k++) ico.push_back((uint8_t)(v >> (8 * k)));
    ico.insert(ico.end(), bitmap.begin(), bitmap.end());
    write_file(scratch / "small.ico", ico);
    ToolRun made = make({"--icon", scratch / "small.ico"});
    ASSERT_EQ(made.status, 0) << made.output();
    PeFile pe(read_file(out));
    uint32_t image_end = pe_image_end(pe.bytes().data(), 4096);
    EXPECT_LE(image_end, read_file(MAVUSFX_STUB).size());
    std::map<std::string, std::string> report = pefile_report(out);
    expect_consistent(report);
    EXPECT_EQ(report["041104B0/ProductName"], "Mavu SFX");
    Bytes image, group;
    ASSERT_TRUE(pe.resource(RT_ICON, 1, JAPANESE, &image));
    EXPECT_EQ(image, bitmap);
    ASSERT_TRUE(pe.resource(RT_GROUP_ICON, 102, JAPANESE, &group));
    EXPECT_EQ(group, (Bytes{0, 0, 1, 0, 1, 0, 16, 16, 2, 0, 1, 0, 1, 0, 0xB0, 0, 0, 0, 1, 0}));

    made = make({"--company", "Example Corp.", "--file-version", "3.1"});
    ASSERT_EQ(made.status, 0) << made.output();
    report = pefile_report(out);
    expect_consistent(report);
    EXPECT_EQ(report["041104B0/CompanyName"], "Example Corp.");
    EXPECT_EQ(report["041104B0/ProductName"], "Mavu SFX");
    EXPECT_EQ(report["041104B0/FileDescription"], "LHA 自己解凍");
    EXPECT_EQ(report["041104B0/ProductVersion"], "3.1");
    EXPECT_EQ(report["fixed"], "3.1.0.0/3.1.0.0");
    Bytes icon_now, icon_before;
    ASSERT_TRUE(PeFile(read_file(out)).resource(RT_ICON, 1, JAPANESE, &icon_now));
    ASSERT_TRUE(PeFile(read_file(MAVUSFX_STUB)).resource(RT_ICON, 1, JAPANESE, &icon_before));
    EXPECT_EQ(icon_now, icon_before);
}

// Each is refused before anything is written: the old output stays as it was.
TEST_F(InstallerIdentity, RefusesWhatWindowsCannotShow) {
    Bytes icon = read_file(publisher_icon());
    auto variant = [&](const std::string& name, void (*change)(Bytes*)) {
        Bytes copy = icon;
        change(&copy);
        write_file(scratch / name, copy);
        return scratch / name;
    };
    write_file(scratch / "text.ico", bytes_of("not an icon at all\n"));
    // The PNG's header says 512 x 512 (the directory's 0 can only say 256).
    std::string large = variant("large.ico", [](Bytes* b) {
        size_t png = u32_at(*b, 6 + 12);
        (*b)[png + 16 + 2] = 2;
        (*b)[png + 20 + 2] = 2;
    });
    std::string cursor = variant("cursor.ico", [](Bytes* b) { (*b)[2] = 2; });
    std::string mislisted = variant("mislisted.ico", [](Bytes* b) { (*b)[6 + 16] = 40; });  // 48 listed as 40
    std::string cut = variant("cut.ico", [](Bytes* b) { b->resize(b->size() - 10); });
    std::string empty = variant("empty.ico", [](Bytes* b) { b->assign({0, 0, 1, 0, 0, 0}); });
    std::string bad_depth = variant("depth.ico", [](Bytes* b) {
        size_t bmp = u32_at(*b, 6 + 16 + 12);
        (*b)[bmp + 14] = 7;
    });
    std::string stub = scratch / "bare.exe";
    write_file(stub, fake_pe({{0x200, 0x200}}, 0x200));
    std::string long_name;
    for (int i = 0; i < 256; i++) long_name += "あ";
    struct Case {
        std::vector<std::string> options;
        const char* says;
    } cases[] = {
        {{"--icon", scratch / "text.ico"}, "text.ico is not a Windows icon file (.ico)"},
        {{"--icon", scratch / "none.ico"}, "none.ico No such file"},
        {{"--icon", large}, "image 1 is 512x512: Windows takes icon images of 1 to 256 pixels a side"},
        {{"--icon", cursor}, "is a cursor, not an icon"},
        {{"--icon", mislisted}, "image 2 is 48x48, but the icon's directory says 40x48"},
        {{"--icon", cut}, "is cut short: image 4 lies past its end"},
        {{"--icon", empty}, "holds no images"},
        {{"--icon", bad_depth}, "image 2 is a bitmap of a kind Windows does not take for icons"},
        {{"--file-version", "1.2.3.4.5"}, "--file-version takes one to four numbers of 0 to 65535"},
        {{"--file-version", "1.x"}, "not '1.x'"},
        {{"--product-version", "65536"}, "--product-version takes one to four numbers"},
        {{"--product-version", "1..2"}, "not '1..2'"},
        {{"--product-version", "2."}, "not '2.'"},
        {{"--product-version", " 2"}, "not ' 2'"},
        {{"--product-name", long_name}, "--product-name is longer than 255 characters"},
        {{"--company", "Tab\there"}, "--company holds a control character"},
        {{"--copyright", "\xff\xfe"}, "--copyright is not UTF-8"},
        {{"--description", "\xed\xa0\x80"}, "--description is not UTF-8"},  // a surrogate
        {{"--company", "Example"}, "bare.exe is not a 32-bit Windows program"},
    };
    write_file(out, bytes_of("old"));
    size_t files = folder_entries(scratch.path()).size();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        ToolRun run = make(c.options, stub);  // the stub is read after the settings are checked
        EXPECT_EQ(run.status, EXIT_USAGE) << run.output();
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(text_of(read_file(out)), "old");
        EXPECT_EQ(folder_entries(scratch.path()).size(), files) << "a temporary file was left";
    }
    // A settings file's values are checked alike, told with its line.
    write_file(scratch / "bad.toml", bytes_of("company = \"Example\"\nfile-version = \"1.2.x\"\n"));
    ToolRun run = run_tool({"make", "--config", scratch / "bad.toml", "--stub", stub, "--archive",
                            corpus_path("lh5_level2.lzh"), "-o", out});
    EXPECT_EQ(run.status, EXIT_USAGE);
    EXPECT_NE(run.err.find("bad.toml:2: file-version takes one to four numbers"), std::string::npos) << run.err;
    EXPECT_EQ(text_of(read_file(out)), "old");
}

Resource resource(ResourceKey type, ResourceKey name, uint16_t language, const std::string& data) {
    Resource r;
    r.type = type;
    r.name = name;
    r.language = language;
    r.data = bytes_of(data);
    return r;
}

ResourceKey named(const std::u16string& name) {
    ResourceKey key;
    key.named = true;
    key.name = name;
    return key;
}

// The tree written whole and read again gives what was written, named types and
// names and several languages included, in the order the loader searches.
TEST(PeResources, TreeRoundTrip) {
    SKIP_WITHOUT_STUB();
    Bytes stub = read_file(MAVUSFX_STUB);
    std::vector<Resource> resources;
    std::string problem;
    ASSERT_TRUE(read_resources(stub.data(), (uint32_t)stub.size(), &resources, &problem)) << problem;
    ASSERT_EQ(resources.size(), 6u);
    resources.push_back(resource(named(u"TEXTS"), named(u"GREETING"), 1033, "hello"));
    resources.push_back(resource(named(u"TEXTS"), named(u"GREETING"), 1041, "konnichiwa"));
    resources.push_back(resource(named(u"TEXTS"), ResourceKey::of(7), 0, std::string(40000, 'x')));
    resources.push_back(resource(ResourceKey::of(RT_ICON), named(u"ALPHA"), 0, "a"));
    Bytes written;
    ASSERT_TRUE(write_resources(stub, resources, &written, &problem)) << problem;
    std::vector<Resource> again;
    ASSERT_TRUE(read_resources(written.data(), (uint32_t)written.size(), &again, &problem)) << problem;
    ASSERT_EQ(again.size(), resources.size());
    std::map<std::string, std::string> before, after;
    auto key = [](const Resource& r) {
        auto part = [](const ResourceKey& k) {
            return k.named ? std::string(k.name.begin(), k.name.end()) : std::to_string(k.number);
        };
        return part(r.type) + "/" + part(r.name) + "/" + std::to_string(r.language);
    };
    for (const Resource& r : resources) before[key(r)] = text_of(r.data);
    for (const Resource& r : again) after[key(r)] = text_of(r.data);
    EXPECT_EQ(before, after);
    // Named entries first, then numbers ascending, at every level.
    EXPECT_EQ(key(again.front()), "TEXTS/GREETING/1033");
    EXPECT_EQ(key(again[3]), "3/ALPHA/0");
    EXPECT_EQ(key(again[4]), "3/1/1041");
    EXPECT_EQ(key(again.back()), "24/1/1041");
    EXPECT_EQ(pe_image_end(written.data(), 4096), written.size());
    PeFile pe(written);
    Bytes manifest;
    EXPECT_TRUE(pe.resource(RT_MANIFEST, 1, JAPANESE, &manifest));
    EXPECT_NE(text_of(manifest).find("requestedExecutionLevel"), std::string::npos);

    // A tree whose offsets point outside the section is refused, not followed.
    Bytes damaged = stub;
    uint32_t pe_offset = u32_at(damaged, 0x3C), rsrc_rva = u32_at(damaged, pe_offset + 24 + 96 + 16);
    for (uint32_t s = pe_offset + 24 + 0xE0; s < pe_offset + 24 + 0xE0 + 40 * 3; s += 40)
        if (u32_at(damaged, s + 12) == rsrc_rva) damaged[u32_at(damaged, s + 20) + 16 + 4 + 2] = 0x7F;
    EXPECT_FALSE(read_resources(damaged.data(), (uint32_t)damaged.size(), &resources, &problem));
    EXPECT_NE(problem.find("outside its section"), std::string::npos) << problem;

    // 2,000 types that all lead to one directory of 2,000 names, which all lead to
    // one empty directory: four million directories on a walk, refused early.
    Bytes shared = written;
    uint32_t raw = 0;
    for (uint32_t s = pe_offset + 24 + 0xE0; s < pe_offset + 24 + 0xE0 + 40 * 3; s += 40)
        if (u32_at(shared, s + 12) == rsrc_rva) raw = u32_at(shared, s + 20);
    const uint32_t COUNT = 2000, NAMES = 16 + 8 * COUNT, EMPTY = NAMES + 16 + 8 * COUNT;
    ASSERT_LE(raw + EMPTY + 16, shared.size());
    std::fill(shared.begin() + raw, shared.begin() + raw + EMPTY + 16, 0);
    for (uint32_t directory : {0u, NAMES}) {
        shared[raw + directory + 14] = COUNT & 0xFF;
        shared[raw + directory + 15] = COUNT >> 8;
        for (uint32_t i = 0; i < COUNT; i++) {
            uint32_t entry = raw + directory + 16 + 8 * i, below = 0x80000000u | (directory == 0 ? NAMES : EMPTY);
            for (int k = 0; k < 4; k++) {
                shared[entry + k] = (uint8_t)((i + 1) >> (8 * k));
                shared[entry + 4 + k] = (uint8_t)(below >> (8 * k));
            }
        }
    }
    EXPECT_FALSE(read_resources(shared.data(), (uint32_t)shared.size(), &resources, &problem));
    EXPECT_NE(problem.find("more resources than a program holds"), std::string::npos) << problem;
}

}  // namespace
