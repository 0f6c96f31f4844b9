// The host tool under faults and mistakes: outputs that are not plain files, signals
// in the middle of a run, a disk that fills, a folder where a file belongs.  Each
// fault is made for real: a real signal to a real process, a small tmpfs that fills.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <utime.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"

namespace {

using Words = std::vector<std::string>;

Bytes noise(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (uint8_t& b : bytes) b = (uint8_t)random();
    return bytes;
}

// A folder to pack: a few small files.
std::string small_app(const ScratchFolder& scratch) {
    std::string app = scratch / "app";
    mkdir(app.c_str(), 0777);
    mkdir((app + "/bin").c_str(), 0777);
    write_file(app + "/bin/tool.exe", noise(5000, 1));
    write_file(app + "/readme.txt", bytes_of("read me\n"));
    return app;
}

mode_t kind_of(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 ? st.st_mode & S_IFMT : 0;
}

// The names in `folder` that are left-behind temporaries of the tool.
std::vector<std::string> temporaries_in(const std::string& folder) {
    std::vector<std::string> found;
    for (const std::string& name : folder_entries(folder))
        if (name.find(".part") != std::string::npos || name.find("mavusfx~") != std::string::npos)
            found.push_back(name);
    return found;
}

// The tool started as a child of this process, its output to /dev/null (or `out`).
pid_t start_tool(const Words& words, int out = -1) {
    pid_t pid = fork();
    if (pid != 0) return pid;
    for (int s : {SIGINT, SIGTERM, SIGHUP}) signal(s, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    int null = open("/dev/null", O_WRONLY);
    dup2(out >= 0 ? out : null, 1);
    dup2(null, 2);
    std::vector<char*> argv = {(char*)MAVUSFX_TOOL};
    for (const std::string& w : words) argv.push_back((char*)w.c_str());
    argv.push_back(nullptr);
    execv(MAVUSFX_TOOL, argv.data());
    _exit(127);
}

int wait_for(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    return status;
}

// Waits (at most 30 s) until `folder` holds a temporary; false when the run ended first.
bool wait_for_temporary(pid_t pid, const std::string& folder) {
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < until) {
        if (!temporaries_in(folder).empty()) return true;
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    return false;
}

// ---- outputs that are not plain files ----------------------------------------

TEST(ToolOutputs, StandardOutputFifosAndDevicesAreWrittenIntoAndKept) {
    ScratchFolder scratch;
    std::string app = small_app(scratch);
    ASSERT_EQ(run_tool(Words{"pack", app, "-o", scratch / "ref.lzh"}).status, 0);
    ASSERT_EQ(run_tool(Words{"make", "--from", app, "-o", scratch / "ref.exe"}).status, 0);
    Bytes archive = read_file(scratch / "ref.lzh"), installer = read_file(scratch / "ref.exe");

    // "-": the bytes on stdout, the summary on stderr.
    ToolRun packed = run_tool(Words{"pack", app, "-o", "-"});
    EXPECT_EQ(packed.status, 0) << packed.err;
    EXPECT_TRUE(bytes_of(packed.out) == archive);
    EXPECT_NE(packed.err.find("2 files and 1 folders"), std::string::npos) << packed.err;
    ToolRun made = run_tool(Words{"make", "--from", app, "-o", "-"});
    EXPECT_EQ(made.status, 0) << made.err;
    EXPECT_TRUE(bytes_of(made.out) == installer);
    EXPECT_EQ(made.err.find("standard output: stub"), 0u) << made.err;
    EXPECT_FALSE(file_exists(scratch / "-"));
    write_file(scratch / "setup.toml", bytes_of("from = \"app\"\noutput = \"-\"\n"));
    ToolRun configured = run_tool(Words{"make", "--config", scratch / "setup.toml"});
    EXPECT_EQ(configured.status, 0) << configured.err;
    EXPECT_TRUE(bytes_of(configured.out) == installer);
    EXPECT_FALSE(file_exists(scratch / "-"));
    // Not to a terminal, though (script gives the tool one).
    std::string typed = "script -qec \"'" + std::string(MAVUSFX_TOOL) + "' pack '" + app + "' -o -\" /dev/null";
    FILE* terminal = popen(typed.c_str(), "r");
    ASSERT_NE(terminal, nullptr);
    std::string shown;
    char piece[256];
    while (fgets(piece, sizeof piece, terminal) != nullptr) shown += piece;
    EXPECT_EQ(WEXITSTATUS(pclose(terminal)), 2) << shown;
    EXPECT_NE(shown.find("mavusfx: standard output: a terminal, which takes no archive"), std::string::npos) << shown;

    // A FIFO is written into and stays a FIFO.
    std::string fifo = scratch / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0666), 0);
    Bytes through;
    std::thread reader([&] { through = read_file(fifo); });
    ToolRun into_fifo = run_tool(Words{"pack", app, "-o", fifo});
    reader.join();
    EXPECT_EQ(into_fifo.status, 0) << into_fifo.err;
    EXPECT_TRUE(through == archive);
    EXPECT_EQ(kind_of(fifo), (mode_t)S_IFIFO);

    // A character device made here (where this user may) is written into and kept.
    std::string device = scratch / "null";
    if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        EXPECT_EQ(run_tool(Words{"make", "--from", app, "-o", device}).status, 0);
        EXPECT_EQ(kind_of(device), (mode_t)S_IFCHR);
    }
    // Devices: /dev/null takes everything; /dev/full is full, said in one line.
    EXPECT_EQ(run_tool(Words{"pack", app, "-o", "/dev/null"}).status, 0);
    EXPECT_EQ(kind_of("/dev/null"), (mode_t)S_IFCHR);
    for (const Words& words : {Words{"make", "--from", app, "-o", "/dev/full"}, Words{"pack", app, "-o", "/dev/full"}}) {
        ToolRun full = run_tool(words);
        EXPECT_EQ(full.status, 1) << words[0];
        EXPECT_EQ(full.err, "mavusfx: /dev/full: No space left on device\n");
        EXPECT_EQ(kind_of("/dev/full"), (mode_t)S_IFCHR);
    }
}

TEST(ToolOutputs, LinksAreWrittenThroughFoldersRefusedAndMissingFoldersMade) {
    ScratchFolder scratch;
    std::string app = small_app(scratch);
    ASSERT_EQ(run_tool(Words{"pack", app, "-o", scratch / "ref.lzh"}).status, 0);

    // A link to a file: the file gets the archive, the link stays.
    write_file(scratch / "real.lzh", bytes_of("old"));
    ASSERT_EQ(symlink("real.lzh", (scratch / "link.lzh").c_str()), 0);
    ToolRun through = run_tool(Words{"pack", app, "-o", scratch / "link.lzh"});
    EXPECT_EQ(through.status, 0) << through.err;
    EXPECT_EQ(kind_of(scratch / "link.lzh"), (mode_t)S_IFLNK);
    EXPECT_TRUE(read_file(scratch / "real.lzh") == read_file(scratch / "ref.lzh"));

    // A link that leads nowhere is refused, and nothing is made.
    ASSERT_EQ(symlink("nowhere.exe", (scratch / "dangling.exe").c_str()), 0);
    ToolRun dangling = run_tool(Words{"make", "--from", app, "-o", scratch / "dangling.exe"});
    EXPECT_EQ(dangling.status, 2);
    EXPECT_EQ(dangling.err, "mavusfx: " + (scratch / "dangling.exe") +
                                ": a symbolic link that leads nowhere: not followed\n");
    EXPECT_FALSE(file_exists(scratch / "nowhere.exe"));

    // A folder is no output.
    for (const Words& words : {Words{"pack", app, "-o", scratch.path()}, Words{"make", "--from", app, "-o", scratch.path()}}) {
        ToolRun folder = run_tool(words);
        EXPECT_EQ(folder.status, 2) << words[0];
        EXPECT_EQ(folder.err, "mavusfx: " + scratch.path() + ": is a folder\n");
    }

    // The folders on the way to a new output are made.
    ToolRun nested = run_tool(Words{"make", "--from", app, "-o", scratch / "dist/win32/setup.exe"});
    EXPECT_EQ(nested.status, 0) << nested.err;
    EXPECT_TRUE(file_exists(scratch / "dist/win32/setup.exe"));
    EXPECT_EQ(temporaries_in(scratch / "dist/win32"), std::vector<std::string>{});
    write_file(scratch / "plain", bytes_of("x"));
    ToolRun blocked = run_tool(Words{"pack", app, "-o", scratch / "plain/out.lzh"});
    EXPECT_EQ(blocked.status, 2);
    EXPECT_NE(blocked.err.find("plain is not a folder"), std::string::npos) << blocked.err;
}

// ---- signals -----------------------------------------------------------------

// A signal in the middle of packing, making or extracting takes the temporary away,
// and the tool dies of the signal, as its parent expects.
TEST(ToolSignals, ARunStoppedBySignalLeavesNoTemporaryAndDiesOfIt) {
    ScratchFolder scratch;
    std::string big = scratch / "big";
    mkdir(big.c_str(), 0777);
    for (int i = 0; i < 4; i++) write_file(big + "/part" + std::to_string(i), noise(12 << 20, 10 + i));
    ASSERT_EQ(run_tool(Words{"pack", big, "-o", scratch / "big.lzh", "--method", "lh0"}).status, 0);
    std::string out = scratch / "out";
    mkdir(out.c_str(), 0777);

    struct Case {
        int signal_number;
        Words words;
    } cases[] = {
        {SIGINT, {"pack", big, "-o", out + "/big.lzh"}},
        {SIGTERM, {"make", "--from", big, "-o", out + "/setup.exe"}},
        {SIGHUP, {"pack", big, "-o", out + "/big.lzh"}},
        {SIGINT, {"extract", "-C", out, scratch / "big.lzh"}},
        {SIGTERM, {"extract", "-C", out, scratch / "big.lzh"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.words[0] + " " + strsignal(c.signal_number));
        pid_t pid = start_tool(c.words);
        bool caught = wait_for_temporary(pid, out);
        if (caught) kill(pid, c.signal_number);
        int status = wait_for(pid);
        ASSERT_TRUE(caught) << "the run ended before a temporary was seen";
        EXPECT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WIFSIGNALED(status) ? WTERMSIG(status) : 0, c.signal_number);
        EXPECT_EQ(temporaries_in(out), std::vector<std::string>{});
        EXPECT_FALSE(file_exists(out + "/big.lzh"));
        EXPECT_FALSE(file_exists(out + "/setup.exe"));
    }
}

// ---- a full disk -------------------------------------------------------------

// A 1 MiB tmpfs mounted while the object lives; `mounted` false where this machine
// does not allow it.
class SmallDisk {
public:
    explicit SmallDisk(const std::string& path, const char* options = "size=1m") : path_(path) {
        mkdir(path.c_str(), 0777);
        mounted = mount("tmpfs", path.c_str(), "tmpfs", 0, options) == 0;
        if (!mounted) why = strerror(errno);
    }
    ~SmallDisk() {
        if (mounted) umount2(path_.c_str(), MNT_DETACH);
    }
    bool mounted;
    std::string why;
private:
    std::string path_;
};

TEST(ToolFullDisk, TheFirstWriteThatFindsNoRoomStopsTheRunInOneLine) {
    ScratchFolder scratch;
    std::string app = scratch / "app";
    mkdir(app.c_str(), 0777);
    write_file(app + "/big.bin", noise(3 << 20, 3));
    ASSERT_EQ(run_tool(Words{"pack", app, "-o", scratch / "big.lzh"}).status, 0);
    std::string disk = scratch / "disk";
    SmallDisk small(disk);
    if (!small.mounted) GTEST_SKIP() << "a tmpfs cannot be mounted here: " << small.why;

    for (const Words& words : {Words{"pack", app, "-o", disk + "/app.lzh"},
                               Words{"make", "--from", app, "-o", disk + "/setup.exe"},
                               Words{"make", "--archive", scratch / "big.lzh", "-o", disk + "/setup.exe"}}) {
        SCOPED_TRACE(words[0] + " " + words[1]);
        ToolRun run = run_tool(words);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "mavusfx: " + words[words.size() - 1] + ": No space left on device\n");
        EXPECT_EQ(folder_entries(disk), std::vector<std::string>{});
    }
}

// The free-space check passes; then the disk fills while the tool waits on its
// stdout (a pipe left full), before the big member is written.
TEST(ToolFullDisk, ExtractionStopsAtTheFirstMemberThatFindsNoRoom) {
    ScratchFolder scratch;
    TestMember first, big, after;
    first.name = "first.txt";
    first.data = bytes_of("1");
    big.name = "big.bin";
    big.data = noise(600 << 10, 4);
    after.name = "after.txt";
    after.data = bytes_of("2");
    write_file(scratch / "a.lzh", build_archive({first, big, after}));
    std::string disk = scratch / "disk";
    SmallDisk small(disk);
    if (!small.mounted) GTEST_SKIP() << "a tmpfs cannot be mounted here: " << small.why;

    int pipe_ends[2];
    ASSERT_EQ(pipe(pipe_ends), 0);
    fcntl(pipe_ends[1], F_SETPIPE_SZ, 4096);
    fcntl(pipe_ends[1], F_SETFL, O_NONBLOCK);
    char fill[512] = {};
    while (write(pipe_ends[1], fill, sizeof fill) > 0) {}
    fcntl(pipe_ends[1], F_SETFL, 0);

    std::string errors = scratch / "errors";
    pid_t pid = fork();
    if (pid == 0) {
        int err = open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        dup2(pipe_ends[1], 1);
        dup2(err, 2);
        close(pipe_ends[0]);
        execl(MAVUSFX_TOOL, MAVUSFX_TOOL, "extract", "-C", disk.c_str(), (scratch / "a.lzh").c_str(), (char*)nullptr);
        _exit(127);
    }
    close(pipe_ends[1]);
    // The tool comes to wait on printing the first member's name (the kernel says
    // where it sleeps); then the disk fills.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < until &&
           text_of(read_file("/proc/" + std::to_string(pid) + "/wchan")).find("pipe") == std::string::npos)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    FILE* filler = fopen((disk + "/filler").c_str(), "wb");
    ASSERT_NE(filler, nullptr);
    Bytes chunk(64 << 10);
    for (int i = 0; i < 8 && fwrite(chunk.data(), 1, chunk.size(), filler) == chunk.size(); i++) {}
    fclose(filler);
    std::string printed;
    char buffer[4096];
    ssize_t got;
    while ((got = read(pipe_ends[0], buffer, sizeof buffer)) > 0) printed.append(buffer, (size_t)got);
    close(pipe_ends[0]);
    int status = wait_for(pid);

    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(text_of(read_file(errors)), "mavusfx: big.bin: No space left on device\n");
    EXPECT_EQ(printed.find("after.txt"), std::string::npos) << "the run went on";
    EXPECT_EQ(folder_entries(disk), (std::vector<std::string>{"filler", "first.txt"}));
}

// Out of inodes, no file can be made: the first member that cannot be is the last
// one tried.
TEST(ToolFullDisk, ExtractionStopsAtTheFirstFileThatCannotBeMade) {
    ScratchFolder scratch;
    std::vector<TestMember> members(12);
    for (size_t i = 0; i < members.size(); i++) {
        members[i].name = "f" + std::to_string(10 + i) + ".txt";
        members[i].data = bytes_of("x");
    }
    write_file(scratch / "many.lzh", build_archive(members));
    std::string disk = scratch / "disk";
    SmallDisk small(disk, "size=1m,nr_inodes=6");
    if (!small.mounted) GTEST_SKIP() << "a tmpfs cannot be mounted here: " << small.why;
    ToolRun run = run_tool(Words{"extract", "-C", disk, scratch / "many.lzh"});
    EXPECT_EQ(run.status, 1);
    std::regex one_line("mavusfx: f[0-9]+\\.txt: No space left on device\n");
    EXPECT_TRUE(std::regex_match(run.err, one_line)) << run.err;
    EXPECT_EQ(temporaries_in(disk), std::vector<std::string>{});
    EXPECT_LT(folder_entries(disk).size(), members.size());
}

// ---- a folder where a file belongs -------------------------------------------

TEST(ToolInputs, AFolderWhereAFileBelongsIsRefused) {
    ScratchFolder scratch;
    std::string app = small_app(scratch);
    std::string folder = scratch / "folder";
    mkdir(folder.c_str(), 0777);
    for (const Words& words : {Words{"test", folder}, Words{"list", folder}, Words{"extract", folder},
                               Words{"make", "--config", folder}, Words{"make", "--archive", folder, "-o", scratch / "s.exe"},
                               Words{"make", "--stub", folder, "--from", app, "-o", scratch / "s.exe"}}) {
        ToolRun run = run_tool(words);
        EXPECT_EQ(run.status, 2) << words[0] << " " << words[1];
        EXPECT_EQ(run.err, "mavusfx: " + folder + ": is a folder\n");
        EXPECT_EQ(run.out, "");
    }
    // Not an archive: the file is named.
    write_file(scratch / "junk.lzh", bytes_of("not an archive at all"));
    for (const char* command : {"test", "extract", "list"}) {
        ToolRun run = run_tool(Words{command, scratch / "junk.lzh"});
        EXPECT_EQ(run.status, 2) << command;
        EXPECT_EQ(run.err, "mavusfx: " + (scratch / "junk.lzh") + ": not an LHA archive\n") << command;
    }
}

}  // namespace

// ---- make's settings ------------------------------------------------------------

namespace {

std::string list_of(const std::string& file) { return run_tool(Words{"list", file}).out; }

TEST(MakeSettings, TheFileSaysWhatTheCommandLineSaysAndBadValuesNameItsLine) {
    ScratchFolder scratch;
    std::string app = small_app(scratch);
    write_file(app + "/scratch.tmp", bytes_of("x"));
    write_file(app + "/words.txt", bytes_of(std::string(5000, 'w')));
    mkdir((app + "/cache").c_str(), 0777);
    write_file(app + "/cache/a.bin", bytes_of("x"));
    std::string config = scratch / "setup.toml";
    write_file(config, bytes_of("from = \"app\"\noutput = \"dist/setup.exe\"\nexclude = [\"*.tmp\", \"cache/\"]\n"
                                "method = \"lh5\"\ntitle = \"Tool\"\n"));
    ToolRun made = run_tool(Words{"make", "--config", config});
    ASSERT_EQ(made.status, 0) << made.err;
    std::string listed = list_of(scratch / "dist/setup.exe");
    EXPECT_NE(listed.find("readme.txt"), std::string::npos) << listed;
    EXPECT_EQ(listed.find("scratch.tmp"), std::string::npos) << listed;
    EXPECT_EQ(listed.find("cache"), std::string::npos) << listed;
    EXPECT_NE(listed.find("-lh5-"), std::string::npos) << listed;

    // --archive on the command line takes the place of the file's folder.
    ASSERT_EQ(run_tool(Words{"pack", scratch / "app/bin", "-o", scratch / "bin.lzh"}).status, 0);
    ToolRun replaced = run_tool(Words{"make", "--config", config, "--archive", scratch / "bin.lzh"});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    listed = list_of(scratch / "dist/setup.exe");
    EXPECT_NE(listed.find("tool.exe"), std::string::npos) << listed;
    EXPECT_EQ(listed.find("readme.txt"), std::string::npos) << listed;

    struct Case {
        const char* line;
        const char* says;
    } cases[] = {
        {"start-menu = \"on\"", "start-menu takes off, offer, checked or forced, not 'on'"},
        {"method = \"lh9\"", "method takes lh7, lh6, lh5 or lh0, not 'lh9'"},
        {"elevation = \"root\"", "elevation takes invoker, highest or admin, not 'root'"},
        {"dest = \"CON\"", "dest 'CON' is not a folder Windows can make (a device name)"},
        {"exclude = [\"*.tmp\", 3]", "exclude takes a list of strings"},
        {"archive = \"bin.lzh\"", "gives both archive and from"},
    };
    for (const Case& c : cases) {
        write_file(config, bytes_of(std::string("from = \"app\"\noutput = \"setup.exe\"\n") + c.line + "\n"));
        ToolRun run = run_tool(Words{"make", "--config", config});
        EXPECT_EQ(run.status, 2) << c.line;
        std::string where = strstr(c.says, "both") != nullptr ? config : config + ":3";
        EXPECT_EQ(run.err.rfind("mavusfx: " + where + ": ", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
    }
}

// The installer makes the destination as it is given: every part must be a name
// Windows can make, and none may climb out of the folder it is joined to.
TEST(MakeSettings, TheDestinationIsCheckedWhenTheInstallerIsMade) {
    ScratchFolder scratch;
    std::string app = small_app(scratch);
    struct Case {
        const char* dest;
        const char* says;  // null: accepted
    } cases[] = {
        {"Tool<>|", "is not a folder Windows can make (a character Windows forbids"},
        {"a:b", "names a drive without a folder"},
        {"CON", "is not a folder Windows can make (a device name)"},
        {"Vendor\\nul.txt", "is not a folder Windows can make (a device name)"},
        {"Tool.", "is not a folder Windows can make (a name ending in a dot or a space)"},
        {"..\\..\\Windows", "has a '.' or '..' part"},
        {"Tool\tX", "is not a folder Windows can make (a control character)"},
        {"\\Tool", "begins with a separator but has no drive"},
        {"1:\\Tool", "has no drive letter"},
        {"Tool", nullptr},
        {"Vendor\\Tool", nullptr},
        {"D:\\Apps\\Tool", nullptr},
        {"d:/Apps/Tool", nullptr},
        {"ソフト\\表示", nullptr},  // trail bytes 0x5C are no separators
    };
    for (const Case& c : cases) {
        ToolRun run = run_tool(Words{"make", "--from", app, "-o", scratch / "setup.exe", "--dest", c.dest});
        if (c.says == nullptr) {
            EXPECT_EQ(run.status, 0) << c.dest << run.err;
            continue;
        }
        EXPECT_EQ(run.status, 2) << c.dest;
        EXPECT_EQ(run.err.rfind("mavusfx: --dest '", 0), 0u) << run.err;
        EXPECT_NE(run.err.find(c.says), std::string::npos) << run.err;
    }
}

}  // namespace

// ---- times ----------------------------------------------------------------------

namespace {

// Levels 0 and 1 hold local time: shown as stored, whatever zone lists them.
TEST(ToolTimes, ListShowsLocalTimesAsStoredAndMarksUtc) {
    std::string level1 = corpus_path("lh0_level1.lzh"), level2 = corpus_path("lh0_level2.lzh");
    ToolRun tokyo = run_tool(Words{"list", level1}, "TZ=Asia/Tokyo");
    ToolRun utc = run_tool(Words{"list", level1}, "TZ=UTC");
    EXPECT_EQ(tokyo.out, utc.out);
    EXPECT_NE(utc.out.find("2010-02-05 08:24:42   1980  one.bin"), std::string::npos) << utc.out;
    EXPECT_EQ(utc.out.find("UTC"), std::string::npos) << utc.out;
    ToolRun marked = run_tool(Words{"list", level2}, "TZ=Asia/Tokyo");
    EXPECT_NE(marked.out.find(":54Z  de3c  "), std::string::npos) << marked.out;
}

// A time that a header cannot hold is stored at the nearest end it can, with a
// word, and reads back as that, not as a wrapped-around year.
TEST(ToolTimes, TimesOutsideTheHeadersRangeAreKeptAtItsEndWithAWarning) {
    ScratchFolder scratch;
    std::string app = scratch / "app";
    mkdir(app.c_str(), 0777);
    write_file(app + "/future.txt", bytes_of("f"));
    write_file(app + "/past.txt", bytes_of("p"));
    write_file(app + "/now.txt", bytes_of("n"));
    struct utimbuf future = {7258118400, 7258118400}, past = {157766400, 157766400};  // 2200, 1975
    ASSERT_EQ(utime((app + "/future.txt").c_str(), &future), 0);
    ASSERT_EQ(utime((app + "/past.txt").c_str(), &past), 0);
    for (const char* level : {"0", "2"}) {
        SCOPED_TRACE(level);
        ToolRun packed = run_tool(Words{"pack", app, "-o", scratch / "a.lzh", "--level", level}, "TZ=UTC");
        EXPECT_EQ(packed.status, 0);
        EXPECT_NE(packed.err.find("mavusfx: warning: future.txt: dated 2200-01-01, which a level-" +
                                  std::string(level) + " header cannot hold; stored as 2106-02-0"),
                  std::string::npos) << packed.err;
        EXPECT_EQ(packed.err.find("past.txt") == std::string::npos, level[0] == '2') << packed.err;
        EXPECT_EQ(packed.err.find("now.txt"), std::string::npos) << packed.err;
        std::string listed = run_tool(Words{"list", scratch / "a.lzh"}, "TZ=UTC").out;
        EXPECT_NE(listed.find("2106-02-0"), std::string::npos) << listed;
        EXPECT_EQ(listed.find("1971-"), std::string::npos) << listed;
        EXPECT_EQ(listed.find("1980-01-01") != std::string::npos, level[0] == '0') << listed;
    }
}

}  // namespace

// ---- bash completion -------------------------------------------------------------

namespace {

// The completion's answers for `line` (words split at spaces, the last the one being
// completed; bash splits "--method=" at the '=' itself), run in `folder`.
std::vector<std::string> completed(const std::string& folder, const std::vector<std::string>& words) {
    std::string command = "cd '" + folder + "' && bash -c '. \"$1\"; shift; COMP_WORDS=(\"$@\"); "
                          "COMP_CWORD=$(($# - 1)); _mavusfx; printf \"%s\\n\" \"${COMPREPLY[@]}\"' _ '" +
                          source_path("tools/mavusfx-completion.bash") + "'";
    for (const std::string& w : words) command += " '" + w + "'";
    FILE* pipe = popen(command.c_str(), "r");
    std::vector<std::string> answers;
    char line[512];
    while (pipe != nullptr && fgets(line, sizeof line, pipe) != nullptr) {
        std::string answer = line;
        if (!answer.empty() && answer.back() == '\n') answer.pop_back();
        if (!answer.empty()) answers.push_back(answer);
    }
    if (pipe != nullptr) pclose(pipe);
    std::sort(answers.begin(), answers.end());
    return answers;
}

TEST(ToolCompletion, ValuesFoldersAndFilesWhereEachBelongs) {
    ScratchFolder scratch;
    mkdir((scratch / "dir").c_str(), 0777);
    for (const char* name : {"a.lzh", "b.LZH", "setup.exe", "notes.txt", "setup.toml"})
        write_file(scratch / name, bytes_of("x"));
    using Answers = std::vector<std::string>;
    const std::string& here = scratch.path();
    EXPECT_EQ(completed(here, {"mavusfx", "make", "--method", ""}), (Answers{"lh0", "lh5", "lh6", "lh7"}));
    EXPECT_EQ(completed(here, {"mavusfx", "make", "--method", "=", ""}), (Answers{"lh0", "lh5", "lh6", "lh7"}));
    EXPECT_EQ(completed(here, {"mavusfx", "pack", "dir", "--method", "=", "lh"}), (Answers{"lh0", "lh5", "lh6", "lh7"}));
    EXPECT_EQ(completed(here, {"mavusfx", "make", "--elevation", ""}), (Answers{"admin", "highest", "invoker"}));
    EXPECT_EQ(completed(here, {"mavusfx", "make", "--elevation", "=", "h"}), (Answers{"highest"}));
    EXPECT_EQ(completed(here, {"mavusfx", "help", ""}), (Answers{"extract", "list", "make", "pack", "test"}));
    EXPECT_EQ(completed(here, {"mavusfx", "help", "make", ""}), Answers{});
    EXPECT_EQ(completed(here, {"mavusfx", "extract", "-C", ""}), Answers{"dir"});
    EXPECT_EQ(completed(here, {"mavusfx", "extract", "--directory", "=", ""}), Answers{"dir"});
    EXPECT_EQ(completed(here, {"mavusfx", "pack", "dir", "--output", ""}), (Answers{"a.lzh", "b.LZH", "dir"}));
    EXPECT_EQ(completed(here, {"mavusfx", "pack", "dir", "-o", ""}), (Answers{"a.lzh", "b.LZH", "dir"}));
    EXPECT_EQ(completed(here, {"mavusfx", "make", "--config", ""}), (Answers{"dir", "setup.toml"}));
    EXPECT_EQ(completed(here, {"mavusfx", "make", "--title", ""}), Answers{});
    EXPECT_EQ(completed(here, {"mavusfx", "list", ""}), (Answers{"a.lzh", "b.LZH", "dir", "setup.exe"}));
    EXPECT_EQ(completed(here, {"mavusfx", "extract", "--w"}), Answers{"--windows-names"});
    EXPECT_EQ(completed(here, {"mavusfx", "test", "--w"}), Answers{"--windows-names"});
}

}  // namespace
