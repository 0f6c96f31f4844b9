// The end of a PE image, found from its headers: where the configuration block of a
// combined file begins.
#include <string.h>

#include <gtest/gtest.h>

#include "frontend/pe_image.h"
#include "tests/support/test_support.h"

namespace {

// A minimal PE32 header with the given sections (pointer, size of raw data).
Bytes fake_pe(const std::vector<std::pair<uint32_t, uint32_t>>& sections, uint32_t headers = 0x400) {
    Bytes b(0x400, 0);
    b[0] = 'M';
    b[1] = 'Z';
    b[0x3C] = 0x80;
    memcpy(&b[0x80], "PE\0\0", 4);
    b[0x80 + 6] = (uint8_t)sections.size();
    b[0x80 + 20] = 0xE0;  // optional header size
    uint32_t optional = 0x80 + 24;
    memcpy(&b[optional + 60], &headers, 4);
    uint32_t table = optional + 0xE0;
    for (size_t i = 0; i < sections.size(); i++) {
        memcpy(&b[table + 40 * i + 16], &sections[i].second, 4);
        memcpy(&b[table + 40 * i + 20], &sections[i].first, 4);
    }
    return b;
}

TEST(PeImage, EndOfTheLastSectionsRawData) {
    Bytes pe = fake_pe({{0x400, 0x2000}, {0x2400, 0x200}, {0x2600, 0x0}});
    EXPECT_EQ(pe_image_end(pe.data(), (uint32_t)pe.size()), 0x2600u);
    Bytes unordered = fake_pe({{0x3000, 0x400}, {0x400, 0x200}});
    EXPECT_EQ(pe_image_end(unordered.data(), (uint32_t)unordered.size()), 0x3400u);
}

TEST(PeImage, NotAnImage) {
    Bytes pe = fake_pe({{0x400, 0x200}});
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
