#pragma once
// Which media types the audio renderer takes, and the mixer format each stands for.
#include <optional>

#include "framework/dshow/DshowTypes.h"
#include "platform/audio/AudioFormat.h"

// PCM (8-bit unsigned, 16-bit signed) or IEEE float (32-bit) in a WAVEFORMATEX or
// WAVEFORMATEXTENSIBLE block; any rate and channel count the mixer supports. Nothing is
// read outside the type's format block.
std::optional<AudioFormat> audioFormatFromMediaType(const AM_MEDIA_TYPE& mt);
