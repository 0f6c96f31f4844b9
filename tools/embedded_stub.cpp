#include "tools/embedded_stub.h"

#ifdef MAVUSFX_EMBEDDED_STUB
// Written at build time by cmake/embed_stub.cmake.
extern const uint8_t EMBEDDED_STUB_BYTES[];
extern const uint32_t EMBEDDED_STUB_SIZE;

const uint8_t* embedded_stub(uint32_t* size) {
    *size = EMBEDDED_STUB_SIZE;
    return EMBEDDED_STUB_BYTES;
}
#else
const uint8_t* embedded_stub(uint32_t* size) {
    *size = 0;
    return nullptr;
}
#endif
