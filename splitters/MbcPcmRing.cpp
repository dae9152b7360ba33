#include "splitters/MbcPcmRing.h"

void MbcPcmRing::reset(size_t count, size_t chunkBytes) {
    chunks_.clear();
    chunks_.resize(count);
    for (auto& c : chunks_) c.bytes.assign(chunkBytes, 0);
    chunkBytes_ = chunkBytes;
    nextOrder_ = 0;
    filling_ = nullptr;
}

void MbcPcmRing::clear() {
    for (auto& c : chunks_) {
        if (c.state != State::Lent) c.state = State::Free;
    }
    filling_ = nullptr;
}

void MbcPcmRing::release() {
    chunks_.clear();
    chunkBytes_ = 0;
    filling_ = nullptr;
}

uint8_t* MbcPcmRing::beginFill() {
    if (filling_) return filling_->bytes.data();
    for (auto& c : chunks_) {
        if (c.state == State::Free) {
            c.state = State::Filling;
            filling_ = &c;
            return c.bytes.data();
        }
    }
    return nullptr;
}

void MbcPcmRing::commitFill() {
    if (!filling_) return;
    filling_->state = State::Filled;
    filling_->order = nextOrder_++;
    filling_ = nullptr;
}

const uint8_t* MbcPcmRing::borrow(size_t* bytes) {
    Chunk* oldest = nullptr;
    for (auto& c : chunks_)
        if (c.state == State::Filled && (!oldest || c.order < oldest->order)) oldest = &c;
    if (!oldest) return nullptr;
    oldest->state = State::Lent;
    if (bytes) *bytes = oldest->bytes.size();
    return oldest->bytes.data();
}

bool MbcPcmRing::giveBack(const uint8_t* chunk) {
    for (auto& c : chunks_) {
        if (c.state == State::Lent && c.bytes.data() == chunk) {
            c.state = State::Free;
            return true;
        }
    }
    return false;
}

size_t MbcPcmRing::filledCount() const {
    size_t n = 0;
    for (const auto& c : chunks_) n += c.state == State::Filled;
    return n;
}
