#include "splitters/MbcHuffmanTable.h"

#include <cstring>

bool MbcHuffmanTable::assignCodes(const uint8_t lengths[kSymbols], uint16_t codes[kSymbols]) {
    int used = 0;
    for (int s = 0; s < kSymbols; ++s) {
        if (lengths[s] > kMaxLength) return false;
        if (lengths[s]) ++used;
    }
    if (used == 0) return false;
    uint32_t code = 0;
    for (int len = 1; len <= kMaxLength; ++len) {
        for (int s = 0; s < kSymbols; ++s) {
            if (lengths[s] != len) continue;
            if (code >= (1u << len)) return false;  // over-subscribed
            codes[s] = static_cast<uint16_t>(code++);
        }
        code <<= 1;
    }
    return true;
}

bool MbcHuffmanTable::read(MbcBitReader& bits) {
    uint8_t lengths[kSymbols];
    bool zeroLength = false;
    for (int s = 0; s < kSymbols; ++s) {
        lengths[s] = 0;
        if (bits.readBits(1)) {
            lengths[s] = static_cast<uint8_t>(bits.readBits(4));
            // A used symbol without a length has no code; the table is damaged.
            if (lengths[s] == 0) zeroLength = true;
        }
    }
    if (zeroLength) {
        count_ = maxLength_ = 0;
        return false;
    }
    return build(lengths);
}

bool MbcHuffmanTable::build(const uint8_t lengths[kSymbols]) {
    count_ = 0;
    maxLength_ = 0;
    std::memset(fast_, 0, sizeof fast_);
    uint16_t codes[kSymbols] = {};
    if (!assignCodes(lengths, codes)) return false;
    // Canonical order is increasing left-aligned value: length first, then symbol.
    for (int len = 1; len <= kMaxLength; ++len) {
        for (int s = 0; s < kSymbols; ++s) {
            if (lengths[s] != len) continue;
            Code& c = sorted_[count_++];
            c.aligned = static_cast<uint16_t>(codes[s] << (16 - len));
            c.length = static_cast<uint8_t>(len);
            c.symbol = static_cast<uint8_t>(s);
            maxLength_ = len;
            if (len <= 8) {
                uint32_t first = static_cast<uint32_t>(codes[s]) << (8 - len);
                uint32_t n = 1u << (8 - len);
                for (uint32_t i = 0; i < n; ++i) fast_[first + i] = static_cast<uint16_t>(((s + 1) << 4) | len);
            }
        }
    }
    return true;
}

int MbcHuffmanTable::decodeLong(MbcBitReader& bits) const {
    if (maxLength_ <= 8 || count_ == 0) return -1;
    uint32_t v = bits.peekBits(16);
    // Last code whose left-aligned value is <= v.
    int lo = 0, hi = count_;
    while (hi - lo > 1) {
        int mid = (lo + hi) / 2;
        if (sorted_[mid].aligned <= v)
            lo = mid;
        else
            hi = mid;
    }
    const Code& c = sorted_[lo];
    if (c.aligned > v) return -1;
    unsigned shift = 16 - c.length;
    if ((v >> shift) != (static_cast<uint32_t>(c.aligned) >> shift)) return -1;
    bits.skipBits(c.length);
    return c.symbol;
}
