#include "engine/macbinary.h"

#ifndef MAVUSFX_STUB_BUILD
#include <errno.h>
#include <limits.h>

#include "platform/host_services.h"

static uint32_t be32_at(const uint8_t* p) {
    return (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
}

/* The data fork is padded to the next multiple of 128 bytes when a resource fork
 * follows; the last fork may end unpadded. */
bool macbinary_forks(const uint8_t* header, uint64_t member_size, uint64_t* data_length,
                     uint64_t* resource_length) {
    if (member_size < MACBINARY_HEADER_SIZE) return false;
    if (header[0] != 0 || header[1] < 1 || header[1] > 63 || header[74] != 0 || header[82] != 0) return false;
    uint64_t data = be32_at(header + 83), resource = be32_at(header + 87);
    uint64_t room = member_size - MACBINARY_HEADER_SIZE;
    if (data > room) return false;
    if (resource != 0 && ((data + 127) / 128 * 128 > room || resource > room - (data + 127) / 128 * 128))
        return false;
    *data_length = data;
    *resource_length = resource;
    return true;
}

enum { MOVE_BLOCK = 64 * 1024 };

/* The data fork moves to the front block by block, each read before it is written
 * over, and the rest is cut off. */
bool keep_data_fork(FILE* file, uint64_t member_size) {
    uint8_t block[MOVE_BLOCK];
    uint64_t data_length, resource_length;
    if (member_size > (uint64_t)LONG_MAX) return true;  // beyond fseek's reach: kept whole
    errno = 0;
    if (fflush(file) != 0 || fseek(file, 0, SEEK_SET) != 0) return false;
    if (fread(block, 1, MACBINARY_HEADER_SIZE, file) != MACBINARY_HEADER_SIZE) {
        if (errno == 0) errno = EIO;
        return false;
    }
    if (!macbinary_forks(block, member_size, &data_length, &resource_length) || resource_length != 0)
        return true;
    for (uint64_t moved = 0; moved < data_length;) {
        size_t piece = data_length - moved < MOVE_BLOCK ? (size_t)(data_length - moved) : (size_t)MOVE_BLOCK;
        errno = 0;
        if (fseek(file, (long)(MACBINARY_HEADER_SIZE + moved), SEEK_SET) != 0 ||
            fread(block, 1, piece, file) != piece || fseek(file, (long)moved, SEEK_SET) != 0 ||
            fwrite(block, 1, piece, file) != piece) {
            if (errno == 0) errno = EIO;
            return false;
        }
        moved += piece;
    }
    return platform_truncate(file, (int64_t)data_length);
}
#endif
