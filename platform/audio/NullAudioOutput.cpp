#include "platform/audio/NullAudioOutput.h"

bool NullAudioOutput::open(AudioSource& source) {
    pump_.start(source, nullptr);
    return true;
}
