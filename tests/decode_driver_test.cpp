// The decode driver with a scripted method row: window writes, match copies,
// cancellation, and the bounds that keep damaged members from overrunning.
#include <gtest/gtest.h>

#include "decode/decode_driver.h"
#include "decode/window_copy.h"
#include "tests/support/test_support.h"

namespace {

// A method that plays back a fixed list of (symbol, position) pairs.
struct Script {
    std::vector<std::pair<uint16_t, uint16_t>> items;
    size_t next = 0;
    int begins = 0;
};
Script script;

uint16_t scripted_symbol() {
    if (script.next >= script.items.size()) return 'Z';
    return script.items[script.next].first;
}
uint16_t scripted_position() { return script.items[script.next++].second; }
uint16_t symbol_then_advance() {
    uint16_t s = scripted_symbol();
    if (s < 256) script.next++;
    return s;
}
void scripted_begin() { script.begins++; }


struct Output {
    Bytes bytes;
    std::vector<size_t> writes;  // sizes of the writes, as the file saw them
    DecodeResult result;
    uint16_t crc;
};

// fopencookie lets the test see every write the driver makes.
ssize_t record_write(void* cookie, const char* data, size_t size) {
    Output* out = (Output*)cookie;
    out->bytes.insert(out->bytes.end(), data, data + size);
    out->writes.push_back(size);
    return (ssize_t)size;
}

Output decode(std::vector<std::pair<uint16_t, uint16_t>> items, uint32_t original_size,
              uint16_t dictionary_bits = 12, int method = METHOD_LH5, uint32_t total = 0) {
    start_progress(total);
    script = Script{items, 0, 0};
    Output out;
    cookie_io_functions_t io = {nullptr, record_write, nullptr, nullptr};
    FILE* sink = fopencookie(&out, "wb", io);
    setvbuf(sink, nullptr, _IONBF, 0);
    FILE* in = tmpfile();
    // The scripted operations with the window and match base of `method`'s row.
    static const MethodFamily operations = {scripted_begin, symbol_then_advance,
                                            scripted_position, nullptr};
    const MethodRow scripted = {"scr", METHOD_CODED, (uint8_t)dictionary_bits,
                                METHOD_TABLE[method].match_base, 0, &operations, 0};
    MemberResult decoded = decode_member({0, original_size, in, sink, &scripted, 0});
    out.result = decoded.result;
    out.crc = decoded.output.crc;
    fclose(sink);
    fclose(in);
    return out;
}

std::vector<std::pair<uint16_t, uint16_t>> literals(size_t n) {
    std::vector<std::pair<uint16_t, uint16_t>> items;
    for (size_t i = 0; i < n; i++) items.push_back({(uint16_t)('a' + i % 26), 0});
    return items;
}

TEST(DecodeDriver, WritesWholeWindowsAndNoEmptyTail) {
    Output out = decode(literals(8192), 8192);
    EXPECT_EQ(out.result, DECODE_COMPLETE);
    EXPECT_EQ(out.writes, (std::vector<size_t>{4096, 4096}));
    Output partial = decode(literals(5000), 5000);
    EXPECT_EQ(partial.writes, (std::vector<size_t>{4096, 904}));
    EXPECT_EQ(partial.crc, crc16_of(partial.bytes));
}

TEST(DecodeDriver, EmptyMemberStillBegins) {
    Output out = decode({}, 0);
    EXPECT_EQ(out.result, DECODE_COMPLETE);
    EXPECT_TRUE(out.bytes.empty());
    EXPECT_EQ(script.begins, 1);
    EXPECT_EQ(out.crc, 0);
}

TEST(DecodeDriver, MatchesCopyByteByByte) {
    // 'x', then p = 0 length 5 (256 + 2 = length 5 with base 253): six x.
    Output run = decode({{'x', 0}, {258, 0}}, 6);
    EXPECT_EQ(run.bytes, Bytes(6, 'x'));
    // "abc" then p = 2 length 7 overlaps itself: abcabcabca.
    Output overlap = decode({{'a', 0}, {'b', 0}, {'c', 0}, {260, 2}}, 10);
    EXPECT_EQ(std::string(overlap.bytes.begin(), overlap.bytes.end()), "abcabcabca");
    // A match before any byte was written copies the window's spaces.
    Output spaces = decode({{256, 99}}, 3);
    EXPECT_EQ(spaces.bytes, Bytes(3, ' '));
    // "-lzs-" counts lengths from 254: symbol 256 is two bytes.
    Output lzs = decode({{'q', 0}, {256, 0}}, 3, 11, METHOD_LZS);
    EXPECT_EQ(lzs.bytes, Bytes(3, 'q'));
}

TEST(DecodeDriver, MatchesWrapAroundTheWindow) {
    auto items = literals(4094);
    items.push_back({256 + 7, 3});  // length 10 crossing the window's end
    Output out = decode(items, 4104);
    ASSERT_EQ(out.bytes.size(), 4104u);
    for (int i = 0; i < 10; i++) EXPECT_EQ(out.bytes[4094 + i], out.bytes[4090 + i % 4]) << i;
}

// A fast match copy against the byte loop it stands for, for every position, source
// and length in a small window that the copy accepts (`past` bytes after both
// ranges): sources behind, ahead and equal, repeats of one to seven bytes, long and
// short.  With `past_free` the `past` bytes after the match are free to change;
// nothing before the match or beyond them is.
void expect_copy_as_byte_loop(void (*copy)(uint8_t*, uint32_t, uint32_t, uint32_t),
                              uint32_t size, uint32_t past, bool past_free) {
    Bytes start(2 * size);  // more than the compiler can tell is never touched
    for (uint32_t i = 0; i < 2 * size; i++) start[i] = (uint8_t)(i * 37 + 11);
    for (uint32_t position = 0; position + past < size; position++) {
        for (uint32_t source = 0; source + past < size; source++) {
            const uint32_t room = size - past - (position > source ? position : source);
            for (uint32_t length = 1; length <= room; length++) {
                Bytes expected = start, fast = start;
                for (uint32_t i = 0; i < length; i++) expected[position + i] = expected[source + i];
                copy(fast.data(), position, source, length);
                if (past_free)
                    for (uint32_t i = 0; i < past; i++)
                        fast[position + length + i] = expected[position + length + i];
                ASSERT_EQ(fast, expected) << position << " " << source << " " << length;
            }
        }
    }
}

TEST(DecodeDriver, WindowCopyMatchesTheByteLoop) {
    expect_copy_as_byte_loop(copy_in_window, 80, WINDOW_COPY_PAST, false);
}

TEST(DecodeDriver, RingCopyMatchesTheByteLoop) {
    expect_copy_as_byte_loop(copy_in_ring, 112, RING_SLACK, true);
}

// Encoders may end a member inside its last match: the output stops at the size and
// the member is complete.
TEST(DecodeDriver, LastMatchPastTheSizeIsCutAtTheSize) {
    Output out = decode({{'x', 0}, {300, 0}}, 10);
    EXPECT_EQ(out.result, DECODE_COMPLETE);
    EXPECT_EQ(text_of(out.bytes), std::string(10, 'x'));
}

TEST(DecodeDriver, CancelKeepsOnlyWholeWindows) {
    PlatformHooks hooks = {};
    hooks.progress = [](void*, uint32_t percent) { if (percent >= 60) decoder.stop_requested = 1; };
    platform_set_hooks(&hooks);
    Output out = decode(literals(10000), 10000, 12, METHOD_LH5, 10000);
    EXPECT_EQ(out.result, DECODE_CANCELLED);
    EXPECT_EQ(out.writes, std::vector<size_t>{4096});  // 6000 decoded, one window written
}

}  // namespace
