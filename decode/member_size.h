// A count of one member's bytes: its packed and original sizes and how far its
// decoding got.  The host tool counts in 64 bits (extended header 0x42 carries
// sizes over 4 GiB); the stub keeps to 32 and refuses larger members.
#pragma once

#include <stdint.h>

#ifdef MAVUSFX_STUB_BUILD
typedef uint32_t MemberSize;
#else
typedef uint64_t MemberSize;
#endif
