// Writing behind the decoder, in the host tool only: a second thread folds each full
// window into the CRC-16 and writes it to the member's file while the decoder fills
// the next one, so that the copy into the file (about a third of an extraction into
// tmpfs) no longer waits for the decoding, nor the decoding for it.  The stub writes
// as it decodes.
//
// The window is then a ring of two buffers of write_behind_ring bytes each
// (decoder.window.bytes and decoder.window.spare): a full buffer goes to the writer,
// and the decoder goes on at the start of the other one, whose last window's worth of
// bytes is first made a copy of the full one's.  A match reaches at most the method's
// window behind, so it finds there what one ring of that size would hold.
#pragma once

#include <stdint.h>
#include <stdio.h>

// The size of each buffer unless the run sets another (decoder.ring_size): a power
// of two, at least twice the largest window (64 KiB).  bench/README.md has the
// sizes tried.
enum { WRITE_BEHIND_RING = 512 * 1024 };

// The size of each buffer for this run.
uint32_t write_behind_ring();

// Waits until the writer has written what it was given, then gives it `length`
// bytes from `bytes` for `out` (null: the CRC-16 only), which must stay as they are
// until the next call or write_behind_wait.  The writer starts with the first call
// and is kept for the process's later members.  False when no thread could be
// started: nothing was given, and the caller writes the bytes itself.
bool write_behind(const uint8_t* bytes, uint32_t length, FILE* out);

// Waits until the writer has written everything it was given: decoder.output then
// holds it, as if the caller had written it in turn.
void write_behind_wait();
