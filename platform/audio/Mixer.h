#pragma once
// The process's one mixer: every audio renderer feeds it through its own MixerInput, and
// one output pulls the sum (float, stereo, 48 kHz).
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio/AudioFormat.h"
#include "platform/audio/AudioOutput.h"
#include "platform/audio/MixerInput.h"

class Mixer : public AudioSource {
public:
    Mixer() = default;
    ~Mixer() override;
    Mixer(const Mixer&) = delete;
    Mixer& operator=(const Mixer&) = delete;

    // The process-wide mixer.
    static Mixer& instance();

    // A new input for PCM of `format`; null when the format is not supported. The first
    // input opens an output if none was chosen.
    std::shared_ptr<MixerInput> createInput(const AudioFormat& format);
    void removeInput(const std::shared_ptr<MixerInput>& input);
    size_t inputCount() const;

    // Replaces the output. False when it does not open; the mixer then has none until
    // another is set (inputs hold their data meanwhile).
    bool setOutput(std::unique_ptr<AudioOutput> output);
    // Tries the automatic outputs of the list in order; false when none opened.
    bool openDefaultOutput();
    // Leaves the mixer without an output (a later first input does not open one).
    void closeOutput();
    // Name of the open output, or "" when there is none.
    std::string outputName() const;
    uint32_t outputLatencyFrames() const;

    void mix(float* out, uint32_t frames, bool realTime) override;

private:
    mutable std::mutex outputLock_;  // taken before inputsLock_, never inside mix
    std::unique_ptr<AudioOutput> output_;
    bool outputChosen_ = false;

    mutable std::mutex inputsLock_;
    std::vector<std::shared_ptr<MixerInput>> inputs_;
};
