#pragma once
// Ring of fixed-size PCM chunks between the reader's worker (filling, oldest first) and
// the consumer (borrowing whole chunks in order and returning them). Not locked itself:
// the reader's lock guards it.
#include <cstddef>
#include <cstdint>
#include <vector>

class MbcPcmRing {
public:
    // count chunks of chunkBytes each.
    void reset(size_t count, size_t chunkBytes);
    // Drops every filled chunk; a lent chunk stays lent until it is given back.
    void clear();
    void release();

    size_t chunkBytes() const { return chunkBytes_; }
    size_t chunkCount() const { return chunks_.size(); }
    // A free chunk to fill (chunkBytes bytes), or null when every chunk is in use.
    uint8_t* beginFill();
    // Queues the chunk from beginFill as the newest one.
    void commitFill();
    // The oldest filled chunk, lent to the caller; null when none is filled.
    const uint8_t* borrow(size_t* bytes);
    // Returns a lent chunk; false for a pointer that is not lent out.
    bool giveBack(const uint8_t* chunk);
    size_t filledCount() const;

private:
    enum class State : uint8_t { Free, Filling, Filled, Lent };
    struct Chunk {
        std::vector<uint8_t> bytes;
        State state = State::Free;
        uint64_t order = 0;
    };
    std::vector<Chunk> chunks_;
    size_t chunkBytes_ = 0;
    uint64_t nextOrder_ = 0;
    Chunk* filling_ = nullptr;
};
