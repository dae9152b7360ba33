#include "platform/audio/AudioOutputRegistry.h"

#include "platform/audio/NullAudioOutput.h"
#include "platform/audio/SdlAudioOutput.h"
#include "platform/audio/WavCaptureOutput.h"

namespace {

const AudioOutputEntry kEntries[] = {
    {"sdl", true,
     [](const std::string&) -> std::unique_ptr<AudioOutput> { return std::make_unique<SdlAudioOutput>(); }},
    {"null", true,
     [](const std::string&) -> std::unique_ptr<AudioOutput> { return std::make_unique<NullAudioOutput>(); }},
    {"wav", false,
     [](const std::string& path) -> std::unique_ptr<AudioOutput> {
         if (path.empty()) return nullptr;
         return std::make_unique<WavCaptureOutput>(path, WavCaptureOutput::Pacing::RealTime);
     }},
};

}  // namespace

std::span<const AudioOutputEntry> audioOutputEntries() {
    return kEntries;
}

std::unique_ptr<AudioOutput> createAudioOutput(std::string_view name, const std::string& argument) {
    for (const auto& e : kEntries)
        if (name == e.name) return e.create(argument);
    return nullptr;
}
