#include "platform/audio/Mixer.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/audio/AudioOutputRegistry.h"

Mixer::~Mixer() {
    closeOutput();
}

Mixer& Mixer::instance() {
    static Mixer mixer;
    return mixer;
}

std::shared_ptr<MixerInput> Mixer::createInput(const AudioFormat& format) {
    if (!format.valid()) return nullptr;
    auto input = std::make_shared<MixerInput>(format);
    if (!input->ready()) return nullptr;
    {
        std::lock_guard lock(outputLock_);
        if (!output_ && !outputChosen_) {
            for (const auto& entry : audioOutputEntries()) {
                if (!entry.automatic) continue;
                auto out = entry.create({});
                if (out && out->open(*this)) {
                    output_ = std::move(out);
                    break;
                }
            }
            outputChosen_ = true;
        }
    }
    std::lock_guard lock(inputsLock_);
    inputs_.push_back(input);
    return input;
}

void Mixer::removeInput(const std::shared_ptr<MixerInput>& input) {
    std::lock_guard lock(inputsLock_);
    std::erase(inputs_, input);
}

size_t Mixer::inputCount() const {
    std::lock_guard lock(inputsLock_);
    return inputs_.size();
}

bool Mixer::setOutput(std::unique_ptr<AudioOutput> output) {
    std::lock_guard lock(outputLock_);
    if (output_) output_->close();
    output_.reset();
    outputChosen_ = true;
    if (!output || !output->open(*this)) return false;
    output_ = std::move(output);
    return true;
}

bool Mixer::openDefaultOutput() {
    for (const auto& entry : audioOutputEntries()) {
        if (!entry.automatic) continue;
        if (setOutput(entry.create({}))) return true;
    }
    return false;
}

void Mixer::closeOutput() {
    std::lock_guard lock(outputLock_);
    if (output_) output_->close();
    output_.reset();
    outputChosen_ = true;  // no output until one is set again
}

std::string Mixer::outputName() const {
    std::lock_guard lock(outputLock_);
    return output_ ? output_->name() : "";
}

uint32_t Mixer::outputLatencyFrames() const {
    std::lock_guard lock(outputLock_);
    return output_ ? output_->latencyFrames() : 0;
}

void Mixer::mix(float* out, uint32_t frames, bool realTime) {
    std::memset(out, 0, static_cast<size_t>(frames) * MixFormat::kChannels * sizeof(float));
    int64_t now =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count();
    {
        std::lock_guard lock(inputsLock_);
        for (const auto& input : inputs_) input->pull(out, frames, realTime, now);
    }
    for (size_t i = 0; i < static_cast<size_t>(frames) * MixFormat::kChannels; ++i)
        out[i] = std::clamp(out[i], -1.0f, 1.0f);
}
