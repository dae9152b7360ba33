#pragma once
// The per-frame canonical Huffman table of the MBC video coder: 192 symbols
// (size << 4 | run), code lengths 1-15, codes assigned shortest first and, within one
// length, in increasing symbol order. Codes of up to 8 bits decode through a 256-entry
// lookup; longer ones through a binary search of the left-aligned codes.
#include <cstdint>

#include "splitters/MbcBitReader.h"

class MbcHuffmanTable {
public:
    static constexpr int kSymbols = 192;
    static constexpr int kMaxLength = 15;

    // Reads the table's description from the stream (one used bit per symbol, then a
    // 4-bit length for used ones). False when no symbol is used, a used symbol has
    // length 0, or the lengths claim more codes than the code space holds.
    bool read(MbcBitReader& bits);
    // Builds from explicit lengths (0 = unused); same failures as read.
    bool build(const uint8_t lengths[kSymbols]);

    // The next symbol, or -1 when the bits match no code (a damaged payload).
    int decode(MbcBitReader& bits) const {
        uint32_t e = fast_[bits.peekBits(8)];
        if (e) {
            bits.skipBits(e & 15);
            return static_cast<int>(e >> 4) - 1;
        }
        return decodeLong(bits);
    }

    // Canonical codes for the given lengths (0 = unused); false as for build.
    static bool assignCodes(const uint8_t lengths[kSymbols], uint16_t codes[kSymbols]);

    int codeCount() const { return count_; }
    int maxLength() const { return maxLength_; }

private:
    int decodeLong(MbcBitReader& bits) const;

    struct Code {
        uint16_t aligned;  // code left-aligned to 16 bits
        uint8_t length;
        uint8_t symbol;
    };
    uint16_t fast_[256] = {};  // (symbol + 1) << 4 | length, 0 when not a short code
    Code sorted_[kSymbols] = {};
    int count_ = 0;
    int maxLength_ = 0;
};
