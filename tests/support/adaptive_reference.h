// A second, independent model of the "-lh1-"/"-lh2-" adaptive trees, used by the
// tests to encode streams and to decode them again.  It keeps no runs: a node that
// is counted trades places with the lowest node of equal weight, found by binary
// search over the weight order.  Nodes hold their two children explicitly.
#pragma once

#include <stdint.h>

#include <vector>

#include "tests/support/test_support.h"

// Reads bits most significant first; zero bits after the end.
class BitSource {
public:
    explicit BitSource(const Bytes& bytes) : bytes_(bytes) {}
    unsigned bit();
    unsigned bits(unsigned count);
private:
    const Bytes& bytes_;
    size_t position_ = 0;
};

class AdaptiveReference {
public:
    // `symbols`: 314 ("-lh1-", no escape) or 286 ("-lh2-", 285 escapes to 285-540).
    // `count_lone_position_leaf` copies an encoder that counts the position tree's
    // single starting leaf, which the format leaves at weight 1.
    explicit AdaptiveReference(int symbols, bool count_lone_position_leaf = false);

    // A character/length symbol, with the escape's 8 bits where it applies.
    void put_symbol(BitWriter& out, unsigned symbol);
    unsigned get_symbol(BitSource& in);
    // A "-lh2-" distance minus one (0-8191), given the bytes produced before the match.
    void put_position(BitWriter& out, unsigned position, uint32_t decoded_count);
    unsigned get_position(BitSource& in, uint32_t decoded_count);

private:
    struct Node {
        uint32_t weight;
        int zero, one;  // children on a 0 and a 1 bit; -1 for a leaf
        int symbol;     // for a leaf
        int parent;
    };
    void put_code(BitWriter& out, int node) const;
    int walk(BitSource& in, int node) const;
    void count_char(unsigned symbol);
    void count_position(unsigned symbol);
    void climb(int node, int root, int lowest);
    void exchange(int a, int b);
    void relink(int node);
    void rebuild(int first, int end);
    void grow(unsigned symbol);
    void grow_for(uint32_t decoded_count);

    std::vector<Node> nodes_;
    std::vector<int> leaf_;
    int symbols_;
    unsigned escape_;
    bool count_lone_leaf_;
    int last_position_ = 628;
    uint32_t position_updates_ = 0;
    uint32_t next_growth_ = 64;
};
