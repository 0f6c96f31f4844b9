// The operations of every coded row of METHOD_TABLE, one family per unit.
#pragma once

#include <stdint.h>
#include <stdio.h>

// Block codes of "-lh4-" to "-lh7-" (block_codes.cpp).
void begin_block_method();
uint16_t read_block_symbol();
uint16_t read_block_position();
// Fast run of the block codes (a FastRunFn).
uint32_t run_block_symbols(uint32_t original_size, FILE* out);

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
uint32_t run_lh1_symbols(uint32_t original_size, FILE* out);
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
