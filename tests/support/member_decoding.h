// Loading bytes straight into the bit input, reading the members of an archive, and
// the plain expansion of literal and match items, for the decoder tests.  Whole
// members run through the driver with decode_packed (test_support.h).
#pragma once

#include <stdint.h>

#include <string>
#include <vector>

#include "decode/decode_driver.h"
#include "decode/write_behind.h"
#include "engine/member_header.h"
#include "tests/support/test_support.h"

// Makes `bytes` the data of the member being decoded, as the driver does before a
// method's begin_member, and sets dictionary_bits; for calling a method's operations
// one by one.  The bytes stay owned by the object.
class LoadedInput {
public:
    LoadedInput(const Bytes& bytes, uint16_t window_bits);
    ~LoadedInput();
    // Bits the decoder has consumed so far (once its begin_member started the input).
    uint32_t bits_consumed() const;
private:
    Bytes bytes_;
    uint32_t packed_size_;
};

// While one lives, whole windows are written in turn, as the stub writes them, and
// not behind the decoder by the host tool's writer: for the traces that pin which
// bytes reach the file by when.
struct WritingInTurn {
    WritingInTurn() { decoder.writes_in_turn = true; }
    ~WritingInTurn() { decoder.writes_in_turn = false; }
};

// One member of an archive: its header and its compressed bytes.
struct ArchiveMember {
    std::string name;
    std::string method;
    uint32_t original_size;
    uint16_t crc;
    Bytes packed;
    MemberHeader header;  // as read
};
std::vector<ArchiveMember> read_archive_members(const std::string& path);
// The members of a corpus archive whose method lies in [first_method, last_method].
std::vector<ArchiveMember> members_of(const std::string& archive, int first_method, int last_method);

// Canonical codes for code lengths: shorter codes first, codes of one length in
// symbol order.
std::vector<uint32_t> canonical_codes(const std::vector<uint8_t>& lengths);

// The plain sliding-window expansion of literal and match items, the window
// starting as spaces: what the decoders must produce for a stream of those items.
struct LzItem {
    uint16_t symbol;    // 0-255 a byte, else a match of symbol - match_code_base bytes
    uint16_t position;  // for a match: the distance minus one
};
Bytes expand_items(const std::vector<LzItem>& items, uint32_t window_size,
                   unsigned match_code_base);
