// The host tool mavusfx: list, test and extract archives and combined files, join
// stubs, blocks and archives, and pack folders.  It runs the stub's own engine and
// decoders through the hooked platform reports.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "engine/member_header.h"
#include "frontend/config_block.h"
#include "frontend/run_record.h"

// Exit statuses of every command.
enum { EXIT_ALL_GOOD = 0, EXIT_MEMBER_FAILED = 1, EXIT_USAGE = 2 };

// An archive opened for reading: a bare LHA archive, or a combined file (PE stub,
// configuration block, archive), told apart by the PE signature.
struct OpenedArchive {
    FILE* file;              // standing on the archive's first member header
    bool combined;           // a stub and a configuration block come first
    uint32_t block_offset;   // the end of the stub's image (combined files)
    uint32_t archive_offset; // where the first member header begins
    SfxConfig config;        // the block as stored (combined files)
};

// Opens `path`; on failure prints one line on stderr and returns false.
bool open_archive(const char* path, OpenedArchive* archive);

// Shift-JIS text as the terminal shows it: in the locale's encoding, with control
// characters and bytes that do not convert as \xNN (tools/local_names.h).
void print_sjis(FILE* out, const char* text);

// A packing method by name ("lh7" or "-lh7-"; lh5, lh6, lh7, lh0) as the packer's
// dictionary bits (0 for lh0).
bool method_bits(const char* name, unsigned* bits);

// What went wrong with a member, in words.
const char* failure_text(FailureKind kind);

// The commands.  argv[0] is the command's name, the rest its arguments; each reads
// its own options and answers -h and --help.
int run_list(int argc, char** argv);
int run_test(int argc, char** argv);
int run_extract(int argc, char** argv);
int run_pack(int argc, char** argv);
int run_make(int argc, char** argv);
