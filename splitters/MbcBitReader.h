#pragma once
// Big-endian bit reader for MBC payloads (video frames and WBCF audio blocks): bits are
// taken from the most significant end of each byte, bytes in order. Reads past the end
// of the buffer yield zero bits and never touch memory outside it, so a short or
// damaged payload still decodes to completion with bounded work.
#include <cstddef>
#include <cstdint>
#include <cstring>

class MbcBitReader {
public:
    MbcBitReader(const uint8_t* data, size_t size) : data_(data), size_(data ? size : 0) {}

    // The next n bits (0 <= n <= 32) without consuming them.
    uint32_t peekBits(unsigned n) {
        if (count_ < n) refill();
        return n ? static_cast<uint32_t>(acc_ >> (64 - n)) : 0;
    }
    // Consumes n bits (0 <= n <= 32).
    void skipBits(unsigned n) {
        if (count_ < n) refill();
        acc_ = n ? acc_ << n : acc_;
        count_ -= n;
    }
    uint32_t readBits(unsigned n) {
        uint32_t v = peekBits(n);
        acc_ = n ? acc_ << n : acc_;
        count_ -= n;
        return v;
    }
    // Bits consumed so far (may exceed the payload's length when reading past its end).
    uint64_t bitPosition() const { return static_cast<uint64_t>(pos_) * 8 - count_; }
    // Whether any bit past the end of the payload has been consumed.
    bool overrun() const { return bitPosition() > static_cast<uint64_t>(size_) * 8; }
    size_t size() const { return size_; }

private:
    void refill() {
        if (pos_ + 8 <= size_) {
            uint64_t v;
            std::memcpy(&v, data_ + pos_, 8);
            v = __builtin_bswap64(v);
            // Bits beyond the whole bytes claimed here are the stream's own next bits, so a
            // later refill ORs the same values into them.
            acc_ |= v >> count_;
            unsigned bytes = (63 - count_) >> 3;
            pos_ += bytes;
            count_ += bytes * 8;
            return;
        }
        while (count_ <= 56) {
            uint64_t b = pos_ < size_ ? data_[pos_] : 0;
            acc_ |= b << (56 - count_);
            ++pos_;
            count_ += 8;
        }
    }

    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;      // next byte to load
    uint64_t acc_ = 0;    // left-aligned bits not yet consumed
    unsigned count_ = 0;  // valid bits in acc_
};
