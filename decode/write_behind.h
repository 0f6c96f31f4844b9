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

// On unless turned off: the tests turn it off to hold it against writing in turn.
extern bool write_behind_enabled;
// The size of each buffer: a power of two, at least twice the largest window (64 KiB).
// 512 KiB measured best on perf_lh5.lzh and perf_lh7.lzh against 128 KiB, 256 KiB
// and 1 MiB (fewer hand-offs than the smaller ones; the larger one costs more
// page faults and cache than it saves).  The tests take smaller rings, for more
// hand-offs in a member.
extern uint32_t write_behind_ring;

// Waits until the writer has written what it was given, then gives it `length`
// bytes from `bytes` for `out` (null: the CRC-16 only), which must stay as they are
// until the next call or write_behind_wait.  The writer starts with the first call
// and is kept for the process's later members.  False when no thread could be
// started: nothing was given, and the caller writes the bytes itself.
bool write_behind(const uint8_t* bytes, uint32_t length, FILE* out);

// Waits until the writer has written everything it was given: output_sink's CRC-16
// and write error then hold it, as if the caller had written it in turn.
void write_behind_wait();
