// Code lengths for the encoder's static Huffman codes: the optimal prefix code
// whose longest code is at most a given length (package-merge), and the canonical
// codes the decoder's tables assign to those lengths.
#pragma once

#include <stdint.h>

enum { MAX_CODE_BITS = 16 };

// Fills lengths[0 .. count-1] with the optimal code lengths for the frequencies,
// none longer than `max_length`; unused symbols (frequency 0) get 0.  Returns the
// number of used symbols.  With a single used symbol its length is 0 too: such a
// code is sent in the count-0 form and costs no bits per symbol.  count is at most
// 512 and 2^max_length must be at least count.
unsigned limited_code_lengths(const uint32_t* freq, unsigned count, unsigned max_length,
                              uint8_t* lengths);

// The canonical codes for `lengths`: shorter codes are numerically smaller, codes of
// one length are consecutive in symbol order.  Codes are sent most significant bit
// first.
void canonical_codes(const uint8_t* lengths, unsigned count, uint16_t* codes);
