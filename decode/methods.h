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

// Static codes of "-lh3-" and the "-lh1-" positions (static_codes.cpp).
void begin_lh1();
void begin_lh3();
uint16_t read_lh3_symbol();
uint16_t read_static_position();
// Fast run of "-lh1-" (a FastRunFn).
uint32_t run_lh1_symbols(uint32_t original_size, FILE* out);

// Adaptive Huffman of "-lh1-" and "-lh2-" (adaptive_huffman.cpp).
void init_symbol_tree();
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
