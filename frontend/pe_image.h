// The end of a PE executable image, found from its own headers: where the raw data
// of its last section ends.  The stub finds its configuration block there, and the
// host tool finds the block of a combined file the same way, so the offset stays
// right from build to build and whatever is appended after the archive (a
// signature, say) never moves it.
#pragma once

#include <stdint.h>

// `head` holds the first `length` bytes of the image (file or mapped module).
// Returns the image's end offset in the file, or 0 when `head` is not a PE image
// whose headers lie within `length`.
uint32_t pe_image_end(const uint8_t* head, uint32_t length);

// The size of the image's certificate table (an Authenticode signature, which
// signing appends to the file), or 0 when the image is unsigned or not a PE image.
uint32_t pe_certificate_size(const uint8_t* head, uint32_t length);
