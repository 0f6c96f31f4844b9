// mavusfx make: joins a stub, a configuration block and an LHA archive into one
// self-extracting file.  The result is written to a temporary file beside the
// output and renamed over it only when complete, so a failure leaves nothing
// half-written.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "engine/extraction_loop.h"
#include "frontend/pe_image.h"
#include "platform/platform.h"
#include "tools/embedded_stub.h"
#include "tools/pack/folder_packer.h"
#include "tools/tool.h"

enum { TEXT_LIMIT = 255, COPY_CHUNK = 65536, HEAD_BYTES = 4096 };

struct MakeOptions {
    const char* stub;      // nullptr: the stub this tool carries
    const char* archive;
    const char* from;      // a folder to pack instead of an archive
    const char* output;
    const char* title;
    const char* dest;
    const char* shortcut_target;
    const char* launch;
    bool program_files;
    bool no_config;
    bool any_setting;  // a block field was given (refused with --no-config)
    uint8_t options[3];  // start menu, desktop, send to
};

static int fail(const char* format, const char* a, const char* b = "") {
    fputs("mavusfx make: ", stderr);
    fprintf(stderr, format, a, b);
    fputc('\n', stderr);
    return EXIT_USAGE;
}

/* off: not offered; offer: offered, unchecked; checked: offered, checked; forced:
 * always created, the box disabled but checked. */
static bool option_value(const char* word, uint8_t* out) {
    static const char* const WORDS[] = {"off", "offer", "forced", "checked"};
    for (uint8_t value = 0; value < 4; value++)
        if (strcmp(word, WORDS[value]) == 0) {
            *out = value;
            return true;
        }
    return false;
}

static int parse_options(int argc, char** argv, MakeOptions* o) {
    memset(o, 0, sizeof *o);
    for (int i = 0; i < argc; i++) {
        const char* a = argv[i];
        if (strcmp(a, "--program-files") == 0) {
            o->program_files = o->any_setting = true;
            continue;
        }
        if (strcmp(a, "--no-config") == 0) {
            o->no_config = true;
            continue;
        }
        if (i + 1 >= argc) return fail("%s needs a value (see mavusfx without arguments)", a);
        const char* value = argv[++i];
        const char** text = nullptr;
        int option = -1;
        if (strcmp(a, "--stub") == 0) text = &o->stub;
        else if (strcmp(a, "--archive") == 0) text = &o->archive;
        else if (strcmp(a, "--from") == 0) text = &o->from;
        else if (strcmp(a, "-o") == 0) text = &o->output;
        else if (strcmp(a, "--title") == 0) text = &o->title;
        else if (strcmp(a, "--dest") == 0) text = &o->dest;
        else if (strcmp(a, "--shortcut-target") == 0) text = &o->shortcut_target;
        else if (strcmp(a, "--launch") == 0) text = &o->launch;
        else if (strcmp(a, "--start-menu") == 0) option = 0;
        else if (strcmp(a, "--desktop") == 0) option = 1;
        else if (strcmp(a, "--send-to") == 0) option = 2;
        else return fail("unknown option %s", a);
        if (text != nullptr) {
            *text = value;
            if (text != &o->stub && text != &o->archive && text != &o->from && text != &o->output)
                o->any_setting = true;
        } else {
            if (!option_value(value, &o->options[option]))
                return fail("%s takes off, offer, checked or forced, not \"%s\"", a, value);
            o->any_setting = true;
        }
    }
    if (o->output == nullptr || (o->archive == nullptr) == (o->from == nullptr))
        return fail("%s", "-o and one of --archive or --from are required");
    if (o->no_config && o->any_setting)
        return fail("%s", "--no-config leaves no place for the other settings");
    return EXIT_ALL_GOOD;
}

/* A block text: the command line's UTF-8 as Shift-JIS, at most 255 bytes. */
static bool block_text(const char* label, const char* utf8, char* out, uint8_t* length) {
    if (utf8 == nullptr) utf8 = "";
    char converted[4 * (TEXT_LIMIT + 1)];
    if (strlen(utf8) >= sizeof converted) {
        fail("%s is too long: at most %s bytes in Shift-JIS", label, "255");
        return false;
    }
    if (!platform_utf8_to_sjis(utf8, converted, sizeof converted)) {
        fail("%s \"%s\" cannot be written in Shift-JIS", label, utf8);
        return false;
    }
    size_t size = strlen(converted);
    if (size > TEXT_LIMIT) {
        fail("%s is too long: at most %s bytes in Shift-JIS", label, "255");
        return false;
    }
    memcpy(out, converted, size + 1);
    *length = (uint8_t)size;
    return true;
}

static bool build_block(const MakeOptions& o, SfxConfig* c) {
    memset(c, 0, sizeof *c);
    if (o.no_config) return true;
    c->present = 1;
    c->under_program_files = o.program_files ? 1 : 0;
    c->start_menu_option = o.options[0];
    c->desktop_option = o.options[1];
    c->send_to_option = o.options[2];
    return block_text("the title", o.title, c->title, &c->title_length) &&
           block_text("the destination", o.dest, c->dest_name, &c->dest_length) &&
           block_text("the shortcut target", o.shortcut_target, c->shortcut_target,
                      &c->target_length) &&
           block_text("the launch target", o.launch, c->launch_target, &c->launch_length);
}

/* A stub's image, whole in `bytes` (taken over).  Anything after the image's end
 * would stand between the stub and its block (a stub that already carries an
 * archive, or a signature, say). */
static uint8_t* checked_stub(const char* path, uint8_t* bytes, long length, uint32_t* size) {
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
        fail("%s %s", path, problem);
        return nullptr;
    }
    *size = (uint32_t)length;
    return bytes;
}

/* The stub's image, read whole. */
static uint8_t* read_stub(const char* path, uint32_t* size) {
    FILE* file = fopen(path, "rb");
    if (file == nullptr) {
        fail("%s: %s", path, strerror(errno));
        return nullptr;
    }
    long length = file_size(file);
    uint8_t* bytes = length > 0 ? (uint8_t*)malloc((size_t)length) : nullptr;
    bool read = bytes != nullptr && fread(bytes, 1, (size_t)length, file) == (size_t)length;
    fclose(file);
    if (!read) {
        free(bytes);
        fail("%s: %s", path, "cannot be read");
        return nullptr;
    }
    return checked_stub(path, bytes, length, size);
}

/* The stub this tool carries, copied, when no --stub is given. */
static uint8_t* carried_stub(uint32_t* size) {
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
    uint32_t members;
    uint32_t undecodable;
};

static void check_member(void* context, const MemberHeader& header) {
    ArchiveCheck* check = (ArchiveCheck*)context;
    check->members++;
    if (method_index(header.method) >= 0) return;
    check->undecodable++;
    fputs("mavusfx make: warning: ", stderr);
    print_sjis(stderr, header.name);
    fprintf(stderr, ": method %.5s cannot be decoded; the stub will skip this member\n",
            header.method);
}

/* The archive must be one that the stub can walk to its end.  Returns the open file
 * at its start, and whether the end byte is missing. */
static FILE* open_checked_archive(const char* path, bool* needs_end_byte, ArchiveCheck* check) {
    FILE* file = fopen(path, "rb");
    if (file == nullptr) {
        fail("%s: %s", path, strerror(errno));
        return nullptr;
    }
    uint8_t head[HEAD_BYTES];
    size_t got = fread(head, 1, sizeof head, file);
    fseek(file, 0, SEEK_SET);
    const char* problem = nullptr;
    if (pe_image_end(head, (uint32_t)got) != 0) {
        problem = "is a program, not an LHA archive";
    } else {
        *check = ArchiveCheck();
        WalkEnd end = walk_members(file, check_member, check);
        *needs_end_byte = end == WALK_END_OF_FILE;
        if (end == WALK_DAMAGED) problem = "is not an LHA archive that mavusfx can read";
        else if (end == WALK_TRUNCATED) problem = "ends inside a member: the archive is cut short";
        else if (check->members == 0) problem = "holds no members";
    }
    if (problem != nullptr) {
        fclose(file);
        fail("%s %s", path, problem);
        return nullptr;
    }
    fseek(file, 0, SEEK_SET);
    return file;
}

static bool copy_file(FILE* from, FILE* to, uint64_t* copied) {
    static uint8_t chunk[COPY_CHUNK];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, from)) > 0) {
        if (fwrite(chunk, 1, got, to) != got) return false;
        *copied += got;
    }
    return ferror(from) == 0;
}

/* Stub, block, archive, and the end byte when the archive lacks it: without it,
 * whatever is appended later (a signature's certificate table) would be read as
 * the next member header. */
static bool write_combined(const char* temporary, const uint8_t* stub, uint32_t stub_size,
                           const uint8_t* block, uint32_t block_size, FILE* archive,
                           bool add_end_byte, uint64_t* archive_size) {
    FILE* out = fopen(temporary, "wb");
    if (out == nullptr) return false;
    *archive_size = 0;
    bool ok = fwrite(stub, 1, stub_size, out) == stub_size &&
              fwrite(block, 1, block_size, out) == block_size &&
              copy_file(archive, out, archive_size);
    if (ok && add_end_byte) {
        ok = fputc(0, out) != EOF;
        ++*archive_size;
    }
    if (fclose(out) != 0) ok = false;
    return ok;
}

/* --from: the folder is packed ("-lh7-", level 2) into an archive beside the output
 * first, which is joined like a given archive and removed afterwards. */
static int join(const MakeOptions& o, const uint8_t* block, uint32_t block_size) {
    uint32_t stub_size = 0;
    uint8_t* stub = o.stub != nullptr ? read_stub(o.stub, &stub_size) : carried_stub(&stub_size);
    if (stub == nullptr) return EXIT_USAGE;
    bool needs_end_byte = false;
    ArchiveCheck check;
    FILE* archive = open_checked_archive(o.archive, &needs_end_byte, &check);
    if (archive == nullptr) {
        free(stub);
        return EXIT_USAGE;
    }

    const std::string temporary = std::string(o.output) + ".mavusfx-tmp";
    uint64_t archive_size = 0;
    bool written = write_combined(temporary.c_str(), stub, stub_size, block, block_size, archive,
                                  needs_end_byte, &archive_size);
    fclose(archive);
    free(stub);
    if (!written || !platform_replace_file(temporary.c_str(), o.output)) {
        platform_delete_file(temporary.c_str());
        return fail("%s: %s", o.output, "cannot be written");
    }
    printf("%s: stub %u bytes, configuration block %u bytes, archive %llu bytes (%u members%s)\n",
           o.output, stub_size, block_size, (unsigned long long)archive_size, check.members,
           needs_end_byte ? ", end byte added" : "");
    return EXIT_ALL_GOOD;
}

int run_make(int argc, char** argv) {
    MakeOptions o;
    if (parse_options(argc, argv, &o) != EXIT_ALL_GOOD) return EXIT_USAGE;
    SfxConfig config;
    if (!build_block(o, &config)) return EXIT_USAGE;
    uint8_t block[1 + 4 * 256 + 8];
    uint32_t block_size = write_config_block(&config, block);
    if (o.from == nullptr) return join(o, block, block_size);

    std::string packed = std::string(o.output) + ".mavusfx-pack.lzh";
    int status = pack_folder(o.from, packed.c_str(), &DEFAULT_PACK_SETTINGS, nullptr);
    if (status == EXIT_ALL_GOOD) {
        o.archive = packed.c_str();
        status = join(o, block, block_size);
    }
    platform_delete_file(packed.c_str());
    return status;
}
