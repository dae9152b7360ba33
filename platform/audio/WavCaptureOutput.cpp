#include "platform/audio/WavCaptureOutput.h"

#include <cstring>

#include "platform/audio/AudioFormat.h"

namespace {

constexpr uint32_t kHeaderBytes = 44;
constexpr uint32_t kFrameBytes = MixFormat::kChannels * sizeof(float);
// The RIFF size fields are 32-bit: stop appending before they would wrap.
constexpr uint64_t kMaxFrames = (0xFFFFFFFFull - kHeaderBytes) / kFrameBytes;

void putLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void putLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

}  // namespace

WavCaptureOutput::WavCaptureOutput(std::filesystem::path path, Pacing pacing)
    : path_(std::move(path)), pacing_(pacing) {}

WavCaptureOutput::~WavCaptureOutput() {
    close();
}

bool WavCaptureOutput::open(AudioSource& source) {
    close();
    {
        std::lock_guard lock(lock_);
        file_ = std::fopen(path_.c_str(), "wb");
        if (!file_) return false;
        source_ = &source;
        frames_ = 0;
        writeHeader();
    }
    if (pacing_ == Pacing::RealTime) {
        pump_.start(source, [this](const float* samples, uint32_t frames) {
            std::lock_guard lock(lock_);
            append(samples, frames);
        });
    }
    return true;
}

void WavCaptureOutput::close() {
    pump_.stop();
    std::lock_guard lock(lock_);
    if (!file_) return;
    writeHeader();
    std::fclose(file_);
    file_ = nullptr;
    source_ = nullptr;
}

bool WavCaptureOutput::pump(uint32_t frames) {
    std::lock_guard lock(lock_);
    if (!file_ || !source_ || pacing_ != Pacing::Manual) return false;
    constexpr uint32_t kBlock = 4096;
    block_.resize(kBlock * 2);
    while (frames > 0) {
        uint32_t n = std::min(frames, kBlock);
        source_->mix(block_.data(), n, false);
        append(block_.data(), n);
        frames -= n;
    }
    return true;
}

uint64_t WavCaptureOutput::framesWritten() const {
    std::lock_guard lock(lock_);
    return frames_;
}

void WavCaptureOutput::append(const float* samples, uint32_t frames) {
    if (!file_) return;
    uint64_t n = std::min<uint64_t>(frames, kMaxFrames - frames_);
    if (n == 0) return;
    // The file is little-endian float, as is the machine.
    size_t wrote = std::fwrite(samples, kFrameBytes, static_cast<size_t>(n), file_);
    frames_ += wrote;
}

void WavCaptureOutput::writeHeader() {
    uint8_t h[kHeaderBytes];
    uint32_t dataBytes = static_cast<uint32_t>(frames_ * kFrameBytes);
    std::memcpy(h, "RIFF", 4);
    putLe32(h + 4, 36 + dataBytes);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    putLe32(h + 16, 16);
    putLe16(h + 20, 3);  // IEEE float
    putLe16(h + 22, MixFormat::kChannels);
    putLe32(h + 24, MixFormat::kRate);
    putLe32(h + 28, MixFormat::kRate * kFrameBytes);
    putLe16(h + 32, kFrameBytes);
    putLe16(h + 34, 32);
    std::memcpy(h + 36, "data", 4);
    putLe32(h + 40, dataBytes);
    long end = std::ftell(file_);
    std::fseek(file_, 0, SEEK_SET);
    std::fwrite(h, 1, sizeof h, file_);
    if (end > static_cast<long>(kHeaderBytes)) std::fseek(file_, end, SEEK_SET);
    std::fflush(file_);
}
