#include "platform/audio/SdlAudioOutput.h"

#include <SDL.h>

#include "platform/audio/AudioFormat.h"

bool SdlAudioOutput::open(AudioSource& source) {
    close();
    // Audio brings up SDL's event subsystem, whose handlers would turn SIGINT and SIGTERM
    // into quit events nobody reads: the process could no longer be ended that way.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    subsystem_ = true;
    source_ = &source;
    SDL_AudioSpec want{};
    want.freq = MixFormat::kRate;
    want.format = AUDIO_F32SYS;
    want.channels = MixFormat::kChannels;
    want.samples = 1024;
    want.callback = &SdlAudioOutput::callback;
    want.userdata = this;
    SDL_AudioSpec have{};
    // No changes allowed: SDL converts to the device's own format behind the callback.
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device_ == 0) {
        close();
        return false;
    }
    latency_ = have.samples;
    SDL_PauseAudioDevice(device_, 0);
    return true;
}

void SdlAudioOutput::close() {
    if (device_ != 0) {
        // Closing waits for a callback in progress; none runs after this.
        SDL_CloseAudioDevice(device_);
        device_ = 0;
    }
    if (subsystem_) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        subsystem_ = false;
    }
    source_ = nullptr;
    latency_ = 0;
}

const char* SdlAudioOutput::driver() const {
    if (device_ == 0) return "";
    const char* d = SDL_GetCurrentAudioDriver();
    return d ? d : "";
}

void SdlAudioOutput::callback(void* self, uint8_t* stream, int len) {
    auto* out = static_cast<SdlAudioOutput*>(self);
    auto frames = static_cast<uint32_t>(len) / (MixFormat::kChannels * sizeof(float));
    out->source_->mix(reinterpret_cast<float*>(stream), frames, true);
}
