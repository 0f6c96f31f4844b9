// The methods an archive may name: for each id its window size, its match base,
// its kind and, for the coded ones, the family's three operations and fast run,
// declared below one family per unit.  The table is the one place that knows a
// method; the driver decodes with a row.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include "decode/member_size.h"

typedef uint16_t (*ReadSymbolFn)();
typedef uint16_t (*ReadPositionFn)();
typedef void (*BeginMemberFn)();

// A fast run is a marked specialisation of the driver's loop for one method
// family: it decodes symbols straight into the window, with the method's tables
// inline and the bit input in a local word (FastBits), while it is far from every
// boundary where the simple loop does more than store bytes: the block's end, the
// member's last 256 bytes (where a match may be cut), the input's end and the next
// progress change.  It stops after any symbol that damaged the member or after
// which the stop flag was found set.  It returns the number of bytes it decoded; the
// driver then reports progress and checks the stop flag for its last symbol, exactly
// as after a symbol of the simple loop, and takes the next symbol itself when it
// got 0.
typedef uint32_t (*FastRunFn)(MemberSize original_size, FILE* out);

// The member's last bytes, where a match may be cut at the member's size: the
// "-lh1-" fast run leaves them to the simple loop, going on only while more than
// FAST_RUN_TAIL bytes are still to come; the block codes' run takes them a symbol
// at a time, cutting as the simple loop does, and its batches stop short of them.
// As many as the longest match of a family with a fast run (each holds that up with
// a static_assert).
enum { FAST_RUN_TAIL = 256 };

// A fast run counts its bytes from where it started, in 32 bits: it ends within
// the input block it holds (and the block codes' run within its block), far short
// of 4 GiB, so a bound further off than that is as good as any.
inline uint32_t fast_run_reach(MemberSize ahead) {
    return ahead < UINT32_MAX ? (uint32_t)ahead : UINT32_MAX;
}

// A build without any fast run (the stub) has no place for one in its families.
#if defined(MAVUSFX_NO_BLOCK_FAST_RUN) && defined(MAVUSFX_NO_LH1_FAST_RUN)
#define MAVUSFX_NO_FAST_RUNS 1
#endif

enum MethodKind : uint8_t {
    METHOD_STORED,  // the data is the member's bytes
    METHOD_FOLDER,  // no data: the member makes a folder
    METHOD_CODED    // the data runs through the sliding window
};

// The operations of a method family, which its coded rows share.  read_symbol:
// 0-255 a literal, match_base and above a match of symbol - match_base bytes.
// read_position: called once right after each match symbol; the match starts p + 1
// bytes behind the next write position.  begin_member: once per member, after the
// window is filled with spaces and the input is loaded, before the first symbol.
struct MethodFamily {
    BeginMemberFn begin_member;
    ReadSymbolFn read_symbol;
    ReadPositionFn read_position;
#ifndef MAVUSFX_NO_FAST_RUNS
    FastRunFn fast_run;  // null: the simple loop only
#endif
};

// One method; a coded one names its family.
//
// The id is kept as the three letters between its dashes: the five bytes "-lh5-"
// standing in the program would look like a member header to readers that search
// a file for the first archive header.
struct MethodRow {
    char letters[4];      // "lh5" of "-lh5-", terminated
    MethodKind kind;
    uint8_t window_bits;  // coded: the window is 2 ** window_bits bytes (11 to 16)
    uint8_t match_base;
    // 1: the method's older encoders differ from the format in one rule, which
    // older_encoders_rule turns on (a second reading for a member that fails).
    uint8_t older_reading;
    const MethodFamily* family;  // null for the rows that are not coded
#ifndef MAVUSFX_NO_WRITE_BEHIND
    // 1: no match starts further back than the window holds, so a ring of any
    // larger size decodes alike (writing behind takes one).  The block codes of
    // "-lh4-" reach 8 KiB back from a 4 KiB window, which they wrap round.
    uint8_t matches_within_window;
#endif
};

enum { METHOD_COUNT = 13 };
// Row numbers in METHOD_TABLE, the lookup order.
enum {
    METHOD_LH0 = 0, METHOD_LH1, METHOD_LH2, METHOD_LH3, METHOD_LH4, METHOD_LH5,
    METHOD_LH6, METHOD_LH7, METHOD_LZS, METHOD_LZ5, METHOD_LZ4, METHOD_LHD, METHOD_PM0
};
extern const MethodRow METHOD_TABLE[METHOD_COUNT];

// The row number of a 5-byte method id such as "-lh5-", or -1.
int method_index(const char* method);
// The row of a 5-byte method id, or null.
const MethodRow* find_method(const char* method);

// ---- the operations of every coded row, one family per unit ----------------

// Block codes of "-lh4-" to "-lh7-" (block_codes.cpp).
void begin_block_method();
uint16_t read_block_symbol();
uint16_t read_block_position();
// Fast run of the block codes (a FastRunFn).
uint32_t run_block_symbols(MemberSize original_size, FILE* out);

// Fast path: on an x86-64 Linux host, GCC builds a fast run marked FAST_RUN_FORMS
// twice, for the baseline processor and for x86-64-v3, and the loader picks the form
// that the processor runs.  There BMI2 shifts a word by a register in one step,
// which every symbol does several times.  Both forms come from the same source.
// Other builds (the stub among them) have the one form, and so has the
// ThreadSanitizer build: the loader runs the choosing function before that
// sanitizer's run time is set up, and its checks there crash the program.
#if defined(__x86_64__) && defined(__linux__) && defined(__GNUC__) && !defined(__clang__) && \
    !defined(__SANITIZE_THREAD__)
#define FAST_RUN_FORMS __attribute__((target_clones("default", "arch=x86-64-v3")))
#else
#define FAST_RUN_FORMS
#endif

// Static codes of "-lh3-" (static_codes.cpp).
void begin_lh3();
uint16_t read_lh3_symbol();
uint16_t read_lh3_position();

// Adaptive Huffman of "-lh1-" and "-lh2-", with the fixed "-lh1-" position code
// (adaptive_huffman.cpp).
void init_symbol_tree();
void begin_lh1();
uint16_t read_lh1_position();
// Fast run of "-lh1-" (a FastRunFn).
uint32_t run_lh1_symbols(MemberSize original_size, FILE* out);
void begin_lh2();
uint16_t read_adaptive_symbol();
uint16_t read_adaptive_position();

// The byte and bit formats of "-lzs-" and "-lz5-" (lzs_lz5.cpp).
void begin_lzs();
uint16_t read_lzs_symbol();
uint16_t read_lzs_position();
void begin_lz5();
uint16_t read_lz5_symbol();
uint16_t read_lz5_position();
