// Numbers stored low byte first, as LHA headers, PE images and the CRC's four-byte
// steps hold them.  Always inline: on x86 each is one load, shorter than a call.
#pragma once

#include <stdint.h>

__attribute__((always_inline)) inline uint32_t le16_at(const uint8_t* p) {
    return (uint32_t)(p[0] | p[1] << 8);
}

__attribute__((always_inline)) inline uint32_t le32_at(const uint8_t* p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
