#include "tests/support/member_decoding.h"

#include <stdio.h>
#include <string.h>

#include <stdexcept>

#include "decode/bit_input.h"
#include "engine/extraction_loop.h"
#include "engine/member_header.h"

LoadedInput::LoadedInput(const Bytes& bytes, uint16_t window_bits)
    : bytes_(bytes), packed_size_((uint32_t)bytes.size()) {
    if (bytes_.empty()) bytes_.push_back(0);  // a valid block; never handed out
    start_member_state(nullptr, (uint32_t)bytes.size(), (uint8_t)window_bits, 0);
    decoder.input.data = bytes_.data();
    decoder.input.size = (uint32_t)bytes_.size();
}

LoadedInput::~LoadedInput() { decoder.input.data = nullptr; }

uint32_t LoadedInput::bits_consumed() const {
    uint32_t taken = packed_size_ - decoder.bits.packed_bytes_left + decoder.bits.padding_bytes;
    return taken * 8 - 16 - decoder.bits.pending_bits;
}

std::vector<ArchiveMember> read_archive_members(const std::string& path) {
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) throw std::runtime_error("cannot open " + path);
    std::vector<ArchiveMember> members;
    MemberHeader header;
    while (read_member_header(file, &header) == HEADER_READ) {
        ArchiveMember m;
        m.header = header;
        m.name = header.name;
        m.method.assign(header.method, 5);
        m.original_size = header.original_size;
        m.crc = header.crc;
        m.packed.resize(header.packed_size);
        if (header.packed_size != 0 &&
            fread(m.packed.data(), 1, header.packed_size, file) != header.packed_size)
            break;
        members.push_back(m);
    }
    fclose(file);
    return members;
}

std::vector<ArchiveMember> members_of(const std::string& archive, int first_method, int last_method) {
    std::vector<ArchiveMember> members;
    for (const ArchiveMember& m : read_archive_members(corpus_path(archive))) {
        int method = method_index(m.method.c_str());
        if (method >= first_method && method <= last_method) members.push_back(m);
    }
    return members;
}

std::vector<uint32_t> canonical_codes(const std::vector<uint8_t>& lengths) {
    std::vector<uint32_t> codes(lengths.size());
    uint32_t code = 0;
    for (int length = 1; length <= 16; length++, code <<= 1)
        for (size_t s = 0; s < lengths.size(); s++)
            if (lengths[s] == length) codes[s] = code++;
    return codes;
}

Bytes expand_items(const std::vector<LzItem>& items, uint32_t window_size, unsigned match_code_base) {
    Bytes window(window_size, ' ');
    Bytes out;
    for (const LzItem& item : items) {
        if (item.symbol < 256) {
            window[out.size() % window_size] = (uint8_t)item.symbol;
            out.push_back((uint8_t)item.symbol);
            continue;
        }
        size_t from = out.size() + window_size - item.position - 1;
        for (unsigned i = 0; i < item.symbol - match_code_base; i++) {
            uint8_t byte = window[(from + i) % window_size];
            window[out.size() % window_size] = byte;
            out.push_back(byte);
        }
    }
    return out;
}
