// The end of a PE image, found from its headers: where the configuration block of a
// combined file begins.
#include <gtest/gtest.h>

#include "frontend/pe_image.h"
#include "tests/support/pe_file.h"
#include "tests/support/test_support.h"

namespace {

TEST(PeImage, EndOfTheLastSectionsRawData) {
    Bytes pe = fake_pe({{0x400, 0x2000}, {0x2400, 0x200}, {0x2600, 0x0}}, 0x400);
    EXPECT_EQ(pe_image_end(pe.data(), (uint32_t)pe.size()), 0x2600u);
    Bytes unordered = fake_pe({{0x3000, 0x400}, {0x400, 0x200}}, 0x400);
    EXPECT_EQ(pe_image_end(unordered.data(), (uint32_t)unordered.size()), 0x3400u);
}

TEST(PeImage, NotAnImage) {
    Bytes pe = fake_pe({{0x400, 0x200}}, 0x400);
    EXPECT_EQ(pe_image_end(pe.data(), 0x100), 0u);  // headers beyond what was read
    Bytes lha = read_file(corpus_path("lh0_level0.lzh"));
    EXPECT_EQ(pe_image_end(lha.data(), (uint32_t)lha.size()), 0u);
    Bytes bad = pe;
    bad[0x81] = 'X';
    EXPECT_EQ(pe_image_end(bad.data(), (uint32_t)bad.size()), 0u);
    Bytes far = pe;
    far[0x3C] = 0xFF;
    far[0x3D] = 0xFF;
    EXPECT_EQ(pe_image_end(far.data(), (uint32_t)far.size()), 0u);
}

TEST(PeImage, TheStubItself) {
    std::string stub = MAVUSFX_STUB;
    if (stub.empty()) GTEST_SKIP() << "no i686 stub given to this build";
    Bytes exe = read_file(stub);
    EXPECT_EQ(pe_image_end(exe.data(), (uint32_t)std::min<size_t>(exe.size(), 4096)), exe.size());
}

}  // namespace
