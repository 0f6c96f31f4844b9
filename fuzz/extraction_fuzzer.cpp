// libFuzzer entry point; the body is shared with the regression replay test.
#include "fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_extraction(data, size);
    return 0;
}
