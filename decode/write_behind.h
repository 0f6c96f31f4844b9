// Writing behind the decoder, in the host tool only: a second thread folds each full
// window into the CRC-16 and writes it to the member's file while the decoder fills
// the next one, so that the copy into the file (about a third of an extraction into
// tmpfs) no longer waits for the decoding, nor the decoding for it.  The stub writes
// as it decodes.
//
// The window is then a ring of two buffers of WRITE_BEHIND_RING bytes each
// (decoder.window.bytes and decoder.window.spare): a full buffer goes to the writer,
// and the decoder goes on at the start of the other one, whose last window's worth of
// bytes is first made a copy of the full one's.  A match reaches at most the method's
// window behind, so it finds there what one ring of that size would hold.
#pragma once

#include <stdint.h>
#include <stdio.h>

enum { WRITE_BEHIND_RING = 256 * 1024 };

// On unless turned off: the tests turn it off to hold it against writing in turn.
extern bool write_behind_enabled;

// Waits until the writer has written what it was given, then gives it `length`
// bytes from `bytes` for `out` (null: the CRC-16 only), which must stay as they are
// until the next call or write_behind_wait.  The writer starts with the first call
// and is kept for the process's later members.  False when no thread could be
// started: nothing was given, and the caller writes the bytes itself.
bool write_behind(const uint8_t* bytes, uint32_t length, FILE* out);

// Waits until the writer has written everything it was given: output_sink's CRC-16
// and write error then hold it, as if the caller had written it in turn.
void write_behind_wait();
