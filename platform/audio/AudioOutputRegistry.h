#pragma once
// Every audio output in one list. The mixer tries the automatic ones in order and keeps
// the first that opens; the others are chosen by name.
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/audio/AudioOutput.h"

struct AudioOutputEntry {
    const char* name;
    bool automatic;  // tried when the mixer picks an output by itself
    // `argument` is output-specific (the file of a WAV capture); empty for devices.
    std::unique_ptr<AudioOutput> (*create)(const std::string& argument);
};

std::span<const AudioOutputEntry> audioOutputEntries();

// Null when no output has that name.
std::unique_ptr<AudioOutput> createAudioOutput(std::string_view name, const std::string& argument = {});
