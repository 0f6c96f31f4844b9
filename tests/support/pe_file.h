// A reader for the parts of a PE file that the tests look at: sections, the import
// table and the resource tree.
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

// The first 0x400 bytes of a PE32 file: MZ header, signature at 0x80, the given
// sections as (PointerToRawData, SizeOfRawData), and SizeOfHeaders.  Enough for
// pe_image_end and for mavusfx make to take it as a stub.
Bytes fake_pe(const std::vector<std::pair<uint32_t, uint32_t>>& sections, uint32_t headers_size);

class PeFile {
public:
    explicit PeFile(Bytes bytes);  // throws std::runtime_error when it is no PE file

    // DLL name -> imported function names (by name; ordinals as "#n").
    struct Import {
        std::string dll;
        std::vector<std::string> functions;
    };
    std::vector<Import> imports() const;

    // The data of resource type/id/language; false when absent.
    bool resource(uint32_t type, uint32_t id, uint32_t language, Bytes* out) const;
    // The languages under which resource type/id exists.
    std::vector<uint32_t> resource_languages(uint32_t type, uint32_t id) const;

    const Bytes& bytes() const { return bytes_; }

private:
    uint32_t u16(uint32_t offset) const;
    uint32_t u32(uint32_t offset) const;
    uint32_t offset_of(uint32_t rva) const;  // throws for an RVA in no section
    uint32_t directory_rva(int index) const;
    // The entry of `id` in the resource directory at `directory` (offset in .rsrc).
    bool resource_entry(uint32_t directory, uint32_t id, uint32_t* value) const;

    Bytes bytes_;
    uint32_t optional_header_ = 0;
    uint32_t sections_ = 0, section_count_ = 0;
};

// One classic (not extended) dialog template.
struct DialogControl {
    uint32_t style, extended_style;
    int x, y, width, height;
    uint16_t id;
    std::string window_class;  // "BUTTON", "EDIT", "STATIC"... for the ordinals
    std::string text;          // UTF-8
};
struct DialogTemplate {
    uint32_t style, extended_style;
    int x, y, width, height;
    std::string menu, window_class, caption;  // UTF-8
    uint16_t font_size;
    std::string font;                         // UTF-8
    std::vector<DialogControl> controls;
};
DialogTemplate parse_dialog(const Bytes& resource);  // throws for a DIALOGEX
