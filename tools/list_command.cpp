// mavusfx list: the configuration block of a combined file and every member header.
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "decode/method_table.h"
#include "engine/archive_walk.h"
#include "engine/member_header.h"
#include "platform/host_services.h"
#include "platform/system_services.h"
#include "tools/execution_level.h"
#include "tools/command_line.h"
#include "tools/installer_identity.h"
#include "tools/local_names.h"
#include "tools/member_name_notes.h"
#include "tools/tool.h"

static const char* option_text(uint8_t option) {
    switch (option & (OPTION_ENABLED | OPTION_CHECKED)) {
    case 0: return "not offered";
    case OPTION_ENABLED: return "offered, unchecked";
    case OPTION_CHECKED: return "always created";
    default: return "offered, checked";
    }
}

static void print_field(const char* label, const char* text) {
    printf("  %-16s", label);
    if (text[0] == 0) {
        fputs("(none)", stdout);
    } else {
        fputc('"', stdout);
        print_sjis(stdout, text);
        fputc('"', stdout);
    }
    fputc('\n', stdout);
}

/* The product, company and version of the file's properties, read from the stub's
 * resources: what Explorer shows of the installer.  The file's position is kept. */
static void print_identity(FILE* file, uint32_t image_size) {
    FileOffset here = platform_tell(file);
    std::vector<uint8_t> image(image_size);
    bool read = fseek(file, 0, SEEK_SET) == 0 && fread(image.data(), 1, image_size, file) == image_size;
    platform_seek(file, here, SEEK_SET);
    ShownIdentity shown;
    if (!read || !read_identity(image.data(), image_size, &shown)) return;
    const std::pair<const char*, const std::string*> fields[] = {
        {"product:", &shown.product_name}, {"company:", &shown.company}, {"version:", &shown.version}};
    for (const auto& field : fields) {
        if (field.second->empty()) printf("  %-16s(none)\n", field.first);
        else printf("  %-16s\"%s\"\n", field.first, shown_local(field.second->c_str()).c_str());
    }
}

static void print_config(const OpenedArchive* archive) {
    const SfxConfig& c = archive->config;
    printf("combined file: stub of %u bytes, configuration block of %u bytes, archive at offset %u\n",
           archive->block_offset, archive->archive_offset - archive->block_offset,
           archive->archive_offset);
    printf("  %-16s%s\n", "elevation:",
           execution_level_name(read_file_execution_level(archive->file, archive->block_offset)));
    print_identity(archive->file, archive->block_offset);
    if (c.present == 0) {
        printf("  no configuration: no dialog, extraction into the current folder\n");
        return;
    }
    print_field("title:", c.title);
    print_field("destination:", c.dest_name);
    if (c.dest_length != 0 && !(c.dest_length >= 2 && c.dest_name[1] == ':'))
        printf("  %-16s%s\n", "relative to:", c.under_program_files ? "Program Files" : "the current folder");
    print_field("shortcut target:", c.shortcut_target);
    printf("  %-16s%s (%u)\n", "start menu:", option_text(c.start_menu_option), c.start_menu_option);
    printf("  %-16s%s (%u)\n", "desktop:", option_text(c.desktop_option), c.desktop_option);
    printf("  %-16s%s (%u)\n", "send to:", option_text(c.send_to_option), c.send_to_option);
    print_field("launch:", c.launch_target);
}

static void print_member(const MemberHeader& header) {
    // Levels 0 and 1 hold the packing machine's local time, shown as stored; levels 2
    // and 3 hold UTC, marked Z.
    char when[32];
    if (header.level >= 2) {
        time_t stamp = (time_t)header.time;
        strftime(when, sizeof when, "%Y-%m-%d %H:%M:%SZ", gmtime(&stamp));
    } else {
        uint32_t t = header.raw_time;
        snprintf(when, sizeof when, "%04u-%02u-%02u %02u:%02u:%02u", (t >> 25) + 1980, t >> 21 & 15,
                 t >> 16 & 31, t >> 11 & 31, t >> 5 & 63, (t & 31) * 2);
    }
    char crc[8];
    if (header.has_crc) snprintf(crc, sizeof crc, "%04x", header.crc);
    else strcpy(crc, "----");
    printf("%.5s  %10llu %10llu  %-20s  %-4s  ", header.method, (unsigned long long)header.packed_size,
           (unsigned long long)header.original_size, when, crc);
    print_sjis(stdout, header.name);
    if (header.comment_length != 0) {
        fputs("  (", stdout);
        print_sjis(stdout, header.comment);
        fputc(')', stdout);
    }
    fputc('\n', stdout);
}

static const char HELP[] =
    "usage: mavusfx list FILE\n"
    "Shows the configuration block of a self-extracting FILE and, for every member,\n"
    "its method, packed and original size, time, CRC-16 and path, and in parentheses\n"
    "a file comment (what follows a NUL in the stored name).  Times of level-2 and\n"
    "level-3 headers are UTC, marked Z; levels 0 and 1 hold the packer's local time,\n"
    "shown as stored.  Control characters in names are shown as \\xNN.  Only headers are\n"
    "read: whether a -lh2- or -lh3- member comes out right only by the older\n"
    "encoders' rule shows when its data is decoded, and 'mavusfx test' says so.\n"
    "Warnings on stderr name members that extract over one another, and members\n"
    "whose names Windows cannot hold, as 'mavusfx test' does.\n"
    "\n"
    "  -h, --help   this text\n"
    "\n"
    "Exit status: 0 all members readable, 1 a member of an unknown method or a\n"
    "damaged or cut archive, 2 usage or unreadable file.\n";

struct Listing {
    uint32_t members = 0;
    uint64_t packed = 0;
    bool undecodable = false;  // a member of an unknown method
    MemberNameNotes notes{platform_takes_names_windows_refuses()};
};

static void list_member(void* context, const MemberHeader& header) {
    Listing* listing = (Listing*)context;
    print_member(header);
    listing->members++;
    listing->packed += header.packed_size;
    if (!header.named_as_folder && method_index(header.method) < 0) listing->undecodable = true;
    listing->notes.note(header);
}

/* The verdict on the archive's shape is the engine's own, as for test and extract,
 * from the same walk: no archive at all is a usage error; the members before damage
 * or a cut are listed, and the damage or the cut reported.  The members are printed
 * by a second walk, one at a time, so that none is held. */
int run_list(int argc, char** argv) {
    CommandLine line;
    if (!parse_command_line("list", argc, argv, {HELP_OPTION}, &line)) return EXIT_USAGE;
    if (line.wants_help) return print_help(HELP);
    if (line.operands.size() != 1) return usage_error("list", "list takes one FILE");
    const char* path = line.operands[0].c_str();
    OpenedArchive archive;
    if (!open_archive(path, &archive)) return EXIT_USAGE;
    ExtractionRun reader = {};
    reader.archive_file = archive.file;
    reader.archive_size = file_size(archive.file);
    uint64_t original = 0;
    ArchiveShape shape = walk_archive(&reader, &original);
    if (shape == SHAPE_NO_ARCHIVE) {
        fprintf(stderr, "mavusfx: %s: %s\n", shown_local(path).c_str(), failure_text(ARCHIVE_NOT_LHA));
        fclose(archive.file);
        return EXIT_USAGE;
    }
    if (archive.combined) print_config(&archive);

    printf("%-6s %10s %10s  %-20s  %-4s  %s\n", "method", "packed", "original", "time", "crc", "path");
    Listing listing;
    walk_archive(&reader, &original, list_member, &listing);
    fclose(archive.file);
    int status = listing.undecodable ? EXIT_MEMBER_FAILED : EXIT_ALL_GOOD;
    if (shape != SHAPE_SOUND) {
        FailureKind fault = shape == SHAPE_DAMAGED ? ARCHIVE_DAMAGED : ARCHIVE_CUT_SHORT;
        fflush(stdout);
        fprintf(stderr, "mavusfx: %s: %s\n", shown_local(path).c_str(), failure_text(fault));
        status = EXIT_MEMBER_FAILED;
    }
    fflush(stdout);
    listing.notes.print(stderr);
    printf("%u members, %llu bytes packed, %llu bytes original\n", listing.members,
           (unsigned long long)listing.packed, (unsigned long long)original);
    return status;
}
