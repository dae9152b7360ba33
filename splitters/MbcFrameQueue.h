#pragma once
// The reader's decoded pictures: a fixed number of slots, each holding one frame (its
// number, the consumer's reference count, whether it was decoded or repeats the frame
// before, its type, and the picture). A slot is free again once the consumer released
// it. Pictures are shared, so a Repeat slot and the reader's held references keep a
// picture alive after its own slot was recycled; buffers come from a small pool and are
// reused once nothing refers to them. Not locked itself: the reader's lock guards it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "splitters/MbcFrameType.h"
#include "splitters/MbcPicture.h"

class MbcFrameQueue {
public:
    enum class State : uint8_t { Empty = 0, Decoded = 1, Repeat = 2 };
    struct Slot {
        uint64_t frame = 0;
        uint32_t references = 0;
        State state = State::Empty;
        MbcFrameType type = MbcFrameType::Intra;
        std::shared_ptr<const MbcPicture> picture;
    };

    // capacity slots, all free; frames below firstFrame are refused.
    void reset(size_t capacity, uint64_t firstFrame);
    // Frees every slot and moves the first frame (a seek).
    void restart(uint64_t firstFrame);
    void release();

    size_t capacity() const { return slots_.size(); }
    size_t used() const;
    bool full() const { return used() == slots_.size(); }
    uint64_t firstFrame() const { return first_; }

    // Stores frame n with one reference. False when no slot is free, n lies before the
    // first frame, or n is already stored.
    bool commit(uint64_t frame, State state, MbcFrameType type, std::shared_ptr<const MbcPicture> picture);
    // The stored frame n, or null.
    const Slot* find(uint64_t frame) const;
    // Drops the references of every frame below n and makes n the first frame.
    void releaseBelow(uint64_t frame);

    // A picture buffer no one else refers to (allocated to width x height), or null when
    // memory runs out.
    std::shared_ptr<MbcPicture> acquirePicture(uint32_t width, uint32_t height);

private:
    void freeSlot(Slot& slot);

    std::vector<Slot> slots_;
    std::vector<std::shared_ptr<MbcPicture>> pool_;
    uint64_t first_ = 0;
};
