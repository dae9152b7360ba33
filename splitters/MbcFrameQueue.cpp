#include "splitters/MbcFrameQueue.h"

#include <new>

namespace {
// Pictures kept for reuse beyond the slots: the held references, the one being decoded
// and a spare.
constexpr size_t kExtraPictures = 4;
}  // namespace

void MbcFrameQueue::reset(size_t capacity, uint64_t firstFrame) {
    slots_.clear();
    slots_.resize(capacity);
    pool_.clear();
    first_ = firstFrame;
}

void MbcFrameQueue::restart(uint64_t firstFrame) {
    for (auto& s : slots_) freeSlot(s);
    first_ = firstFrame;
}

void MbcFrameQueue::release() {
    slots_.clear();
    pool_.clear();
    first_ = 0;
}

size_t MbcFrameQueue::used() const {
    size_t n = 0;
    for (const auto& s : slots_) n += s.state != State::Empty;
    return n;
}

void MbcFrameQueue::freeSlot(Slot& slot) {
    slot = Slot{};
}

bool MbcFrameQueue::commit(uint64_t frame, State state, MbcFrameType type, std::shared_ptr<const MbcPicture> picture) {
    if (frame < first_ || state == State::Empty || !picture || find(frame)) return false;
    for (auto& s : slots_) {
        if (s.state == State::Empty) {
            s.frame = frame;
            s.references = 1;
            s.state = state;
            s.type = type;
            s.picture = std::move(picture);
            return true;
        }
    }
    return false;
}

const MbcFrameQueue::Slot* MbcFrameQueue::find(uint64_t frame) const {
    for (const auto& s : slots_)
        if (s.state != State::Empty && s.frame == frame) return &s;
    return nullptr;
}

void MbcFrameQueue::releaseBelow(uint64_t frame) {
    for (auto& s : slots_)
        if (s.state != State::Empty && s.frame < frame) freeSlot(s);
    if (frame > first_) first_ = frame;
}

std::shared_ptr<MbcPicture> MbcFrameQueue::acquirePicture(uint32_t width, uint32_t height) {
    for (auto& p : pool_) {
        if (p.use_count() == 1 && p->width() == width && p->height() == height) return p;
    }
    std::shared_ptr<MbcPicture> p(new (std::nothrow) MbcPicture);
    if (!p || !p->allocate(width, height)) return nullptr;
    if (pool_.size() < slots_.size() + kExtraPictures) {
        pool_.push_back(p);
    } else {
        // Replace a pooled buffer of another size, if any, so the pool follows the size.
        for (auto& q : pool_)
            if (q.use_count() == 1) {
                q = p;
                break;
            }
    }
    return p;
}
