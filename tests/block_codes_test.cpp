// The -lh4- to -lh7- block decoder, on streams written bit by bit and run through the
// real decode driver: block tables, single-value codes, position codes per method,
// and the fields no valid stream holds, which end the member as damaged.
#include <algorithm>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "engine/extraction_loop.h"
#include "tests/support/member_decoding.h"

namespace {

using Lengths = std::vector<uint8_t>;

// One code length in the short form: 0-6 in three bits, 7 and up as 111 and a
// unary tail (1110 = 7, 11110 = 8, ...).
void put_short_length(BitWriter& w, unsigned length) {
    if (length < 7) {
        w.put(length, 3);
        return;
    }
    w.put(7, 3);
    for (unsigned i = 7; i < length; i++) w.put(1, 1);
    w.put(0, 1);
}

int position_count_bits(int method) { return method >= METHOD_LH6 ? 5 : 4; }
int position_code_count(int method) {
    return method == METHOD_LH7 ? 17 : method == METHOD_LH6 ? 16 : 14;
}

// Writes blocks as an encoder would.  The code-length code is fixed and complete:
// symbols 0-12 in 4 bits, 13-18 in 5 bits.  An empty lengths vector selects the
// single-value form, every symbol `single` in no bits.
class BlockWriter {
public:
    explicit BlockWriter(int method) : method_(method) {}

    // `length_code` replaces the fixed code-length code when given (19 lengths).
    void block(uint16_t size, const Lengths& chars, const Lengths& positions,
               unsigned char_single = 0, unsigned position_single = 0,
               const Lengths& length_code_given = Lengths()) {
        w.put(size, 16);
        Lengths length_code(19, 4);
        for (int s = 13; s < 19; s++) length_code[s] = 5;
        if (!length_code_given.empty()) length_code = length_code_given;
        length_code_lengths_ = length_code;
        length_codes_ = canonical_codes(length_code);
        w.put(19, 5);
        for (int s = 0; s < 19; s++) {
            put_short_length(w, length_code[s]);
            if (s == 2) w.put(0, 2);  // no zero run
        }
        put_char_lengths(chars, char_single);
        put_position_lengths(positions, position_single);
        char_lengths_ = chars;
        char_codes_ = canonical_codes(chars);
        position_lengths_ = positions;
        position_codes_ = canonical_codes(positions);
    }

    void literal(uint8_t byte) { put_char(byte); }

    // A match of `length` bytes starting `distance` bytes back.
    void match(unsigned length, unsigned distance) {
        put_char(length + 253);
        unsigned p = distance - 1;
        unsigned j = 0;
        while ((p >> j) != 0) j++;  // significant bits of p
        if (!position_lengths_.empty()) w.put(position_codes_[j], position_lengths_[j]);
        if (j > 1) w.put(p - (1u << (j - 1)), j - 1);
    }

    // A match of `length` bytes whose position code and extra bits are the `count`
    // bits of `bits`, whatever they are.
    void match_with_bits(unsigned length, uint32_t bits, unsigned count) {
        put_char(length + 253);
        w.put(bits, count);
    }

    BitWriter w;

private:
    void put_char(unsigned symbol) {
        if (!char_lengths_.empty()) w.put(char_codes_[symbol], char_lengths_[symbol]);
    }

    void put_length_symbol(unsigned c) { w.put(length_codes_[c], length_code_lengths_[c]); }

    void put_char_lengths(const Lengths& chars, unsigned single) {
        if (chars.empty()) {
            w.put(0, 9);
            w.put(single, 9);
            return;
        }
        size_t n = chars.size();
        while (n > 0 && chars[n - 1] == 0) n--;
        w.put((uint32_t)n, 9);
        for (size_t i = 0; i < n;) {
            if (chars[i] != 0) {
                put_length_symbol(chars[i] + 2u);
                i++;
                continue;
            }
            size_t run = 0;
            while (i + run < n && chars[i + run] == 0) run++;
            if (run >= 20) {
                run = std::min<size_t>(run, 531);
                put_length_symbol(2);
                w.put((uint32_t)(run - 20), 9);
            } else if (run >= 3) {
                run = std::min<size_t>(run, 18);
                put_length_symbol(1);
                w.put((uint32_t)(run - 3), 4);
            } else {
                run = 1;
                put_length_symbol(0);
            }
            i += run;
        }
    }

    void put_position_lengths(const Lengths& positions, unsigned single) {
        int count_bits = position_count_bits(method_);
        if (positions.empty()) {
            w.put(0, count_bits);
            w.put(single, count_bits);
            return;
        }
        w.put((uint32_t)positions.size(), count_bits);
        for (uint8_t length : positions) put_short_length(w, length);
    }

    int method_;
    std::vector<uint32_t> length_codes_;
    Lengths length_code_lengths_;
    Lengths char_lengths_, position_lengths_;
    std::vector<uint32_t> char_codes_, position_codes_;
};


// Character lengths giving `symbols` one code each of `bits` bits.
Lengths char_code_of(std::initializer_list<unsigned> symbols, uint8_t bits) {
    Lengths lengths(510, 0);
    for (unsigned s : symbols) lengths[s] = bits;
    return lengths;
}

const int BLOCK_METHODS[] = {METHOD_LH4, METHOD_LH5, METHOD_LH6, METHOD_LH7};

TEST(BlockCodes, MatchesAndLiteralsAcrossBlocksInEveryMethod) {
    for (int method : BLOCK_METHODS) {
        SCOPED_TRACE(method_id(method));
        const int codes = position_code_count(method);
        const unsigned largest = 1u << (codes - 2);  // distance - 1 of the top code
        BlockWriter b(method);
        // Block 1: literals A-D, matches of 3 and 4; every position code present,
        // with the count field in the method's width.
        Lengths positions(codes, 4);
        if (codes == 17) positions[15] = positions[16] = 5;  // kept complete
        b.block(9, char_code_of({'A', 'B', 'C', 'D', 256, 257, 258, 259}, 3), positions);
        b.literal('A');
        b.literal('B');
        b.literal('C');
        b.literal('D');
        b.match(3, 2);  // position code 1: no extra bits
        b.match(3, 3);  // position code 2, extra bit 0
        b.match(4, 4);  // position code 2, extra bit 1
        b.match(3, 1);  // position code 0
        b.match(3, 2 * largest);  // the largest distance: the whole 64 KiB for -lh7-
        // Block 2: new codes, a position code of one symbol and incomplete others.
        Lengths positions2(3, 0);
        positions2[1] = 1;
        positions2[2] = 1;
        b.block(3, char_code_of({'x', 300}, 1), positions2);
        b.literal('x');
        b.match(47, 2);
        b.literal('x');
        std::string expected = "ABCDCDCCDCCCDCCCC";
        // The largest distance reaches back before the first byte (spaces), or
        // round the whole -lh4- window to the position being written (a space too).
        expected += "   ";
        expected += "x";
        for (int i = 0; i < 47; i++) expected += (i % 2 == 0) ? ' ' : 'x';
        expected += "x";
        DecodedMember out = decode_packed(b.w.finish(), (uint32_t)expected.size(), method);
        EXPECT_EQ(out.result, DECODE_COMPLETE);
        EXPECT_EQ(text_of(out.output), expected);
        EXPECT_EQ(out.crc, crc16_of(bytes_of(expected)));
    }
}

TEST(BlockCodes, SingleValueCodesConsumeNoBits) {
    // Position count 0 with value 0: every match has distance 1 and no position
    // bits; the character code has two one-bit symbols.
    BlockWriter b(METHOD_LH5);
    b.block(3, char_code_of({'q', 258}, 1), Lengths(), 0, 0);
    b.literal('q');
    b.match(5, 1);
    b.match(5, 1);
    DecodedMember runs = decode_packed(b.w.finish(), 11, METHOD_LH5);
    EXPECT_EQ(runs.result, DECODE_COMPLETE);
    EXPECT_EQ(text_of(runs.output), "qqqqqqqqqqq");

    // Character count 0 with value 65: a block whose data after the tables is
    // empty, so the next block's tables follow at once.  A block size of 0 is
    // 65,536 symbols.
    BlockWriter c(METHOD_LH7);
    c.block(0, Lengths(), Lengths(), 'A', 0);
    c.block(2, Lengths(), Lengths(), 'B', 0);
    c.block(1, char_code_of({'C', 'D'}, 1), Lengths(), 0, 0);
    c.literal('D');
    DecodedMember big = decode_packed(c.w.finish(), 65536 + 3, METHOD_LH7);
    EXPECT_EQ(big.result, DECODE_COMPLETE);
    EXPECT_EQ(text_of(big.output), std::string(65536, 'A') + "BBD");
}

// Code-length code, then a character count of 0 with value 65 and a position
// count of 0 with value 0, for a block of two symbols ("-lh5-").
std::string two_byte_block(const char* length_code) {
    return std::string("0000000000000010 ") + length_code + " 000000000 001000001 0000 0000";
}

Bytes pack(const std::string& pattern) {
    BitWriter w;
    w.put_bits(pattern.c_str());
    return w.finish();
}

TEST(BlockCodes, ZeroRunFieldFollowsTheThirdCodeLengthEntry) {
    // Count 2: two entries and nothing else.  Count 3: three entries, then the
    // 2-bit zero run, whose zeros may run past the count.
    const char* forms[] = {"00010 001 001", "00011 001 001 000 11", "00011 001 001 000 00"};
    for (const char* form : forms) {
        SCOPED_TRACE(form);
        DecodedMember out = decode_packed(pack(two_byte_block(form)), 2, METHOD_LH5);
        EXPECT_EQ(out.result, DECODE_COMPLETE);
        EXPECT_EQ(text_of(out.output), "AA");
    }
    // A count of 5 with a zero run of 2 after index 2 is complete without more
    // entries: lengths 1, 0, 1, 0, 0.
    DecodedMember out = decode_packed(pack(two_byte_block("00101 001 000 001 10")), 2, METHOD_LH5);
    EXPECT_EQ(out.result, DECODE_COMPLETE);
    EXPECT_EQ(text_of(out.output), "AA");
}

// Streams whose fields no valid block holds: each must end its member as damaged.
struct Refused {
    const char* what;
    int method;
    std::string bits;
};

std::string bits_of(uint32_t value, unsigned count) {
    std::string s;
    for (unsigned i = count; i-- > 0;) s += ((value >> i) & 1) ? '1' : '0';
    return s + " ";
}

// Block header and the two-symbol code-length code 0 -> "0", 3 (length 1) -> "1".
const std::string SIZE = "0000000000000010 ";
const std::string LENGTH_CODE = "00100 001 000 000 00 001 ";
const std::string CHAR_A = "000000000 001000001 ";  // every symbol 'A'
// Code-length symbols 2 (a run of 20 or more zeros) -> "0" and 3 (length 1) -> "1".
const std::string RUN_CODE = "00100 000 000 001 00 001 ";

std::vector<Refused> refused_streams() {
    return {
        {"code-length single value 19", METHOD_LH5, SIZE + "00000 10011"},
        {"code-length length 17", METHOD_LH5, SIZE + "00011 1111111111111 0 001 001 00"},
        {"over-subscribed code-length code", METHOD_LH5, SIZE + "00011 001 001 001 00"},
        // 511 lengths of 1 bit ("1" each): the last one would land past the array.
        {"character count 511", METHOD_LH5,
         SIZE + LENGTH_CODE + "111111111" + std::string(511, '1')},
        {"character single value 510", METHOD_LH5, SIZE + LENGTH_CODE + "000000000 111111110"},
        // One length and a run of 510 zeros: one past the 510 lengths.
        {"zero run past 510", METHOD_LH5, SIZE + RUN_CODE + "111111110 1 0" + bits_of(490, 9)},
        {"position single value 14", METHOD_LH4, SIZE + LENGTH_CODE + CHAR_A + "0000 1110"},
        {"position single value 16", METHOD_LH6, SIZE + LENGTH_CODE + CHAR_A + "00000 10000"},
        {"position single value 17", METHOD_LH7, SIZE + LENGTH_CODE + CHAR_A + "00000 10001"},
        {"position length 20", METHOD_LH5,
         SIZE + LENGTH_CODE + CHAR_A + "0010 1111111111111111"},
    };
}

TEST(BlockCodes, FieldsNoValidBlockHoldsEndTheMemberAsDamaged) {
    for (const Refused& r : refused_streams()) {
        SCOPED_TRACE(r.what);
        Bytes packed = pack(r.bits + std::string(64, '0'));
        DecodedMember out = decode_packed(packed, 2, r.method);
        EXPECT_EQ(out.result, DECODE_DAMAGED);
        EXPECT_LE(out.output.size(), 2u);
    }
}

TEST(BlockCodes, TheValidNeighboursOfRefusedFieldsDecode) {
    // The same fields one step inside their bounds.
    struct Valid {
        int method;
        std::string bits;
        std::string output;
    };
    const Valid valid[] = {
        {METHOD_LH5, SIZE + "00000 10010 " + CHAR_A + "0000 0000", "AA"},  // value 18
        // Every symbol a 256-byte match at distance 4,097 + 12 extra bits: spaces.
        {METHOD_LH5, SIZE + LENGTH_CODE + "000000000 111111101 0000 1101 000000000000",
         std::string(256, ' ')},
        {METHOD_LH7, SIZE + LENGTH_CODE + CHAR_A + "00000 10000", "AA"},  // value 16
        // Counts beyond the alphabet: the extra lengths (here ones that would
        // over-subscribe the code) are read and left out of the table.
        {METHOD_LH5, SIZE + "10100 001 000 000 00 001" + std::string(45, '0') + " 001 " + CHAR_A +
         "0000 0000", "AA"},  // 20 of 19
        {METHOD_LH5, SIZE + LENGTH_CODE + CHAR_A + "1111 001 001" + std::string(36, '0') +
         " 001", "AA"},  // 15 of 14
        {METHOD_LH7, SIZE + LENGTH_CODE + CHAR_A + "10010 001 001" + std::string(45, '0') +
         " 001", "AA"},  // 18 of 17
        // Symbol 0 of one bit and a run of 509 zeros: 510 lengths exactly.
        {METHOD_LH5, SIZE + RUN_CODE + "111111110 1 0" + bits_of(489, 9) + "0000 0000 00",
         std::string(2, '\0')},
    };
    for (const Valid& v : valid) {
        SCOPED_TRACE(v.bits);
        DecodedMember out = decode_packed(pack(v.bits), (uint32_t)v.output.size(), v.method);
        EXPECT_EQ(out.result, DECODE_COMPLETE);
        EXPECT_EQ(text_of(out.output), v.output);
    }
}

// A block whose code-length code and character code send only zero lengths: the
// tables stay as the member found them, which must be empty at its start, not the
// last member's.  Empty tables decode every symbol as 0 in no bits.
TEST(BlockCodes, AMemberFindsNoCodeOfTheMemberBefore) {
    const Bytes empty_codes = pack(SIZE + "00001 000 " + "000000001 " + "0000 0000");
    for (const char* archive : {"lh5_long.lzh", "lh7_long.lzh"}) {
        SCOPED_TRACE(archive);
        std::vector<ArchiveMember> members = members_of(archive, METHOD_LH4, METHOD_LH7);
        ASSERT_FALSE(members.empty());
        const ArchiveMember& m = members.front();
        DecodedMember before = decode_packed(m.packed, m.original_size, method_index(m.method.c_str()));
        EXPECT_EQ(before.crc, m.crc);
        DecodedMember out = decode_packed(empty_codes, 2, METHOD_LH5);
        EXPECT_EQ(out.result, DECODE_COMPLETE);
        EXPECT_EQ(out.output, Bytes(2, 0));
    }
}

// The character lengths read from a FastBits word (where the input block holds all
// they could take) against the simple reader: zero runs of each form, a code-length
// code whose long codes leave its table for the tree, incomplete character codes,
// and the damage both must find at the same place.  The stream is padded so that the
// word may be used; each is decoded both ways.
// Decodes `packed` with the fast paths and without; both must agree.
DecodedMember both_ways(const Bytes& packed, uint32_t size, int method, const std::string& what) {
    decoder.simple_loop_only = true;
    DecodedMember simple = decode_packed(packed, size, method);
    decoder.simple_loop_only = false;
    DecodedMember fast = decode_packed(packed, size, method);
    EXPECT_EQ(fast.result, simple.result) << what;
    EXPECT_TRUE(fast.output == simple.output) << what;
    EXPECT_EQ(fast.crc, simple.crc) << what;
    return simple;
}

TEST(BlockCodes, CharacterLengthsReadAlikeFromAWordAndBitByBit) {
    // Code-length codes: the fixed one, and one of lengths 1 to 16 (complete), whose
    // codes of 9 bits and more are walked in the tree; the zero-run symbols 0-2 get
    // long codes in one, short in the other.
    Lengths long_tail(19, 0);
    const int order[] = {3, 12, 4, 11, 5, 10, 6, 9, 7, 8, 0, 13, 1, 14, 2, 15, 16};
    for (int k = 0; k < 17; k++) long_tail[order[k]] = (uint8_t)std::min(k + 1, 16);
    Lengths short_runs = long_tail;
    std::swap(short_runs[0], short_runs[3]);
    std::swap(short_runs[2], short_runs[12]);
    const Lengths length_codes[] = {Lengths(), long_tail, short_runs};
    std::mt19937 rng(5);
    for (int round = 0; round < 24; round++) {
        const int method = BLOCK_METHODS[round % 4];
        const Lengths& length_code = length_codes[round % 3];
        // Character lengths: runs of zeros of every size between a few codes, some
        // of them made incomplete by leaving a code out.
        Lengths chars(510, 0);
        std::vector<unsigned> used;
        for (unsigned s = 0; s < 510; s += 1 + rng() % (round % 2 ? 40 : 3)) used.push_back(s);
        uint8_t bits = 1;
        while ((1u << bits) < used.size()) bits++;
        for (unsigned s : used) chars[s] = bits;
        if (round % 5 == 4) chars[used.back()] = 0;
        Lengths positions(position_code_count(method), 5);
        BlockWriter b(method);
        b.block(40, chars, positions, 0, 0, length_code);
        std::vector<unsigned> literals;
        for (unsigned s : used)
            if (s < 256 && chars[s] != 0) literals.push_back(s);
        for (int k = 0; k < 40; k++) b.literal((uint8_t)literals[rng() % literals.size()]);
        Bytes packed = b.w.finish();
        const std::string what = "round " + std::to_string(round);
        packed.resize(packed.size() + 2000, 0);
        DecodedMember out = both_ways(packed, 40, method, what);
        EXPECT_EQ(out.result, DECODE_COMPLETE) << what;
        // Damage on the way: bits flipped inside the lengths.
        for (int k = 0; k < 6; k++) {
            Bytes bad = packed;
            bad[5 + rng() % 60] ^= (uint8_t)(1u << rng() % 8);
            both_ways(bad, 40, method, what + " flipped " + std::to_string(k));
        }
    }
    // The refused fields and their valid neighbours, with room for the word.
    for (const Refused& r : refused_streams()) {
        Bytes packed = pack(r.bits + std::string(64, '0'));
        packed.resize(packed.size() + 2000, 0);
        both_ways(packed, 2, r.method, r.what);
    }
}

// The fast run's distances against the simple loop's: every position code of each
// method with extra bits at both ends of their range, under a position code whose
// longest codes (up to 16 bits) are walked in the tree, in a member long enough for
// the fast run to take most of it.
TEST(BlockCodes, EveryPositionCodeDecodesAlikeInTheFastRun) {
    std::mt19937 rng(11);
    for (int method : BLOCK_METHODS) {
        SCOPED_TRACE(method_id(method));
        const int codes = position_code_count(method);
        Lengths positions(codes, 0);
        for (int j = 0; j < codes; j++) positions[j] = (uint8_t)std::min(j + 1, 16);
        positions[codes - 1] = positions[codes - 2];  // complete
        BlockWriter b(method);
        const int symbols = 3000;
        b.block(symbols, char_code_of({'a', 'b', 'c', 'd', 256, 260, 300, 509}, 3), positions);
        uint32_t size = 0;
        for (int k = 0; k < symbols; k++) {
            if (k % 3 != 2) {
                b.literal((uint8_t)("abcd"[rng() % 4]));
                size++;
                continue;
            }
            const int j = (k / 3) % codes;
            uint32_t p = 0;
            if (j > 0) p = 1u << (j - 1);
            if (j > 1) p += (k / 3 / codes) % 2 == 0 ? 0 : (1u << (j - 1)) - 1 - rng() % 2;
            const unsigned lengths[] = {3, 7, 47, 256};
            const unsigned length = lengths[rng() % 4];
            b.match(length, p + 1);
            size += length;
        }
        Bytes packed = b.w.finish();
        DecodedMember out = both_ways(packed, size, method, method_id(method));
        EXPECT_EQ(out.result, DECODE_COMPLETE);
        EXPECT_EQ(out.output.size(), size);
    }
}

// An incomplete position code decodes its unused entries as symbol 0 taking symbol
// 0's length, here 16 bits, twice the fast table's: the fast run's step for them
// must keep that length apart from the extra bits (none for symbol 0), so that both
// ways give a distance of 1 after the same 16 bits.
TEST(BlockCodes, UnusedPositionEntriesOfALongSymbolZeroDecodeAlike) {
    for (int method : BLOCK_METHODS) {
        SCOPED_TRACE(method_id(method));
        Lengths positions(position_code_count(method), 0);
        positions[0] = 16;  // code 1000000000000000
        positions[1] = 1;   // code 0; everything else after a 1 is unused
        BlockWriter b(method);
        const int symbols = 2000;
        b.block(symbols, char_code_of({'a', 'b', 256, 300}, 2), positions);
        uint32_t size = 0;
        for (int k = 0; k < symbols; k++) {
            if (k % 2 == 0) {
                b.literal(k % 4 == 0 ? 'a' : 'b');
                size++;
            } else {
                b.match_with_bits(k % 3 == 0 ? 3 : 47, 0xFFFF, 16);
                size += k % 3 == 0 ? 3 : 47;
            }
        }
        Bytes packed = b.w.finish();
        DecodedMember out = both_ways(packed, size, method, method_id(method));
        EXPECT_EQ(out.result, DECODE_COMPLETE);
        EXPECT_EQ(out.output.size(), size);
    }
}

}  // namespace
