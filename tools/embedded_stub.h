// The stub this tool was built with, carried in the tool itself so that `make`
// needs no --stub.  A tool built without the i686 cross compiler carries none.
#pragma once

#include <stdint.h>

// The stub's bytes, and their count in `size`; nullptr (size 0) when none is carried.
const uint8_t* embedded_stub(uint32_t* size);
