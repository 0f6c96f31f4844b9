// Members of Macintosh encoders (OS id 'm'), stored in MacBinary form: a header of
// 128 bytes, the data fork padded to a multiple of 128 bytes, then the resource
// fork.  The host tool writes a member without a resource fork as its data fork
// alone, as a file of other systems holds it; one with a resource fork stays whole,
// which a file of other systems cannot hold.  The stub writes every member as
// stored.
#pragma once

#include <stdint.h>
#include <stdio.h>

#ifndef MAVUSFX_STUB_BUILD
enum { MACBINARY_HEADER_SIZE = 128 };

// True when `header` (the first 128 bytes of a member of `member_size` bytes) is a
// MacBinary header whose forks lie inside the member: byte 0 zero, a name of 1 to
// 63 bytes, bytes 74 and 82 zero, the data fork's length (big-endian, offset 83)
// and the resource fork's (offset 87) within the member.  The lengths go to
// `data_length` and `resource_length`.
bool macbinary_forks(const uint8_t* header, uint64_t member_size, uint64_t* data_length,
                     uint64_t* resource_length);

// Cuts the member just written to `file` (opened for reading and writing, its
// `member_size` bytes complete) down to its data fork when it is in MacBinary form
// without a resource fork; any other file is left as it is.  False, errno set, when a read or write
// failed.
bool keep_data_fork(FILE* file, uint64_t member_size);
#endif
