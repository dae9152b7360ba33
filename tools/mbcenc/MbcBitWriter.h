#pragma once
// Big-endian bit writer, the counterpart of MbcBitReader: bits fill each byte from its
// most significant end.
#include <cstdint>
#include <vector>

class MbcBitWriter {
public:
    // Appends the low n bits of value (0 <= n <= 32), most significant first.
    void write(uint32_t value, unsigned n) {
        for (unsigned i = n; i-- > 0;) {
            acc_ = static_cast<uint8_t>((acc_ << 1) | ((value >> i) & 1));
            if (++count_ == 8) {
                bytes_.push_back(acc_);
                acc_ = 0;
                count_ = 0;
            }
        }
    }
    // Pads the last byte with zero bits and hands the bytes over.
    std::vector<uint8_t> finish() {
        if (count_) bytes_.push_back(static_cast<uint8_t>(acc_ << (8 - count_)));
        acc_ = 0;
        count_ = 0;
        return std::move(bytes_);
    }
    uint64_t bitCount() const { return bytes_.size() * 8ull + count_; }

private:
    std::vector<uint8_t> bytes_;
    uint8_t acc_ = 0;
    unsigned count_ = 0;
};
