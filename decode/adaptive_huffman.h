// The adaptive Huffman model of "-lh1-" and "-lh2-": a character tree and, for
// "-lh2-", a position tree that grows with the output, both kept in one node store
// and updated after every symbol exactly as the encoder updates its own copy.
#pragma once

#include <stdint.h>

#include "decode/member_size.h"

enum {
    NODE_COUNT = 884,  // nodes 0-627 character tree, 628-883 position tree
    CHAR_ROOT = 0,
    POSITION_ROOT = 628,
    POSITION_SYMBOL_BASE = 314,  // position symbol s is symbol number s + 314
    SYMBOL_NUMBERS = 442,        // 314 characters and 128 positions
    RUN_NUMBERS = 628,           // size of the free_runs stack
    WEIGHT_LIMIT = 0x8000        // root weight at which a tree is rebuilt
};

// The model of the member being decoded: the node store of both trees and the
// figures of the method.  Weights never increase with the node index within a tree.
// An internal node n has the children down_link[n] (0 bit) and down_link[n] - 1
// (1 bit); a leaf holds the one's complement of its symbol number.  A run is a
// maximal group of consecutive nodes of equal weight; run_head names its lowest node.
// Kept in decoder.adaptive.model, set up by the method's begin_member.  The entries
// are whole words: the code that moves them is shorter than with halfwords.
struct AdaptiveModel {
    uint32_t node_weight[NODE_COUNT];
    int32_t down_link[NODE_COUNT];
    int32_t up_link[NODE_COUNT];
    int32_t node_run[NODE_COUNT];
    int32_t run_head[NODE_COUNT];
    int32_t free_runs[RUN_NUMBERS];
    uint32_t free_runs_top;
    int32_t leaf_of_symbol[SYMBOL_NUMBERS];

    uint32_t adaptive_symbol_count;  // 314 for "-lh1-", 286 for "-lh2-"
    uint32_t escape_symbol;          // followed by 8 plain bits; 512: none
    uint32_t last_position_node;
    uint32_t position_updates;     // stands in for the position root's weight
    MemberSize next_growth_count;  // decoded_count to exceed before the next growth
    uint32_t position_limit;
};

void count_symbol(unsigned symbol);
void count_position(unsigned symbol);
int bump_node(int node);
void rebuild_tree(int first, int end);
void grow_position_tree(unsigned symbol);
