// The fuzz targets' bodies, shared by the libFuzzer entry points (fuzz/*_fuzzer.cpp)
// and the test that replays every saved input of tests/data/regressions.
#pragma once

#include <stddef.h>
#include <stdint.h>

// Each returns normally on every input; a broken invariant aborts.
void fuzz_member_headers(const uint8_t* data, size_t size);
void fuzz_decode_member(const uint8_t* data, size_t size);
void fuzz_config_block(const uint8_t* data, size_t size);
void fuzz_extraction(const uint8_t* data, size_t size);

// Runs all four on one input.
void fuzz_all(const uint8_t* data, size_t size);
