// Media types the audio renderer takes, and the ones it must refuse.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "framework/dshow/Formats.h"
#include "framework/dshow/MediaGuids.h"
#include "platform/dshow/AudioRendererFormat.h"

namespace {

struct Type {
    AM_MEDIA_TYPE mt{};
    std::vector<BYTE> block;
    AM_MEDIA_TYPE& get() {
        mt.pbFormat = block.data();
        mt.cbFormat = static_cast<ULONG>(block.size());
        return mt;
    }
};

Type waveType(WORD tag, WORD channels, DWORD rate, WORD bits, const GUID& subtype) {
    Type t;
    t.mt.majortype = MEDIATYPE_Audio;
    t.mt.subtype = subtype;
    t.mt.formattype = FORMAT_WaveFormatEx;
    WAVEFORMATEX wf{};
    wf.wFormatTag = tag;
    wf.nChannels = channels;
    wf.nSamplesPerSec = rate;
    wf.wBitsPerSample = bits;
    wf.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    wf.nAvgBytesPerSec = rate * wf.nBlockAlign;
    t.block.resize(sizeof wf);
    std::memcpy(t.block.data(), &wf, sizeof wf);
    return t;
}

Type extensibleType(const GUID& sub, WORD channels, WORD bits, WORD validBits, DWORD mask) {
    Type t = waveType(WAVE_FORMAT_EXTENSIBLE, channels, 48000, bits, GUID_NULL);
    WAVEFORMATEXTENSIBLE ext{};
    std::memcpy(&ext.Format, t.block.data(), sizeof(WAVEFORMATEX));
    ext.Format.cbSize = 22;
    ext.Samples.wValidBitsPerSample = validBits;
    ext.dwChannelMask = mask;
    ext.SubFormat = sub;
    t.block.resize(sizeof ext);
    std::memcpy(t.block.data(), &ext, sizeof ext);
    return t;
}

}  // namespace

TEST(AudioRendererFormatTest, TakesPcmAndFloatOfAnyRateAndChannelCount) {
    auto u8 = waveType(WAVE_FORMAT_PCM, 1, 11025, 8, MEDIASUBTYPE_PCM);
    auto f = audioFormatFromMediaType(u8.get());
    ASSERT_TRUE(f);
    EXPECT_EQ(f->type, SampleType::U8);
    EXPECT_EQ(f->rate, 11025u);
    EXPECT_EQ(f->channels, 1u);

    auto s16 = waveType(WAVE_FORMAT_PCM, 6, 44100, 16, MEDIASUBTYPE_PCM);
    f = audioFormatFromMediaType(s16.get());
    ASSERT_TRUE(f);
    EXPECT_EQ(f->type, SampleType::S16);
    EXPECT_EQ(f->channels, 6u);

    auto flt = waveType(WAVE_FORMAT_IEEE_FLOAT, 2, 96000, 32, MEDIASUBTYPE_IEEE_FLOAT);
    f = audioFormatFromMediaType(flt.get());
    ASSERT_TRUE(f);
    EXPECT_EQ(f->type, SampleType::F32);

    // A 16-byte header without cbSize is complete for PCM.
    auto shortPcm = waveType(WAVE_FORMAT_PCM, 2, 48000, 16, MEDIASUBTYPE_PCM);
    shortPcm.block.resize(16);
    EXPECT_TRUE(audioFormatFromMediaType(shortPcm.get()));

    auto ext = extensibleType(KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, 4, 32, 32, 0x33);
    f = audioFormatFromMediaType(ext.get());
    ASSERT_TRUE(f);
    EXPECT_EQ(f->type, SampleType::F32);
    EXPECT_EQ(f->channelMask, 0x33u);
    auto extPcm = extensibleType(KSDATAFORMAT_SUBTYPE_PCM, 2, 16, 0, 0x3);
    EXPECT_TRUE(audioFormatFromMediaType(extPcm.get()));
}

TEST(AudioRendererFormatTest, RefusesWhatItCannotPlay) {
    std::vector<Type> bad;
    bad.push_back(waveType(WAVE_FORMAT_PCM, 2, 48000, 24, MEDIASUBTYPE_PCM));         // 24-bit
    bad.push_back(waveType(WAVE_FORMAT_IEEE_FLOAT, 2, 48000, 64, GUID_NULL));         // double
    bad.push_back(waveType(WAVE_FORMAT_PCM, 0, 48000, 16, MEDIASUBTYPE_PCM));         // no channels
    bad.push_back(waveType(WAVE_FORMAT_PCM, 2, 0, 16, MEDIASUBTYPE_PCM));             // no rate
    bad.push_back(waveType(WAVE_FORMAT_PCM, 2, 48000, 16, MEDIASUBTYPE_IEEE_FLOAT));  // subtype disagrees
    bad.push_back(waveType(0x0055, 2, 48000, 16, GUID_NULL));                         // compressed
    bad.push_back(extensibleType(KSDATAFORMAT_SUBTYPE_PCM, 2, 32, 24, 3));            // padded samples
    bad.push_back(extensibleType(MEDIASUBTYPE_WMAUDIO2, 2, 16, 16, 3));               // not PCM
    Type wrongAlign = waveType(WAVE_FORMAT_PCM, 2, 48000, 16, MEDIASUBTYPE_PCM);
    wrongAlign.block[12] = 3;  // nBlockAlign
    bad.push_back(wrongAlign);
    Type truncatedExt = extensibleType(KSDATAFORMAT_SUBTYPE_PCM, 2, 16, 16, 3);
    truncatedExt.block.resize(30);
    bad.push_back(truncatedExt);
    Type video = waveType(WAVE_FORMAT_PCM, 2, 48000, 16, MEDIASUBTYPE_PCM);
    video.mt.majortype = MEDIATYPE_Video;
    bad.push_back(video);
    Type noBlock = waveType(WAVE_FORMAT_PCM, 2, 48000, 16, MEDIASUBTYPE_PCM);
    noBlock.block.resize(15);
    bad.push_back(noBlock);
    for (size_t i = 0; i < bad.size(); ++i) EXPECT_FALSE(audioFormatFromMediaType(bad[i].get())) << i;

    AM_MEDIA_TYPE nullBlock = waveType(WAVE_FORMAT_PCM, 2, 48000, 16, MEDIASUBTYPE_PCM).mt;
    nullBlock.pbFormat = nullptr;
    nullBlock.cbFormat = 18;
    EXPECT_FALSE(audioFormatFromMediaType(nullBlock));
}
