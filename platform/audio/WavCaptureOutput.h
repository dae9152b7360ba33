#pragma once
// Writes the mix to a WAV file (32-bit float, stereo, 48 kHz). Paced by the wall clock
// like a device, or, in manual mode, only when the owner pumps it, as fast as it likes:
// that is how tests and the headless renderer get an exact, repeatable mix.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <vector>

#include "platform/audio/AudioOutput.h"
#include "platform/audio/RealTimePump.h"

class WavCaptureOutput : public AudioOutput {
public:
    enum class Pacing { RealTime, Manual };

    WavCaptureOutput(std::filesystem::path path, Pacing pacing);
    ~WavCaptureOutput() override;

    const char* name() const override { return "wav"; }
    // False when the file cannot be created.
    bool open(AudioSource& source) override;
    // Completes the header and closes the file.
    void close() override;

    // Manual mode: pulls and writes `frames` frames now; false when not open. (In
    // real-time mode the pump does this itself.)
    bool pump(uint32_t frames);

    uint64_t framesWritten() const;
    const std::filesystem::path& path() const { return path_; }

private:
    void append(const float* samples, uint32_t frames);  // with lock_ held
    void writeHeader();                                  // with lock_ held

    const std::filesystem::path path_;
    const Pacing pacing_;
    RealTimePump pump_;
    mutable std::mutex lock_;
    AudioSource* source_ = nullptr;
    std::FILE* file_ = nullptr;
    uint64_t frames_ = 0;
    std::vector<float> block_;
};
