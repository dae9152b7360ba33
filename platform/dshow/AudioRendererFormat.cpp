#include "platform/dshow/AudioRendererFormat.h"

#include <cstring>

#include "framework/dshow/Formats.h"
#include "framework/dshow/MediaGuids.h"

std::optional<AudioFormat> audioFormatFromMediaType(const AM_MEDIA_TYPE& mt) {
    if (mt.majortype != MEDIATYPE_Audio || mt.formattype != FORMAT_WaveFormatEx) return std::nullopt;
    // A bare 16-byte PCM header (no cbSize) is still a complete description.
    if (!mt.pbFormat || mt.cbFormat < 16) return std::nullopt;
    WAVEFORMATEX wf{};
    std::memcpy(&wf, mt.pbFormat, std::min<size_t>(mt.cbFormat, sizeof wf));
    if (mt.cbFormat < sizeof wf) wf.cbSize = 0;

    WORD tag = wf.wFormatTag;
    uint32_t mask = 0;
    if (tag == WAVE_FORMAT_EXTENSIBLE) {
        if (mt.cbFormat < sizeof(WAVEFORMATEXTENSIBLE) || wf.cbSize < 22) return std::nullopt;
        WAVEFORMATEXTENSIBLE ext;
        std::memcpy(&ext, mt.pbFormat, sizeof ext);
        if (ext.SubFormat == KSDATAFORMAT_SUBTYPE_PCM)
            tag = WAVE_FORMAT_PCM;
        else if (ext.SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT)
            tag = WAVE_FORMAT_IEEE_FLOAT;
        else
            return std::nullopt;
        // Samples padded inside their container (20 of 24 bits...) are not taken.
        WORD valid = ext.Samples.wValidBitsPerSample;
        if (valid != 0 && valid != wf.wBitsPerSample) return std::nullopt;
        mask = ext.dwChannelMask;
    }
    // The subtype, when given, must agree with the block.
    if (mt.subtype != GUID_NULL && mt.subtype != MEDIASUBTYPE_PCM && mt.subtype != MEDIASUBTYPE_IEEE_FLOAT)
        return std::nullopt;
    if (mt.subtype == MEDIASUBTYPE_PCM && tag != WAVE_FORMAT_PCM) return std::nullopt;
    if (mt.subtype == MEDIASUBTYPE_IEEE_FLOAT && tag != WAVE_FORMAT_IEEE_FLOAT) return std::nullopt;

    AudioFormat f;
    if (tag == WAVE_FORMAT_PCM && wf.wBitsPerSample == 8)
        f.type = SampleType::U8;
    else if (tag == WAVE_FORMAT_PCM && wf.wBitsPerSample == 16)
        f.type = SampleType::S16;
    else if (tag == WAVE_FORMAT_IEEE_FLOAT && wf.wBitsPerSample == 32)
        f.type = SampleType::F32;
    else
        return std::nullopt;
    f.channels = wf.nChannels;
    f.rate = wf.nSamplesPerSec;
    f.channelMask = mask;
    if (!f.valid() || wf.nBlockAlign != f.bytesPerFrame()) return std::nullopt;
    return f;
}
