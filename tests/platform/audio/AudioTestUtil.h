#pragma once
// Shared by the audio tests: a mixer captured to a WAV file in manual mode, and a reader
// for the files that capture writes.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/audio/Mixer.h"
#include "platform/audio/WavCaptureOutput.h"
#include "tests/support/TestSupport.h"

namespace audiotest {

struct Frame {
    float left, right;
};

// Reads a 32-bit float stereo WAV as our capture writes it; empty on a bad header.
inline std::vector<Frame> readCapture(const std::filesystem::path& p) {
    auto bytes = testsupport::readFile(p);
    std::vector<Frame> frames;
    if (bytes.size() < 44 || std::memcmp(bytes.data(), "RIFF", 4) != 0 || std::memcmp(bytes.data() + 8, "WAVE", 4))
        return frames;
    uint32_t dataBytes;
    std::memcpy(&dataBytes, bytes.data() + 40, 4);
    uint16_t format, channels;
    std::memcpy(&format, bytes.data() + 20, 2);
    std::memcpy(&channels, bytes.data() + 22, 2);
    if (format != 3 || channels != 2 || dataBytes > bytes.size() - 44) return frames;
    frames.resize(dataBytes / sizeof(Frame));
    std::memcpy(frames.data(), bytes.data() + 44, frames.size() * sizeof(Frame));
    return frames;
}

// A private mixer whose output is a manually pumped WAV capture.
class CaptureRig {
public:
    CaptureRig() {
        auto out = std::make_unique<WavCaptureOutput>(dir_ / "mix.wav", WavCaptureOutput::Pacing::Manual);
        capture_ = out.get();
        EXPECT_TRUE(mixer_.setOutput(std::move(out)));
    }
    Mixer& mixer() { return mixer_; }
    void pump(uint32_t frames) { ASSERT_TRUE(capture_->pump(frames)); }
    // Closes the capture and answers everything it wrote.
    std::vector<Frame> finish() {
        mixer_.closeOutput();
        return readCapture(dir_ / "mix.wav");
    }

private:
    testsupport::TempDir dir_;
    Mixer mixer_;
    WavCaptureOutput* capture_ = nullptr;
};

inline AudioFormat floatStereo(uint32_t rate = 48000) {
    return {SampleType::F32, rate, 2, 0};
}

// Writes all frames (the queue must have room for them).
template <class T>
void writeAll(MixerInput& input, const std::vector<T>& samples) {
    size_t frames = samples.size() / input.format().channels;
    size_t done = 0;
    while (done < frames) {
        size_t n = input.write(samples.data() + done * input.format().channels, frames - done);
        ASSERT_GT(n, 0u) << "queue full after " << done << " frames";
        done += n;
    }
}

}  // namespace audiotest
