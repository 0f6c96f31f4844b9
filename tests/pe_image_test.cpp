// The end of a PE image, found from its headers: where the configuration block of a
// combined file begins.
#include <string.h>

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
    Bytes crowded = pe;  // a section table that runs past the bytes read
    crowded[0x80 + 6] = 0xFF;
    crowded[0x80 + 7] = 0xFF;
    EXPECT_EQ(pe_image_end(crowded.data(), (uint32_t)crowded.size()), 0u);
    crowded[0x80 + 7] = 0;
    crowded[0x80 + 6] = (0x400 - (0x80 + 24 + 0xE0)) / 40;  // as many as fit
    EXPECT_EQ(pe_image_end(crowded.data(), (uint32_t)crowded.size()), 0x600u);
    crowded[0x80 + 6]++;
    EXPECT_EQ(pe_image_end(crowded.data(), (uint32_t)crowded.size()), 0u);
    Bytes far = pe;
    far[0x3C] = 0xFF;
    far[0x3D] = 0xFF;
    EXPECT_EQ(pe_image_end(far.data(), (uint32_t)far.size()), 0u);
}

// The certificate table's entry: data directory 4, 96 bytes into a PE32 optional
// header and 112 into a PE32+ one.
TEST(PeImage, CertificateTableOfBothOptionalHeaderForms) {
    const uint32_t optional = 0x80 + 24, size = 0x5A8;
    for (uint32_t directories : {96u, 112u}) {
        Bytes pe = fake_pe({{0x400, 0x200}}, 0x400);
        EXPECT_EQ(pe_certificate_size(pe.data(), (uint32_t)pe.size()), 0u);  // no magic
        pe[optional] = 0x0B;
        pe[optional + 1] = directories == 96 ? 0x01 : 0x02;
        pe[optional + directories - 4] = 16;
        EXPECT_EQ(pe_certificate_size(pe.data(), (uint32_t)pe.size()), 0u);  // unsigned
        memcpy(&pe[optional + directories + 4 * 8 + 4], &size, 4);
        EXPECT_EQ(pe_certificate_size(pe.data(), (uint32_t)pe.size()), size) << directories;
        pe[optional + directories - 4] = 4;  // the table has no entry 4
        EXPECT_EQ(pe_certificate_size(pe.data(), (uint32_t)pe.size()), 0u);
    }
}

TEST(PeImage, TheStubItself) {
    std::string stub = MAVUSFX_STUB;
    if (stub.empty()) GTEST_SKIP() << "no i686 stub given to this build";
    Bytes exe = read_file(stub);
    EXPECT_EQ(pe_image_end(exe.data(), (uint32_t)std::min<size_t>(exe.size(), 4096)), exe.size());
}

}  // namespace
