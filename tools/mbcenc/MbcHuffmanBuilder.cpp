#include "tools/mbcenc/MbcHuffmanBuilder.h"

#include <algorithm>
#include <queue>
#include <vector>

namespace {

// Plain Huffman depths; returns the longest.
int huffmanDepths(const std::vector<uint64_t>& weights, std::vector<int>& depth) {
    size_t n = weights.size();
    depth.assign(n, 0);
    if (n == 1) {
        depth[0] = 1;
        return 1;
    }
    struct Node {
        uint64_t w;
        int id;
    };
    auto cmp = [](const Node& a, const Node& b) { return a.w != b.w ? a.w > b.w : a.id > b.id; };
    std::priority_queue<Node, std::vector<Node>, decltype(cmp)> heap(cmp);
    std::vector<int> parent(2 * n, -1);
    for (size_t i = 0; i < n; ++i) heap.push({weights[i], static_cast<int>(i)});
    int next = static_cast<int>(n);
    while (heap.size() > 1) {
        Node a = heap.top();
        heap.pop();
        Node b = heap.top();
        heap.pop();
        parent[a.id] = parent[b.id] = next;
        heap.push({a.w + b.w, next++});
    }
    int longest = 0;
    for (size_t i = 0; i < n; ++i) {
        int d = 0;
        for (int p = static_cast<int>(i); parent[p] >= 0; p = parent[p]) ++d;
        depth[i] = d;
        longest = std::max(longest, d);
    }
    return longest;
}

}  // namespace

bool mbcBuildCodeLengths(const uint32_t counts[192], uint8_t lengths[192]) {
    std::vector<int> symbols;
    std::vector<uint64_t> weights;
    for (int s = 0; s < 192; ++s) {
        lengths[s] = 0;
        if (counts[s]) {
            symbols.push_back(s);
            weights.push_back(counts[s]);
        }
    }
    if (symbols.empty()) return false;
    std::vector<int> depth;
    // Flatten the distribution until the longest code fits in 15 bits.
    while (huffmanDepths(weights, depth) > 15)
        for (auto& w : weights) w = (w + 1) / 2;
    for (size_t i = 0; i < symbols.size(); ++i) lengths[symbols[i]] = static_cast<uint8_t>(depth[i]);
    return true;
}
