#include "decode/member_output.h"

#include <errno.h>

#include "decode/crc16.h"
#include "decode/decoder_state.h"

uint32_t write_output(const uint8_t* bytes, uint32_t length, FILE* out) {
    MemberOutput& output = decoder.output;
    output.crc = crc16(output.crc, bytes, length);
    uint32_t written = out == nullptr ? length : (uint32_t)fwrite(bytes, 1, length, out);
    if (written != length) {
        output.write_failed = true;
#ifndef MAVUSFX_STUB_BUILD
        output.write_error = errno;
#endif
    }
#ifndef MAVUSFX_STUB_BUILD
    output.written += written;
#endif
    return written;
}
