#pragma once
// The media types that carry compressed streams between the system splitters and the
// system decoders, in both directions: a stream's codec parameters become a media type
// (MPEG streams in the platform's MPEG format blocks, PCM as WAVEFORMATEX, everything
// else as a FOURCC or format-tag subtype with the codec's extra data after the video
// header or the WAVEFORMATEX), and a media type becomes codec parameters again.
#include "framework/dshow/CMediaType.h"
#include "platform/dshow/system/AvHandles.h"

// Subtypes for codecs that have no FOURCC or format tag: the codec's number in Data1.
constexpr GUID kCodecSubtypeBase = guidOf("{00000000-5C1D-4A51-9B7E-4C4443444543}");

struct StreamMediaType {
    CMediaType type;
    // PCM the audio renderer or a converter takes as it is; such samples may be cut at
    // any multiple of blockAlign.
    bool pcm = false;
    int blockAlign = 1;
};

// False when the stream is neither audio nor video or its codec cannot be described.
bool mediaTypeFromStream(const AVCodecParameters& par, AVRational frameRate, StreamMediaType* out);

struct DecoderInput {
    av::CodecParameters parameters;
    // Frame duration from the video header, 0 when not given.
    REFERENCE_TIME frameTime = 0;
};

// Reads a media type back into codec parameters; false for anything malformed, for a
// size out of range and for a codec this build cannot decode. Nothing outside the
// format block is read.
bool decoderInputFromMediaType(const AM_MEDIA_TYPE& mt, DecoderInput* out);
