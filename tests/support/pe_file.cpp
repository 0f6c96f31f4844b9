#include "tests/support/pe_file.h"

#include <string.h>

#include <stdexcept>

Bytes fake_pe(const std::vector<std::pair<uint32_t, uint32_t>>& sections, uint32_t headers_size) {
    Bytes b(0x400, 0);
    b[0] = 'M';
    b[1] = 'Z';
    b[0x3C] = 0x80;
    memcpy(&b[0x80], "PE\0\0", 4);
    b[0x80 + 6] = (uint8_t)sections.size();
    b[0x80 + 20] = 0xE0;  // optional header size
    const uint32_t optional = 0x80 + 24, table = optional + 0xE0;
    memcpy(&b[optional + 60], &headers_size, 4);
    for (size_t i = 0; i < sections.size(); i++) {
        memcpy(&b[table + 40 * i + 16], &sections[i].second, 4);
        memcpy(&b[table + 40 * i + 20], &sections[i].first, 4);
    }
    return b;
}

PeFile::PeFile(Bytes bytes) : bytes_(std::move(bytes)) {
    if (bytes_.size() < 0x40 || bytes_[0] != 'M' || bytes_[1] != 'Z')
        throw std::runtime_error("no MZ header");
    uint32_t pe = u32(0x3C);
    if (u32(pe) != 0x00004550) throw std::runtime_error("no PE signature");
    section_count_ = u16(pe + 6);
    optional_header_ = pe + 24;
    sections_ = optional_header_ + u16(pe + 20);
}

uint32_t PeFile::u16(uint32_t offset) const {
    if (offset + 2 > bytes_.size()) throw std::runtime_error("read past the end");
    return bytes_[offset] | bytes_[offset + 1] << 8;
}

uint32_t PeFile::u32(uint32_t offset) const { return u16(offset) | u16(offset + 2) << 16; }

uint32_t PeFile::offset_of(uint32_t rva) const {
    for (uint32_t i = 0; i < section_count_; i++) {
        uint32_t s = sections_ + 40 * i;
        uint32_t virtual_address = u32(s + 12), size = u32(s + 8), raw = u32(s + 20);
        if (rva >= virtual_address && rva < virtual_address + size) return raw + rva - virtual_address;
    }
    throw std::runtime_error("RVA in no section");
}

// PE32: the data directories begin at offset 96 of the optional header.
uint32_t PeFile::directory_rva(int index) const { return u32(optional_header_ + 96 + 8 * index); }

static std::string c_string(const Bytes& b, uint32_t offset) {
    std::string s;
    while (offset < b.size() && b[offset] != 0) s += (char)b[offset++];
    return s;
}

std::vector<PeFile::Import> PeFile::imports() const {
    std::vector<Import> result;
    uint32_t rva = directory_rva(1);
    if (rva == 0) return result;
    for (uint32_t d = offset_of(rva);; d += 20) {
        uint32_t name_rva = u32(d + 12);
        if (name_rva == 0) break;
        Import import;
        import.dll = c_string(bytes_, offset_of(name_rva));
        uint32_t thunks = u32(d) != 0 ? u32(d) : u32(d + 16);
        for (uint32_t t = offset_of(thunks);; t += 4) {
            uint32_t entry = u32(t);
            if (entry == 0) break;
            if (entry & 0x80000000u) import.functions.push_back("#" + std::to_string(entry & 0xFFFF));
            else import.functions.push_back(c_string(bytes_, offset_of(entry) + 2));
        }
        result.push_back(import);
    }
    return result;
}

/* A resource directory: 16 bytes, then named entries and id entries of 8 bytes each;
 * an entry's value with the high bit set is a subdirectory. */
bool PeFile::resource_entry(uint32_t directory, uint32_t id, uint32_t* value) const {
    uint32_t base = offset_of(directory_rva(2));
    uint32_t named = u16(base + directory + 12), ids = u16(base + directory + 14);
    for (uint32_t i = 0; i < named + ids; i++) {
        uint32_t entry = base + directory + 16 + 8 * i;
        if (u32(entry) == id) {
            *value = u32(entry + 4);
            return true;
        }
    }
    return false;
}

std::vector<uint32_t> PeFile::resource_languages(uint32_t type, uint32_t id) const {
    std::vector<uint32_t> languages;
    uint32_t types, names;
    if (directory_rva(2) == 0 || !resource_entry(0, type, &types) ||
        !resource_entry(types & 0x7FFFFFFF, id, &names))
        return languages;
    uint32_t base = offset_of(directory_rva(2)), directory = names & 0x7FFFFFFF;
    uint32_t count = u16(base + directory + 12) + u16(base + directory + 14);
    for (uint32_t i = 0; i < count; i++) languages.push_back(u32(base + directory + 16 + 8 * i));
    return languages;
}

bool PeFile::resource(uint32_t type, uint32_t id, uint32_t language, Bytes* out) const {
    uint32_t types, names, leaf;
    if (directory_rva(2) == 0 || !resource_entry(0, type, &types) ||
        !resource_entry(types & 0x7FFFFFFF, id, &names) ||
        !resource_entry(names & 0x7FFFFFFF, language, &leaf) || (leaf & 0x80000000u))
        return false;
    uint32_t data = offset_of(directory_rva(2)) + leaf;
    uint32_t start = offset_of(u32(data)), size = u32(data + 4);
    out->assign(bytes_.begin() + start, bytes_.begin() + start + size);
    return true;
}

// ---- dialog templates ----

namespace {

struct TemplateReader {
    const Bytes& b;
    size_t at = 0;
    uint32_t u16() {
        if (at + 2 > b.size()) throw std::runtime_error("dialog template cut short");
        uint32_t v = b[at] | b[at + 1] << 8;
        at += 2;
        return v;
    }
    uint32_t u32() { return u16() | u16() << 16; }
    int s16() { return (int16_t)u16(); }
    void align4() { at = (at + 3) & ~(size_t)3; }

    std::string utf16_string() {
        std::string out;
        for (uint32_t c = u16(); c != 0; c = u16()) {
            if (c >= 0xD800 && c < 0xDC00) c = 0x10000 + ((c - 0xD800) << 10) + (u16() - 0xDC00);
            if (c < 0x80) {
                out += (char)c;
            } else if (c < 0x800) {
                out += (char)(0xC0 | c >> 6);
                out += (char)(0x80 | (c & 0x3F));
            } else if (c < 0x10000) {
                out += (char)(0xE0 | c >> 12);
                out += (char)(0x80 | ((c >> 6) & 0x3F));
                out += (char)(0x80 | (c & 0x3F));
            } else {
                out += (char)(0xF0 | c >> 18);
                out += (char)(0x80 | ((c >> 12) & 0x3F));
                out += (char)(0x80 | ((c >> 6) & 0x3F));
                out += (char)(0x80 | (c & 0x3F));
            }
        }
        return out;
    }

    // A string, or 0xFFFF and an ordinal (the predefined classes by name).
    std::string string_or_ordinal() {
        if (at + 2 <= b.size() && b[at] == 0xFF && b[at + 1] == 0xFF) {
            at += 2;
            uint32_t ordinal = u16();
            switch (ordinal) {
            case 0x80: return "BUTTON";
            case 0x81: return "EDIT";
            case 0x82: return "STATIC";
            case 0x83: return "LISTBOX";
            case 0x84: return "SCROLLBAR";
            case 0x85: return "COMBOBOX";
            }
            return "#" + std::to_string(ordinal);
        }
        return utf16_string();
    }
};

}  // namespace

DialogTemplate parse_dialog(const Bytes& resource) {
    TemplateReader r{resource};
    DialogTemplate d;
    if (resource.size() >= 4 && resource[2] == 0xFF && resource[3] == 0xFF)
        throw std::runtime_error("an extended dialog template");
    d.style = r.u32();
    d.extended_style = r.u32();
    uint32_t count = r.u16();
    d.x = r.s16();
    d.y = r.s16();
    d.width = r.s16();
    d.height = r.s16();
    d.menu = r.string_or_ordinal();
    d.window_class = r.string_or_ordinal();
    d.caption = r.utf16_string();
    d.font_size = 0;
    if (d.style & 0x40) {  // DS_SETFONT
        d.font_size = (uint16_t)r.u16();
        d.font = r.utf16_string();
    }
    for (uint32_t i = 0; i < count; i++) {
        r.align4();
        DialogControl c;
        c.style = r.u32();
        c.extended_style = r.u32();
        c.x = r.s16();
        c.y = r.s16();
        c.width = r.s16();
        c.height = r.s16();
        c.id = (uint16_t)r.u16();
        c.window_class = r.string_or_ordinal();
        c.text = r.string_or_ordinal();
        r.at += r.u16();  // creation data
        d.controls.push_back(c);
    }
    return d;
}
