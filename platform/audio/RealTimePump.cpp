#include "platform/audio/RealTimePump.h"

#include <algorithm>
#include <chrono>

#include "platform/audio/AudioFormat.h"

RealTimePump::RealTimePump(uint32_t periodMs)
    : periodMs_(std::max<uint32_t>(1, periodMs)), periodFrames_(periodMs_ * MixFormat::kRate / 1000) {}

RealTimePump::~RealTimePump() {
    stop();
}

void RealTimePump::start(AudioSource& source, Sink sink) {
    stop();
    stop_.reset();
    thread_ = std::thread([this, &source, sink = std::move(sink)] { run(source, sink); });
}

void RealTimePump::stop() {
    if (!thread_.joinable()) return;
    stop_.set();
    thread_.join();
}

void RealTimePump::run(AudioSource& source, const Sink& sink) {
    using Clock = std::chrono::steady_clock;
    // Far behind (a stalled process): start again from now rather than rush to catch up.
    const uint64_t maxBehind = periodFrames_ * 20;
    auto start = Clock::now();
    uint64_t pulled = 0;
    std::vector<float> block(static_cast<size_t>(periodFrames_) * 2 * 4);
    do {
        auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
        uint64_t due = static_cast<uint64_t>(elapsed) * MixFormat::kRate / 1000000000 + periodFrames_;
        if (due > pulled + maxBehind) {
            start = Clock::now();
            pulled = 0;
            due = periodFrames_;
        }
        while (pulled < due) {
            uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(due - pulled, block.size() / 2));
            source.mix(block.data(), n, true);
            if (sink) sink(block.data(), n);
            pulled += n;
        }
    } while (!stop_.wait(periodMs_));
}
