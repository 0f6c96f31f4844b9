#include "tests/support/adaptive_reference.h"

#include <algorithm>

unsigned BitSource::bit() {
    unsigned b = 0;
    if (position_ / 8 < bytes_.size()) b = (bytes_[position_ / 8] >> (7 - position_ % 8)) & 1;
    position_++;
    return b;
}

unsigned BitSource::bits(unsigned count) {
    unsigned value = 0;
    while (count-- > 0) value = value << 1 | bit();
    return value;
}

static const int POSITION_ROOT_NODE = 628;
static const int POSITION_BASE = 314;
static const uint32_t LIMIT = 0x8000;

AdaptiveReference::AdaptiveReference(int symbols, bool count_lone_position_leaf)
    : nodes_(884), leaf_(442, -1), symbols_(symbols), escape_(symbols == 286 ? 285 : 512),
      count_lone_leaf_(count_lone_position_leaf) {
    const int n = symbols;
    for (int i = 0; i < n; i++) {
        int j = 2 * n - 2 - i;
        nodes_[j] = {1, -1, -1, i, -1};
        leaf_[i] = j;
    }
    for (int j = n - 2; j >= 0; j--) {
        nodes_[j] = {nodes_[2 * j + 2].weight + nodes_[2 * j + 1].weight, 2 * j + 2, 2 * j + 1, -1, -1};
        nodes_[2 * j + 2].parent = nodes_[2 * j + 1].parent = j;
    }
    nodes_[POSITION_ROOT_NODE] = {1, -1, -1, POSITION_BASE, -1};
    leaf_[POSITION_BASE] = POSITION_ROOT_NODE;
}

void AdaptiveReference::put_code(BitWriter& out, int node) const {
    std::vector<unsigned> path;
    for (int q = node; nodes_[q].parent >= 0; q = nodes_[q].parent)
        path.push_back(nodes_[nodes_[q].parent].zero == q ? 0 : 1);
    for (size_t i = path.size(); i-- > 0;) out.put(path[i], 1);
}

int AdaptiveReference::walk(BitSource& in, int node) const {
    while (nodes_[node].zero >= 0) node = in.bit() ? nodes_[node].one : nodes_[node].zero;
    return node;
}

void AdaptiveReference::put_symbol(BitWriter& out, unsigned symbol) {
    unsigned coded = std::min(symbol, escape_);
    put_code(out, leaf_[coded]);
    count_char(coded);
    if (coded == escape_) out.put(symbol - escape_, 8);
}

unsigned AdaptiveReference::get_symbol(BitSource& in) {
    unsigned symbol = (unsigned)nodes_[walk(in, 0)].symbol;
    count_char(symbol);
    if (symbol == escape_) symbol += in.bits(8);
    return symbol;
}

void AdaptiveReference::put_position(BitWriter& out, unsigned position, uint32_t decoded_count) {
    grow_for(decoded_count);
    put_code(out, leaf_[POSITION_BASE + position / 64]);
    count_position(position / 64);
    out.put(position % 64, 6);
}

unsigned AdaptiveReference::get_position(BitSource& in, uint32_t decoded_count) {
    grow_for(decoded_count);
    unsigned symbol = (unsigned)(nodes_[walk(in, POSITION_ROOT_NODE)].symbol - POSITION_BASE);
    count_position(symbol);
    return symbol * 64 + in.bits(6);
}

void AdaptiveReference::grow_for(uint32_t decoded_count) {
    while (decoded_count > next_growth_) {
        grow(next_growth_ / 64);
        next_growth_ += 64;
        if (next_growth_ >= 8192) next_growth_ = UINT32_MAX;
    }
}

// The node's contents (children or symbol) now sit at `node`: point them back at it.
void AdaptiveReference::relink(int node) {
    Node& n = nodes_[node];
    if (n.zero >= 0) {
        nodes_[n.zero].parent = nodes_[n.one].parent = node;
    } else {
        leaf_[n.symbol] = node;
    }
}

void AdaptiveReference::exchange(int a, int b) {
    std::swap(nodes_[a].zero, nodes_[b].zero);
    std::swap(nodes_[a].one, nodes_[b].one);
    std::swap(nodes_[a].symbol, nodes_[b].symbol);
    relink(a);
    relink(b);
}

// Counts `node` and its ancestors below `root`.  Weights never increase with the
// index from `lowest` on, so the lowest node of a weight is a binary search away.
void AdaptiveReference::climb(int node, int root, int lowest) {
    while (node != root) {
        uint32_t w = nodes_[node].weight;
        int lo = lowest, hi = node;
        while (lo < hi) {
            int mid = (lo + hi) / 2;
            if (nodes_[mid].weight > w) lo = mid + 1; else hi = mid;
        }
        if (lo != node) exchange(node, lo);
        nodes_[lo].weight++;
        node = nodes_[lo].parent;
    }
}

void AdaptiveReference::count_char(unsigned symbol) {
    if (nodes_[0].weight == LIMIT) rebuild(0, 2 * symbols_ - 1);
    nodes_[0].weight++;
    climb(leaf_[symbol], 0, 1);
}

void AdaptiveReference::count_position(unsigned symbol) {
    if (position_updates_ == LIMIT) {
        rebuild(POSITION_ROOT_NODE, last_position_ + 1);
        position_updates_ = nodes_[POSITION_ROOT_NODE].weight;
        nodes_[POSITION_ROOT_NODE].weight = 0xFFFF;
    }
    if (count_lone_leaf_ && last_position_ == POSITION_ROOT_NODE) nodes_[POSITION_ROOT_NODE].weight++;
    climb(leaf_[POSITION_BASE + symbol], POSITION_ROOT_NODE, POSITION_ROOT_NODE + 1);
    position_updates_++;
}

// Halves the leaves (rounding up) and lays the tree out again from the back: each
// internal node pairs the next two nodes from the back and goes in front of the
// leaves that weigh no more than it.
void AdaptiveReference::rebuild(int first, int end) {
    std::vector<Node> leaves;
    for (int i = first; i < end; i++)
        if (nodes_[i].zero < 0) leaves.push_back({(nodes_[i].weight + 1) / 2, -1, -1, nodes_[i].symbol, -1});
    int fill = end - 1, pair = end - 2, next_leaf = (int)leaves.size() - 1;
    while (fill >= first) {
        while (fill >= pair) nodes_[fill--] = leaves[next_leaf--];
        uint32_t f = nodes_[pair].weight + nodes_[pair + 1].weight;
        while (next_leaf >= 0 && leaves[next_leaf].weight <= f) nodes_[fill--] = leaves[next_leaf--];
        nodes_[fill--] = {f, pair + 1, pair, -1, -1};
        pair -= 2;
    }
    nodes_[first].parent = -1;
    for (int i = first; i < end; i++) relink(i);
}

void AdaptiveReference::grow(unsigned symbol) {
    int m = last_position_, r = m + 1, q = m + 2;
    nodes_[r] = {nodes_[m].weight, -1, -1, nodes_[m].symbol, m};
    nodes_[q] = {0, -1, -1, (int)(POSITION_BASE + symbol), m};
    nodes_[m].zero = q;
    nodes_[m].one = r;
    nodes_[m].symbol = -1;
    relink(r);
    relink(q);
    if (m == POSITION_ROOT_NODE) nodes_[m].weight = 0xFFFF;
    last_position_ = q;
    count_position(symbol);
}
