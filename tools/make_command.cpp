// mavusfx make: joins a stub, a configuration block and an LHA archive (given, or
// packed from a folder) into one self-extracting file.  The settings come from the
// command line and from a TOML file (--config), the command line winning.  The
// result is written through a temporary file beside the output and renamed over it
// only when complete, so a failure leaves nothing half-written.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <vector>

#include "engine/extraction_loop.h"
#include "engine/path_text.h"
#include "engine/shift_jis.h"
#include "engine/unsafe_member_path.h"
#include "platform/host_services.h"
#include "platform/system_services.h"
#include "platform/text_conversion.h"
#include "engine/windows_names.h"
#include "frontend/pe_image.h"
#include "tools/command_line.h"
#include "tools/embedded_stub.h"
#include "tools/execution_level.h"
#include "tools/installer_identity.h"
#include "tools/pack/folder_packer.h"
#include "tools/local_names.h"
#include "tools/make_config.h"
#include "tools/member_name_notes.h"
#include "tools/pe_resources.h"
#include "tools/replacing_file.h"
#include "tools/tool.h"

namespace {

enum { TEXT_LIMIT = 255, COPY_CHUNK = 65536, HEAD_BYTES = 4096 };

const char HELP[] =
    "usage: mavusfx make (--archive A.lzh | --from DIR) -o OUT.exe [SETTING...]\n"
    "       mavusfx make --config SETUP.toml [SETTING...]\n"
    "Joins the stub, a configuration block and the archive (or DIR, packed as by\n"
    "'mavusfx pack') into OUT.exe.\n"
    "\n"
    "      --stub=FILE              another stub than the one this tool carries, unsigned\n"
    "      --archive=FILE           the archive to join\n"
    "      --from=DIR               pack DIR instead (OUT.exe inside it is left out)\n"
    "      --method=METHOD          with --from: lh7 (default), lh6, lh5 or lh0\n"
    "      --exclude=GLOB           with --from: leave out what GLOB matches, as pack\n"
    "                               does (as often as needed)\n"
    "  -o, --output=FILE            the file to write ('-': stdout); never an input\n"
    "      --config=FILE            settings from a TOML file, keys named as these\n"
    "                               options (output = \"setup.exe\"); its paths are\n"
    "                               relative to its folder; options given here win\n"
    "                               (exclude = [\"*.tmp\"] is a list)\n"
    "      --title=TEXT             the window's title\n"
    "      --dest=NAME              the destination offered (D:\\Apps\\Tool, or a name\n"
    "                               below Program Files or the current folder)\n"
    "      --program-files          NAME is under Program Files (else the current folder)\n"
    "      --elevation=LEVEL        invoker, highest or admin: the rights the installer\n"
    "                               asks for (default: admin under Program Files,\n"
    "                               else invoker)\n"
    "      --shortcut-target=PATH   the file (or folder) the shortcuts point to\n"
    "      --start-menu=MODE        the Start menu shortcut\n"
    "      --desktop=MODE           the desktop shortcut\n"
    "      --send-to=MODE           the Send To shortcut\n"
    "      --launch=PATH            the file opened after a complete extraction\n"
    "      --no-config              the one-byte empty block: no dialog, extraction\n"
    "                               into the current folder\n"
    "      --icon=FILE.ico          the installer's icon (its window and Explorer)\n"
    "      --product-name=TEXT      the file properties' product name\n"
    "      --company=TEXT           ... company\n"
    "      --description=TEXT       ... file description (the elevation prompt's name)\n"
    "      --product-version=VER    ... product version (default: --file-version)\n"
    "      --file-version=VER       ... file version (default: --product-version)\n"
    "      --copyright=TEXT         ... copyright\n"
    "  -h, --help                   this text\n"
    "\n"
    "MODE is off (not offered), offer (box unchecked), checked (box checked) or\n"
    "forced (always made, box disabled).  Texts are given in UTF-8; the block's are\n"
    "stored as Shift-JIS, at most 255 bytes each, the properties' as UTF-16, at most\n"
    "255 characters each.  PATHs are relative to the destination and must name a\n"
    "member of the archive.  VER is dotted numbers, at most four, each at most\n"
    "65535 (1.2.0.7).  Without --icon and the properties the installer keeps the\n"
    "stub's icon and properties.  Sign OUT.exe after make (osslsigncode sign): make\n"
    "refuses a signed stub.\n";

enum Setting {
    SET_STUB, SET_ARCHIVE, SET_FROM, SET_METHOD, SET_OUTPUT, SET_CONFIG, SET_TITLE, SET_DEST,
    SET_PROGRAM_FILES, SET_SHORTCUT_TARGET, SET_START_MENU, SET_DESKTOP, SET_SEND_TO, SET_LAUNCH,
    SET_NO_CONFIG, SET_ELEVATION, SET_EXCLUDE, SET_ICON, SET_PRODUCT_NAME, SET_COMPANY, SET_DESCRIPTION,
    SET_PRODUCT_VERSION, SET_FILE_VERSION, SET_COPYRIGHT
};

// The options and the keys of the settings file, one list.
struct SettingEntry {
    const char* name;
    ConfigValueKind kind;
    Setting id;
};
const SettingEntry SETTINGS[] = {
    {"stub", CONFIG_PATH, SET_STUB},
    {"archive", CONFIG_PATH, SET_ARCHIVE},
    {"from", CONFIG_PATH, SET_FROM},
    {"method", CONFIG_TEXT, SET_METHOD},
    {"output", CONFIG_PATH, SET_OUTPUT},
    {"title", CONFIG_TEXT, SET_TITLE},
    {"dest", CONFIG_TEXT, SET_DEST},
    {"program-files", CONFIG_SWITCH, SET_PROGRAM_FILES},
    {"shortcut-target", CONFIG_TEXT, SET_SHORTCUT_TARGET},
    {"start-menu", CONFIG_TEXT, SET_START_MENU},
    {"desktop", CONFIG_TEXT, SET_DESKTOP},
    {"send-to", CONFIG_TEXT, SET_SEND_TO},
    {"launch", CONFIG_TEXT, SET_LAUNCH},
    {"no-config", CONFIG_SWITCH, SET_NO_CONFIG},
    {"elevation", CONFIG_TEXT, SET_ELEVATION},
    {"icon", CONFIG_PATH, SET_ICON},
    {"product-name", CONFIG_TEXT, SET_PRODUCT_NAME},
    {"company", CONFIG_TEXT, SET_COMPANY},
    {"description", CONFIG_TEXT, SET_DESCRIPTION},
    {"product-version", CONFIG_TEXT, SET_PRODUCT_VERSION},
    {"file-version", CONFIG_TEXT, SET_FILE_VERSION},
    {"copyright", CONFIG_TEXT, SET_COPYRIGHT},
    {"exclude", CONFIG_LIST, SET_EXCLUDE},
};

struct MakeOptions {
    std::map<int, std::string> values;  // by Setting; switches "true" or "false"
    std::vector<std::string> exclude;   // the file's, then each --exclude

    bool has(Setting s) const { return values.count(s) != 0 && !values.at(s).empty(); }
    bool on(Setting s) const { return values.count(s) != 0 && values.at(s) == "true"; }
    const char* text(Setting s) const { return has(s) ? values.at(s).c_str() : ""; }
};

int fail(const char* format, const std::string& a, const std::string& b = "") {
    fflush(stdout);
    fputs("mavusfx: ", stderr);
    fprintf(stderr, format, a.c_str(), b.c_str());
    fputc('\n', stderr);
    return EXIT_USAGE;
}

std::string shown(const std::string& local) { return shown_local(local.c_str()); }

bool is_folder(const char* path) {
    PathInfo info = {};
    return platform_path_info(path, &info) && info.is_folder;
}

/* off: not offered; offer: offered, unchecked; checked: offered, checked; forced:
 * always created, the box disabled but checked. */
bool option_value(const std::string& word, uint8_t* out) {
    static const char* const WORDS[] = {"off", "offer", "forced", "checked"};
    for (uint8_t value = 0; value < 4; value++)
        if (word == WORDS[value]) {
            *out = value;
            return true;
        }
    return false;
}

/* Where the installer may make its destination: a folder below Program Files or
 * the current folder, or one with a drive ("D:\\Apps\\Tool").  The installer takes
 * the name as it is (no %VARIABLES%, no special folders), so every part of it must
 * be a name Windows can make, and none may climb out with "..". */
std::string dest_problem(const std::string& utf8) {
    char sjis[4 * (TEXT_LIMIT + 1)];
    if (utf8.size() >= sizeof sjis || !platform_utf8_to_sjis(utf8.c_str(), sjis, sizeof sjis))
        return "";  // told as a text that Shift-JIS cannot hold
    std::string quoted = "'" + shown_local(utf8.c_str()) + "'";
    const char* name = sjis;
    if (name[0] != 0 && name[1] == ':') {
        char drive = (char)(name[0] | 0x20);
        if (drive < 'a' || drive > 'z') return quoted + " has no drive letter before its ':'";
        if (name[2] != '\\' && name[2] != '/')
            return quoted + " names a drive without a folder (D:\\Apps): Windows would take it relative "
                            "to that drive's current folder";
        name += 3;
    } else if (name[0] == '\\' || name[0] == '/') {
        return quoted + " begins with a separator but has no drive: give D:\\Apps\\Tool, or a name "
                        "below Program Files or the current folder";
    }
    const char* component = name;
    for (const char* p = name;; p++) {
        if (*p != 0 && *p != '/' && *p != '\\') {
            if (is_sjis_lead_byte((unsigned char)*p) && p[1] != 0) p++;
            continue;
        }
        size_t length = (size_t)(p - component);
        if ((length == 1 && component[0] == '.') || (length == 2 && component[0] == '.' && component[1] == '.'))
            return quoted + " has a '.' or '..' part: the installer would not stay in the folder it names";
        if (*p == 0) break;
        component = p + 1;
    }
    if (const char* why = windows_name_problem(name, strlen(name)))
        return quoted + " is not a folder Windows can make (" + why + ")";
    return "";
}

/* A text of the block: UTF-8 that becomes at most 255 bytes of Shift-JIS. */
std::string text_problem(const std::string& utf8) {
    char converted[4 * (TEXT_LIMIT + 1)];
    if (utf8.size() >= sizeof converted) return "is too long: at most 255 bytes in Shift-JIS";
    if (!platform_utf8_to_sjis(utf8.c_str(), converted, sizeof converted))
        return "'" + shown_local(utf8.c_str()) + "' cannot be written in Shift-JIS";
    if (strlen(converted) > TEXT_LIMIT) return "is too long: at most 255 bytes in Shift-JIS";
    return "";
}

/* One check of each value, for the file and the command line alike. */
std::string setting_problem(int id, const std::string& value) {
    std::string not_this = ", not '" + shown_local(value.c_str()) + "'";
    uint8_t mode;
    unsigned bits;
    ExecutionLevel level;
    switch (id) {
    case SET_METHOD:
        return method_bits(value.c_str(), &bits) ? "" : "takes lh7, lh6, lh5 or lh0" + not_this;
    case SET_START_MENU:
    case SET_DESKTOP:
    case SET_SEND_TO:
        return option_value(value, &mode) ? "" : "takes off, offer, checked or forced" + not_this;
    case SET_ELEVATION:
        return parse_execution_level(value.c_str(), &level) ? "" : "takes invoker, highest or admin" + not_this;
    case SET_DEST: {
        std::string problem = text_problem(value);
        return problem.empty() ? dest_problem(value) : problem;
    }
    case SET_TITLE:
    case SET_SHORTCUT_TARGET:
    case SET_LAUNCH:
        return text_problem(value);
    case SET_PRODUCT_VERSION:
    case SET_FILE_VERSION:
        return version_problem(value);
    case SET_PRODUCT_NAME:
    case SET_COMPANY:
    case SET_DESCRIPTION:
    case SET_COPYRIGHT:
        return property_text_problem(value);
    }
    return "";
}

/* The settings file first, then the command line over it.  An archive or a folder
 * given on the command line takes the place of the file's, with what the file says
 * of packing its folder. */
int read_options(int argc, char** argv, MakeOptions* o) {
    std::vector<KnownOption> known = {{"output", 'o', true, SET_OUTPUT}, {"config", 0, true, SET_CONFIG},
                                     HELP_OPTION};
    for (const SettingEntry& s : SETTINGS)
        if (s.id != SET_OUTPUT) known.push_back({s.name, 0, s.kind != CONFIG_SWITCH, s.id});
    CommandLine line;
    if (!parse_command_line("make", argc, argv, known, &line)) return EXIT_USAGE;
    if (line.wants_help) return print_help(HELP), -1;
    if (!line.operands.empty())
        return usage_error("make", "unexpected argument '%s'", shown(line.operands[0]).c_str());

    std::map<int, bool> on_line;
    for (const GivenOption& given : line.options) {
        on_line[given.id] = true;
        std::string why = given.id == SET_CONFIG ? std::string() : setting_problem(given.id, given.value);
        if (!why.empty()) return usage_error("make", "%s %s", given.spelled.c_str(), why.c_str());
    }
    if (on_line[SET_ARCHIVE] && on_line[SET_FROM])
        return usage_error("make", "--archive and --from both given: join an archive or pack a folder, not both");

    for (const GivenOption& given : line.options) {
        if (given.id != SET_CONFIG) continue;
        std::vector<ConfigKey> keys;
        for (const SettingEntry& s : SETTINGS) keys.push_back({s.name, s.kind, s.id});
        ConfigValues file;
        if (!read_make_config(given.value.c_str(), keys, setting_problem, &file)) return EXIT_USAGE;
        if (file.values.count(SET_ARCHIVE) != 0 && file.values.count(SET_FROM) != 0 && !on_line[SET_ARCHIVE] &&
            !on_line[SET_FROM])
            return fail("%s: gives both archive and from: join an archive or pack a folder, not both",
                        shown(given.value));
        for (auto& [id, value] : file.values) o->values[id] = value;
        for (const std::string& glob : file.lists[SET_EXCLUDE]) o->exclude.push_back(glob);
    }
    if (on_line[SET_ARCHIVE]) {
        o->values.erase(SET_FROM);
        o->values.erase(SET_METHOD);
        o->exclude.clear();
    }
    if (on_line[SET_FROM]) o->values.erase(SET_ARCHIVE);
    for (const GivenOption& given : line.options) {
        if (given.id == SET_CONFIG) continue;
        if (given.id == SET_EXCLUDE) {
            o->exclude.push_back(given.value);
            continue;
        }
        bool is_switch = given.id == SET_PROGRAM_FILES || given.id == SET_NO_CONFIG;
        o->values[given.id] = is_switch ? "true" : given.value;
    }

    if (!o->has(SET_OUTPUT)) return usage_error("make", "-o OUT.exe is required (or output in the --config file)");
    if (!o->has(SET_ARCHIVE) && !o->has(SET_FROM))
        return usage_error("make", "one of --archive or --from is required");
    if (!o->exclude.empty() && !o->has(SET_FROM))
        return usage_error("make", "--exclude leaves things out of --from; a given --archive is joined as it is");
    if (o->has(SET_METHOD) && !o->has(SET_FROM))
        return usage_error("make", "--method chooses how --from packs; a given --archive is joined as it is");
    bool any_setting = o->on(SET_PROGRAM_FILES);
    for (Setting s : {SET_TITLE, SET_DEST, SET_SHORTCUT_TARGET, SET_START_MENU, SET_DESKTOP, SET_SEND_TO,
                      SET_LAUNCH})
        any_setting = any_setting || o->has(s);
    if (o->on(SET_NO_CONFIG) && any_setting)
        return usage_error("make", "--no-config leaves no place for the other settings");
    return EXIT_ALL_GOOD;
}

/* A block text: UTF-8 as Shift-JIS, at most 255 bytes. */
bool block_text(const char* label, const char* utf8, char* out, uint8_t* length) {
    char converted[4 * (TEXT_LIMIT + 1)];
    if (strlen(utf8) >= sizeof converted) {
        fail("%s is too long: at most 255 bytes in Shift-JIS", label);
        return false;
    }
    if (!platform_utf8_to_sjis(utf8, converted, sizeof converted)) {
        fail("%s \"%s\" cannot be written in Shift-JIS", label, shown_local(utf8));
        return false;
    }
    size_t size = strlen(converted);
    if (size > TEXT_LIMIT) {
        fail("%s is too long: at most 255 bytes in Shift-JIS", label);
        return false;
    }
    memcpy(out, converted, size + 1);
    *length = (uint8_t)size;
    return true;
}

bool build_block(const MakeOptions& o, SfxConfig* c) {
    memset(c, 0, sizeof *c);
    if (o.on(SET_NO_CONFIG)) return true;
    c->present = 1;
    c->under_program_files = o.on(SET_PROGRAM_FILES) ? 1 : 0;
    struct { Setting setting; const char* option; uint8_t* value; } modes[] = {
        {SET_START_MENU, "--start-menu", &c->start_menu_option},
        {SET_DESKTOP, "--desktop", &c->desktop_option},
        {SET_SEND_TO, "--send-to", &c->send_to_option}};
    for (const auto& m : modes) {
        if (o.has(m.setting) && !option_value(o.text(m.setting), m.value)) {
            usage_error("make", "%s takes off, offer, checked or forced, not '%s'", m.option,
                        shown(o.text(m.setting)).c_str());
            return false;
        }
    }
    return block_text("the title", o.text(SET_TITLE), c->title, &c->title_length) &&
           block_text("the destination", o.text(SET_DEST), c->dest_name, &c->dest_length) &&
           block_text("the shortcut target", o.text(SET_SHORTCUT_TARGET), c->shortcut_target,
                      &c->target_length) &&
           block_text("the launch target", o.text(SET_LAUNCH), c->launch_target, &c->launch_length);
}

/* A stub's image, whole in `bytes` (taken over).  Anything after the image's end
 * would stand between the stub and its block (a stub that already carries an
 * archive, or a signature, say). */
uint8_t* checked_stub(const std::string& shown_path, uint8_t* bytes, long length, uint32_t* size) {
    uint32_t head = length < HEAD_BYTES ? (uint32_t)length : (uint32_t)HEAD_BYTES;
    uint32_t image_end = pe_image_end(bytes, head);
    const char* problem = nullptr;
    if (image_end == 0) problem = "is not a Windows program (no PE image)";
    else if (pe_certificate_size(bytes, head) != 0)
        problem = "is signed: make takes the unsigned stub; sign the installer after make";
    else if (image_end < (uint32_t)length) problem = "carries data after its image: not a bare stub";
    else if (image_end > (uint32_t)length) problem = "is cut short: its image ends past the file";
    if (problem != nullptr) {
        free(bytes);
        fail("%s %s", shown_path, problem);
        return nullptr;
    }
    *size = (uint32_t)length;
    return bytes;
}

/* The stub's image, read whole. */
uint8_t* read_stub(const char* path, uint32_t* size) {
    if (is_folder(path)) return fail("%s: is a folder", shown_local(path)), nullptr;
    FILE* file = fopen(path, "rb");
    if (file == nullptr) {
        fail("%s: %s", shown_local(path), strerror(errno));
        return nullptr;
    }
    long length = file_size(file);
    uint8_t* bytes = length > 0 ? (uint8_t*)malloc((size_t)length) : nullptr;
    bool read = bytes != nullptr && fread(bytes, 1, (size_t)length, file) == (size_t)length;
    fclose(file);
    if (!read) {
        free(bytes);
        fail("%s: %s", shown_local(path), "cannot be read");
        return nullptr;
    }
    return checked_stub(shown_local(path), bytes, length, size);
}

/* The stub this tool carries, copied, when no --stub is given. */
uint8_t* carried_stub(uint32_t* size) {
    uint32_t carried = 0;
    const uint8_t* stub = embedded_stub(&carried);
    if (stub == nullptr) {
        fail("%s", "no stub: this mavusfx carries none (it was built without the i686 "
                   "cross compiler); give --stub PATH to mavusfx.exe");
        return nullptr;
    }
    uint8_t* bytes = (uint8_t*)malloc(carried);
    if (bytes == nullptr) {
        fail("%s: %s", "the built-in stub", "cannot be read");
        return nullptr;
    }
    memcpy(bytes, stub, carried);
    return checked_stub("the built-in stub", bytes, (long)carried, size);
}

struct ArchiveCheck {
    uint32_t members = 0;
    uint32_t undecodable = 0;
    std::vector<std::string> files;    // member paths, Shift-JIS, '/' between components
    std::vector<std::string> folders;  // folder entries and every folder a path passes
    FILE* file = nullptr;              // the archive walked
    int64_t data_end = 0;              // where the last member's data ends
    MemberNameNotes names{false};      // members of one file, as the installer sees them
};

void warn_of_member(const char* name, const char* what, const char* why) {
    fputs("mavusfx: warning: ", stderr);
    print_sjis(stderr, name);
    fprintf(stderr, ": %s%s%s%s; the stub will refuse this member\n", what, why[0] != 0 ? " (" : "", why,
            why[0] != 0 ? ")" : "");
}

void check_member(void* context, const MemberHeader& header) {
    ArchiveCheck* check = (ArchiveCheck*)context;
    check->members++;
    if (check->file != nullptr) check->data_end = (int64_t)platform_tell(check->file) + (int64_t)header.packed_size;
    std::string name = header.name[0] == '/' ? header.name + 1 : header.name;
    bool is_folder = header.named_as_folder || memcmp(header.method, "-lhd-", 5) == 0;
    // The archive is the publisher's: what the installer would refuse is told, as
    // an undecodable method is, and the installer made all the same.
    if (is_unsafe_member_path(header.name)) warn_of_member(header.name, "a path outside the destination", "");
    else if (const char* why = windows_name_problem(header.name, header.name_length))
        warn_of_member(header.name, "a name Windows cannot hold", why);
    check->names.note(header);
    while (!name.empty() && name.back() == '/') name.pop_back();
    (is_folder ? check->folders : check->files).push_back(name);
    for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1))
        check->folders.push_back(name.substr(0, slash));
    if (header.named_as_folder || method_index(header.method) >= 0) return;
    check->undecodable++;
    fputs("mavusfx: warning: ", stderr);
    print_sjis(stderr, header.name);
    fprintf(stderr, ": method %.5s cannot be decoded; the stub will skip this member\n",
            header.method);
}

/* Windows compares names without regard to ASCII case; the second byte of a
 * Shift-JIS character is compared as it is. */
bool same_path(std::string a, std::string b) {
    fold_name_case(&a[0], a.size());
    fold_name_case(&b[0], b.size());
    return a == b;
}

bool among(const std::string& path, const std::vector<std::string>& names) {
    for (const std::string& name : names)
        if (same_path(path, name)) return true;
    return false;
}

/* The shortcuts point at the destination, a backslash and the target; the launch
 * opens the destination, a backslash and its target.  Both must be what the
 * archive puts there: the shortcut target a file or folder, the launch target a
 * file.  Shortcuts that are offered need a target (an empty one would make a link
 * named ".lnk" to the destination folder). */
bool check_targets(const SfxConfig& c, const ArchiveCheck& check) {
    if (c.present == 0) return true;
    struct { const char* label; const char* target; bool folder_too; } targets[] = {
        {"shortcut target", c.shortcut_target, true}, {"launch target", c.launch_target, false}};
    for (const auto& t : targets) {
        if (t.target[0] == 0) continue;
        char path[PATH_BUFFER_SIZE];
        copy_text(path, t.target, sizeof path);
        convert_separators(path, '/');
        std::string wanted = path;
        while (wanted.compare(0, 2, "./") == 0) wanted.erase(0, 2);
        if (among(wanted, check.files) || (t.folder_too && among(wanted, check.folders))) continue;
        fflush(stdout);
        fprintf(stderr, "mavusfx: the %s '%s' is not a %s in the archive\n", t.label,
                shown_sjis(t.target).c_str(), t.folder_too ? "file or folder" : "file");
        return false;
    }
    bool offered = (c.start_menu_option | c.desktop_option | c.send_to_option) != 0;
    if (offered && c.shortcut_target[0] == 0) {
        fail("%s", "shortcuts are offered (--start-menu, --desktop or --send-to) but no "
                   "--shortcut-target names the file they point to");
        return false;
    }
    return true;
}

/* The archive must be one that the stub can walk to its end.  Returns the open file
 * at its start, and whether the end byte is missing. */
FILE* open_checked_archive(const char* path, bool* needs_end_byte, ArchiveCheck* check) {
    if (is_folder(path)) return fail("%s: is a folder", shown_local(path)), nullptr;
    FILE* file = fopen(path, "rb");
    if (file == nullptr) {
        fail("%s: %s", shown_local(path), strerror(errno));
        return nullptr;
    }
    uint8_t head[HEAD_BYTES];
    size_t got = fread(head, 1, sizeof head, file);
    fseek(file, 0, SEEK_SET);
    const char* problem = nullptr;
    if (pe_image_end(head, (uint32_t)got) != 0) {
        problem = "is a program, not an LHA archive";
    } else {
        ExtractionRun reader = {};
        reader.archive_file = file;
        reader.archive_size = file_size(file);
        uint64_t total;
        check->file = file;
        ArchiveShape shape = walk_archive(&reader, &total, check_member, check);
        check->file = nullptr;
        // A sound archive without its end byte ends right after the last member.
        *needs_end_byte = check->data_end == (int64_t)reader.archive_size;
        if (shape == SHAPE_DAMAGED || shape == SHAPE_NO_ARCHIVE) problem = "is not an LHA archive that mavusfx can read";
        else if (shape == SHAPE_CUT_SHORT) problem = "ends inside a member: the archive is cut short";
        else if (check->members == 0) problem = "holds no members";
    }
    if (problem != nullptr) {
        fclose(file);
        fail("%s %s", shown_local(path), problem);
        return nullptr;
    }
    check->names.print(stderr);
    fseek(file, 0, SEEK_SET);
    return file;
}

bool copy_file(FILE* from, FILE* to, uint64_t* copied) {
    static uint8_t chunk[COPY_CHUNK];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, from)) > 0) {
        if (fwrite(chunk, 1, got, to) != got) return false;
        *copied += got;
    }
    return ferror(from) == 0;
}

/* The output may not be one of the files it is made from: writing it would replace
 * the input that is still being read (or, for the stub, the next run's input). */
bool output_is_an_input(const MakeOptions& o) {
    PathInfo output;
    if (!platform_path_info(o.text(SET_OUTPUT), &output)) return false;
    for (Setting s : {SET_STUB, SET_ARCHIVE}) {
        PathInfo input;
        if (!o.has(s) || !platform_path_info(o.text(s), &input)) continue;
        if (input.identity[0] == output.identity[0] && input.identity[1] == output.identity[1]) {
            fail("%s is the %s itself: choose another output", shown(o.text(SET_OUTPUT)),
                 s == SET_STUB ? "stub" : "archive");
            return true;
        }
    }
    return false;
}

struct Made {
    int write_error = 0;  // errno of a failed write to the output
    uint64_t archive_size = 0;
    bool end_byte_added = false;
    ArchiveCheck check;
};

/* --archive: the archive is walked before anything is written; its end byte is
 * added when it lacks it: without it, whatever is appended later (a signature's
 * certificate table) would be read as the next member header. */
int join_archive(const MakeOptions& o, const SfxConfig& config, FILE* out, Made* made) {
    bool needs_end_byte = false;
    FILE* archive = open_checked_archive(o.text(SET_ARCHIVE), &needs_end_byte, &made->check);
    if (archive == nullptr) return EXIT_USAGE;
    if (!check_targets(config, made->check)) {
        fclose(archive);
        return EXIT_USAGE;
    }
    bool ok = copy_file(archive, out, &made->archive_size);
    fclose(archive);
    if (ok && needs_end_byte) {
        ok = fputc(0, out) != EOF;
        made->archive_size++;
        made->end_byte_added = true;
    }
    if (!ok) made->write_error = errno != 0 ? errno : EIO;
    return ok ? EXIT_ALL_GOOD : EXIT_MEMBER_FAILED;
}

/* --from: the folder is packed right behind the block; the output being written,
 * and the one it replaces, are left out of it.  The packed members are then walked
 * like a given archive's. */
int join_folder(const MakeOptions& o, const SfxConfig& config, FILE* out, const char* output_target,
                Made* made) {
    PackSettings settings = DEFAULT_PACK_SETTINGS;
    settings.exclude = o.exclude;
    if (o.has(SET_METHOD) && !method_bits(o.text(SET_METHOD), &settings.dictionary_bits))
        return usage_error("make", "unknown method '%s' (lh5, lh6, lh7 or lh0)", shown(o.text(SET_METHOD)).c_str());
    FileOffset start = platform_tell(out);
    PackTotals totals = {};
    int status = pack_folder_into(o.text(SET_FROM), out, &settings, &totals, output_target);
    made->write_error = totals.write_error;
    if (status != EXIT_ALL_GOOD) return status;
    made->archive_size = totals.archive_bytes;
    if (fflush(out) != 0 || platform_seek(out, start, SEEK_SET) != 0) {
        made->write_error = errno != 0 ? errno : EIO;
        return EXIT_MEMBER_FAILED;
    }
    ExtractionRun reader = {};
    reader.archive_file = out;
    reader.archive_size = file_size(out);
    uint64_t total;
    walk_archive(&reader, &total, check_member, &made->check);
    if (made->check.members == 0) return fail("%s holds nothing to pack", shown(o.text(SET_FROM)));
    if (!check_targets(config, made->check)) return EXIT_USAGE;
    return platform_seek(out, 0, SEEK_END) == 0 ? EXIT_ALL_GOOD : EXIT_MEMBER_FAILED;
}

}  // namespace

/* The level that the installer's manifest requests: as chosen, or what the
 * destination needs.  A stub without a level field runs as the invoker. */
bool set_manifest_level(const MakeOptions& o, uint8_t* stub, uint32_t size) {
    ExecutionLevel level = level_for_destination(o.on(SET_PROGRAM_FILES), o.text(SET_DEST));
    if (o.has(SET_ELEVATION) && !parse_execution_level(o.text(SET_ELEVATION), &level)) {
        usage_error("make", "--elevation takes invoker, highest or admin, not '%s'",
                    shown(o.text(SET_ELEVATION)).c_str());
        return false;
    }
    if (!write_execution_level(stub, size, level) && level != LEVEL_AS_INVOKER)
        fprintf(stderr, "mavusfx: warning: the stub has no execution level in its manifest: "
                "the installer runs as the invoker, not %s\n", execution_level_name(level));
    return true;
}

/* The installer's icon and properties as given (checked with the other settings),
 * the icon file read. */
bool read_identity_settings(const MakeOptions& o, InstallerIdentity* identity, IconFile* icon) {
    identity->icon_path = o.text(SET_ICON);
    identity->product_name = o.text(SET_PRODUCT_NAME);
    identity->company = o.text(SET_COMPANY);
    identity->description = o.text(SET_DESCRIPTION);
    identity->product_version = o.text(SET_PRODUCT_VERSION);
    identity->file_version = o.text(SET_FILE_VERSION);
    identity->copyright = o.text(SET_COPYRIGHT);
    std::string problem;
    if (o.has(SET_ICON) && !read_icon_file(o.text(SET_ICON), icon, &problem)) {
        fail("%s %s", shown(o.text(SET_ICON)), problem);
        return false;
    }
    return true;
}

/* The stub with the icon and properties written into its resources; the stub's
 * own when none are given. */
bool set_identity(const MakeOptions& o, const InstallerIdentity& identity, const IconFile& icon,
                  std::vector<uint8_t>* stub) {
    std::string problem;
    if (!identity.any() || write_identity(identity, identity.icon_path.empty() ? nullptr : &icon, stub, &problem))
        return true;
    fail("%s %s", o.has(SET_STUB) ? shown(o.text(SET_STUB)) : std::string("the built-in stub"), problem);
    return false;
}

/* Once the resources were rewritten, the checksum is set for the whole file, as
 * Windows computes it (signing computes it anew). */
bool write_checksum(FILE* file, uint32_t field) {
    static uint8_t chunk[COPY_CHUNK];
    PeChecksum sum;
    sum.field = field;
    if (fflush(file) != 0 || fseek(file, 0, SEEK_SET) != 0) return false;
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0) sum.add(chunk, (uint32_t)got);
    uint32_t value = sum.value();
    uint8_t bytes[4] = {(uint8_t)value, (uint8_t)(value >> 8), (uint8_t)(value >> 16), (uint8_t)(value >> 24)};
    return ferror(file) == 0 && fseek(file, (long)field, SEEK_SET) == 0 && fwrite(bytes, 1, 4, file) == 4;
}

int run_make(int argc, char** argv) {
    MakeOptions o;
    int read = read_options(argc, argv, &o);
    if (read != EXIT_ALL_GOOD) return read < 0 ? EXIT_ALL_GOOD : read;
    SfxConfig config;
    if (!build_block(o, &config)) return EXIT_USAGE;
    uint8_t block[1 + 4 * 256 + 8];
    uint32_t block_size = write_config_block(&config, block);
    InstallerIdentity identity;
    IconFile icon;
    if (!read_identity_settings(o, &identity, &icon)) return EXIT_USAGE;
    if (output_is_an_input(o)) return EXIT_USAGE;
    uint32_t stub_size = 0;
    uint8_t* read_bytes = o.has(SET_STUB) ? read_stub(o.text(SET_STUB), &stub_size) : carried_stub(&stub_size);
    if (read_bytes == nullptr) return EXIT_USAGE;
    std::vector<uint8_t> stub(read_bytes, read_bytes + stub_size);
    free(read_bytes);
    if (!set_manifest_level(o, stub.data(), stub_size) || !set_identity(o, identity, icon, &stub))
        return EXIT_USAGE;
    stub_size = (uint32_t)stub.size();

    const char* output = o.text(SET_OUTPUT);
    ReplacingFile out;
    std::string problem;
    if (!begin_replacing(&out, output, &problem)) {
        tell_output_problem(out, problem);
        return EXIT_USAGE;
    }
    errno = 0;
    bool written = fwrite(stub.data(), 1, stub_size, out.file) == stub_size &&
                   fwrite(block, 1, block_size, out.file) == block_size;
    Made made;
    if (!written) made.write_error = errno != 0 ? errno : EIO;
    int status = !written ? EXIT_MEMBER_FAILED
                 : o.has(SET_FROM) ? join_folder(o, config, out.file, out.target.c_str(), &made)
                                   : join_archive(o, config, out.file, &made);
    if (status == EXIT_ALL_GOOD && identity.any() &&
        !write_checksum(out.file, pe_checksum_offset(stub.data(), stub_size))) {
        made.write_error = errno != 0 ? errno : EIO;
        status = EXIT_MEMBER_FAILED;
    }
    if (status != EXIT_ALL_GOOD) {
        abandon_replacing(&out);
        if (made.write_error != 0) tell_output_problem(out, strerror(made.write_error));
        return status;
    }
    if (!finish_replacing(&out)) {
        tell_output_problem(out, strerror(errno));
        return EXIT_MEMBER_FAILED;
    }
    // The installer itself may be on stdout; the summary is not part of it.
    FILE* summary = is_standard_output(output) ? stderr : stdout;
    fprintf(summary, "%s: stub %u bytes, configuration block %u bytes, archive %llu bytes (%u members%s)\n",
           out.shown.c_str(), stub_size, block_size, (unsigned long long)made.archive_size,
           made.check.members, made.end_byte_added ? ", end byte added" : "");
    return EXIT_ALL_GOOD;
}
