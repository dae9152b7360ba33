#include "platform/dshow/system/CodecMediaType.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "framework/dshow/Formats.h"
#include "framework/dshow/MediaGuids.h"
#include "platform/dshow/system/MpegFormats.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

namespace {

constexpr int kMaxDimension = 8192;
constexpr int kMaxChannels = 32;
constexpr int kMaxRate = 768000;
// Extra data larger than this is not carried in a format block.
constexpr size_t kMaxExtraData = 1 << 20;

// ACM_MPEG_* channel modes of MPEG1WAVEFORMAT::fwHeadMode.
constexpr WORD kMpegStereo = 0x1;
constexpr WORD kMpegSingleChannel = 0x8;

const AVCodecTag* const* videoTags() {
    static const AVCodecTag* const tables[] = {avformat_get_riff_video_tags(), nullptr};
    return tables;
}
const AVCodecTag* const* audioTags() {
    static const AVCodecTag* const tables[] = {avformat_get_riff_audio_tags(), nullptr};
    return tables;
}

bool isFourccGuid(const GUID& g) {
    GUID base = guidFromFourcc(0);
    base.Data1 = g.Data1;
    return g == base;
}

bool isCodecGuid(const GUID& g) {
    GUID base = kCodecSubtypeBase;
    base.Data1 = g.Data1;
    return g == base;
}

GUID codecGuid(AVCodecID id) {
    GUID g = kCodecSubtypeBase;
    g.Data1 = static_cast<uint32_t>(id);
    return g;
}

AVCodecID codecOfType(uint32_t number, AVMediaType wanted) {
    const AVCodecDescriptor* d = avcodec_descriptor_get(static_cast<AVCodecID>(number));
    return d && d->type == wanted ? d->id : AV_CODEC_ID_NONE;
}

DWORD clampedDword(int64_t v) {
    return static_cast<DWORD>(std::clamp<int64_t>(v, 0, std::numeric_limits<DWORD>::max()));
}

REFERENCE_TIME frameTimeOf(AVRational rate) {
    if (rate.num <= 0 || rate.den <= 0) return 0;
    return av_rescale(rate.den, 10000000, rate.num);
}

void fillVideoHeader(VIDEOINFOHEADER* v, const AVCodecParameters& par, AVRational frameRate) {
    v->rcSource = RECT{0, 0, par.width, par.height};
    v->rcTarget = v->rcSource;
    v->dwBitRate = clampedDword(par.bit_rate);
    v->AvgTimePerFrame = frameTimeOf(frameRate);
    v->bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    v->bmiHeader.biWidth = par.width;
    v->bmiHeader.biHeight = par.height;
    v->bmiHeader.biPlanes = 1;
    v->bmiHeader.biBitCount = static_cast<WORD>(par.bits_per_coded_sample > 0 ? par.bits_per_coded_sample : 24);
}

bool describeVideo(const AVCodecParameters& par, AVRational frameRate, StreamMediaType* out) {
    if (par.width <= 0 || par.height <= 0 || par.width > kMaxDimension || par.height > kMaxDimension) return false;
    // Uncompressed pictures are not handed to decoders.
    if (par.codec_id == AV_CODEC_ID_RAWVIDEO) return false;
    size_t extra = par.extradata && par.extradata_size > 0 ? static_cast<size_t>(par.extradata_size) : 0;
    if (extra > kMaxExtraData) return false;
    CMediaType& mt = out->type;
    mt.InitMediaType();
    mt.SetType(&MEDIATYPE_Video);
    mt.SetVariableSize();
    mt.SetTemporalCompression(TRUE);

    if (par.codec_id == AV_CODEC_ID_MPEG1VIDEO) {
        ULONG size = static_cast<ULONG>(kMpeg1VideoInfoFixed + extra);
        auto* info = reinterpret_cast<MPEG1VIDEOINFO*>(mt.AllocFormatBuffer(size));
        if (!info) return false;
        fillVideoHeader(&info->hdr, par, frameRate);
        info->cbSequenceHeader = static_cast<DWORD>(extra);
        if (extra) std::memcpy(mt.Format() + kMpeg1VideoInfoFixed, par.extradata, extra);
        mt.SetSubtype(&MEDIASUBTYPE_MPEG1Payload);
        mt.SetFormatType(&FORMAT_MPEGVideo);
        return true;
    }
    if (par.codec_id == AV_CODEC_ID_MPEG2VIDEO) {
        size_t padded = (extra + 3) & ~size_t{3};
        ULONG size = static_cast<ULONG>(kMpeg2VideoInfoFixed + std::max<size_t>(padded, 4));
        auto* info = reinterpret_cast<MPEG2VIDEOINFO*>(mt.AllocFormatBuffer(size));
        if (!info) return false;
        VIDEOINFOHEADER plain{};
        fillVideoHeader(&plain, par, frameRate);
        info->hdr.rcSource = plain.rcSource;
        info->hdr.rcTarget = plain.rcTarget;
        info->hdr.dwBitRate = plain.dwBitRate;
        info->hdr.AvgTimePerFrame = plain.AvgTimePerFrame;
        info->hdr.bmiHeader = plain.bmiHeader;
        AVRational sar = par.sample_aspect_ratio.num > 0 ? par.sample_aspect_ratio : AVRational{1, 1};
        AVRational dar = av_mul_q(sar, AVRational{par.width, par.height});
        av_reduce(&dar.num, &dar.den, dar.num, dar.den, 1 << 16);
        info->hdr.dwPictAspectRatioX = static_cast<DWORD>(std::max(dar.num, 1));
        info->hdr.dwPictAspectRatioY = static_cast<DWORD>(std::max(dar.den, 1));
        info->cbSequenceHeader = static_cast<DWORD>(extra);
        info->dwProfile = static_cast<DWORD>(std::max(par.profile, 0));
        info->dwLevel = static_cast<DWORD>(std::max(par.level, 0));
        if (extra) std::memcpy(mt.Format() + kMpeg2VideoInfoFixed, par.extradata, extra);
        mt.SetSubtype(&MEDIASUBTYPE_MPEG2_VIDEO);
        mt.SetFormatType(&FORMAT_MPEG2Video);
        return true;
    }

    unsigned tag = av_codec_get_tag(videoTags(), par.codec_id);
    if (!avcodec_descriptor_get(par.codec_id)) return false;
    GUID subtype = tag ? guidFromFourcc(tag) : codecGuid(par.codec_id);
    ULONG size = static_cast<ULONG>(sizeof(VIDEOINFOHEADER) + extra);
    auto* info = reinterpret_cast<VIDEOINFOHEADER*>(mt.AllocFormatBuffer(size));
    if (!info) return false;
    fillVideoHeader(info, par, frameRate);
    info->bmiHeader.biSize = static_cast<DWORD>(sizeof(BITMAPINFOHEADER) + extra);
    info->bmiHeader.biCompression = tag;
    if (extra) std::memcpy(mt.Format() + sizeof(VIDEOINFOHEADER), par.extradata, extra);
    mt.SetSubtype(&subtype);
    mt.SetFormatType(&FORMAT_VideoInfo);
    return true;
}

void fillWave(WAVEFORMATEX* w, WORD tag, const AVCodecParameters& par) {
    w->wFormatTag = tag;
    w->nChannels = static_cast<WORD>(par.ch_layout.nb_channels);
    w->nSamplesPerSec = static_cast<DWORD>(par.sample_rate);
    w->nAvgBytesPerSec = clampedDword(par.bit_rate / 8);
    w->nBlockAlign = static_cast<WORD>(std::clamp(par.block_align, 1, 0xFFFF));
    w->wBitsPerSample = static_cast<WORD>(std::clamp(par.bits_per_coded_sample, 0, 0xFFFF));
}

// Little-endian PCM and float: bits per sample and whether float, or 0.
int pcmBits(AVCodecID id, bool* isFloat) {
    *isFloat = false;
    switch (id) {
        case AV_CODEC_ID_PCM_U8:
            return 8;
        case AV_CODEC_ID_PCM_S16LE:
            return 16;
        case AV_CODEC_ID_PCM_S24LE:
            return 24;
        case AV_CODEC_ID_PCM_S32LE:
            return 32;
        case AV_CODEC_ID_PCM_F32LE:
            *isFloat = true;
            return 32;
        case AV_CODEC_ID_PCM_F64LE:
            *isFloat = true;
            return 64;
        default:
            return 0;
    }
}

bool describePcm(const AVCodecParameters& par, int bits, bool isFloat, StreamMediaType* out) {
    int channels = par.ch_layout.nb_channels;
    int blockAlign = channels * bits / 8;
    CMediaType& mt = out->type;
    WORD tag = isFloat ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM;
    // More than two channels or more than 16 bits need the extensible block.
    bool extensible = channels > 2 || bits > 16;
    ULONG size = extensible ? sizeof(WAVEFORMATEXTENSIBLE) : sizeof(WAVEFORMATEX);
    auto* w = reinterpret_cast<WAVEFORMATEX*>(mt.AllocFormatBuffer(size));
    if (!w) return false;
    w->wFormatTag = extensible ? WAVE_FORMAT_EXTENSIBLE : tag;
    w->nChannels = static_cast<WORD>(channels);
    w->nSamplesPerSec = static_cast<DWORD>(par.sample_rate);
    w->nBlockAlign = static_cast<WORD>(blockAlign);
    w->nAvgBytesPerSec = static_cast<DWORD>(par.sample_rate) * static_cast<DWORD>(blockAlign);
    w->wBitsPerSample = static_cast<WORD>(bits);
    if (extensible) {
        auto* x = reinterpret_cast<WAVEFORMATEXTENSIBLE*>(w);
        x->Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
        x->Samples.wValidBitsPerSample = static_cast<WORD>(bits);
        x->dwChannelMask =
            par.ch_layout.order == AV_CHANNEL_ORDER_NATIVE ? static_cast<DWORD>(par.ch_layout.u.mask & 0x3FFFF) : 0;
        x->SubFormat = isFloat ? KSDATAFORMAT_SUBTYPE_IEEE_FLOAT : KSDATAFORMAT_SUBTYPE_PCM;
    }
    mt.SetSubtype(isFloat ? &MEDIASUBTYPE_IEEE_FLOAT : &MEDIASUBTYPE_PCM);
    mt.SetSampleSize(static_cast<ULONG>(blockAlign));
    out->pcm = true;
    out->blockAlign = blockAlign;
    return true;
}

bool describeAudio(const AVCodecParameters& par, StreamMediaType* out) {
    int channels = par.ch_layout.nb_channels;
    if (channels < 1 || channels > kMaxChannels || par.sample_rate < 1 || par.sample_rate > kMaxRate) return false;
    size_t extra = par.extradata && par.extradata_size > 0 ? static_cast<size_t>(par.extradata_size) : 0;
    if (extra > 0xFFFF - sizeof(WAVEFORMATEX)) return false;
    CMediaType& mt = out->type;
    mt.InitMediaType();
    mt.SetType(&MEDIATYPE_Audio);
    mt.SetFormatType(&FORMAT_WaveFormatEx);
    mt.SetVariableSize();

    bool isFloat = false;
    if (int bits = pcmBits(par.codec_id, &isFloat)) return describePcm(par, bits, isFloat, out);

    if (par.codec_id == AV_CODEC_ID_MP1 || par.codec_id == AV_CODEC_ID_MP2) {
        auto* w = reinterpret_cast<MPEG1WAVEFORMAT*>(mt.AllocFormatBuffer(sizeof(MPEG1WAVEFORMAT)));
        if (!w) return false;
        fillWave(&w->wfx, WAVE_FORMAT_MPEG, par);
        w->wfx.wBitsPerSample = 0;
        w->wfx.cbSize = sizeof(MPEG1WAVEFORMAT) - sizeof(WAVEFORMATEX);
        w->fwHeadLayer = par.codec_id == AV_CODEC_ID_MP1 ? ACM_MPEG_LAYER1 : ACM_MPEG_LAYER2;
        w->dwHeadBitrate = clampedDword(par.bit_rate);
        w->fwHeadMode = channels == 1 ? kMpegSingleChannel : kMpegStereo;
        mt.SetSubtype(&MEDIASUBTYPE_MPEG1Payload);
        return true;
    }
    if (par.codec_id == AV_CODEC_ID_MP3) {
        auto* w = reinterpret_cast<MPEGLAYER3WAVEFORMAT*>(mt.AllocFormatBuffer(sizeof(MPEGLAYER3WAVEFORMAT)));
        if (!w) return false;
        fillWave(&w->wfx, WAVE_FORMAT_MPEGLAYER3, par);
        w->wfx.wBitsPerSample = 0;
        w->wfx.cbSize = sizeof(MPEGLAYER3WAVEFORMAT) - sizeof(WAVEFORMATEX);
        w->wID = 1;  // MPEGLAYER3_ID_MPEG
        w->nBlockSize = 1;
        w->nFramesPerBlock = 1;
        mt.SetSubtype(&MEDIASUBTYPE_MP3);
        return true;
    }

    if (!avcodec_descriptor_get(par.codec_id)) return false;
    unsigned tag = av_codec_get_tag(audioTags(), par.codec_id);
    // A tag that reads back as another codec would mislead the decoder.
    if (tag && av_codec_get_id(audioTags(), tag) != par.codec_id) tag = 0;
    GUID subtype = tag ? guidFromFourcc(tag) : codecGuid(par.codec_id);
    auto* w = reinterpret_cast<WAVEFORMATEX*>(mt.AllocFormatBuffer(static_cast<ULONG>(sizeof(WAVEFORMATEX) + extra)));
    if (!w) return false;
    fillWave(w, static_cast<WORD>(tag <= 0xFFFF ? tag : 0), par);
    w->cbSize = static_cast<WORD>(extra);
    if (extra) std::memcpy(mt.Format() + sizeof(WAVEFORMATEX), par.extradata, extra);
    mt.SetSubtype(&subtype);
    return true;
}

bool setExtraData(AVCodecParameters* par, const BYTE* data, size_t size) {
    av_freep(&par->extradata);
    par->extradata_size = 0;
    if (size == 0) return true;
    if (size > kMaxExtraData) return false;
    par->extradata = static_cast<uint8_t*>(av_mallocz(size + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata) return false;
    std::memcpy(par->extradata, data, size);
    par->extradata_size = static_cast<int>(size);
    return true;
}

bool videoInput(const AM_MEDIA_TYPE& mt, DecoderInput* out) {
    AVCodecParameters* par = out->parameters.get();
    const BITMAPINFOHEADER* bmi = nullptr;
    REFERENCE_TIME frameTime = 0;
    const BYTE* extra = nullptr;
    size_t extraSize = 0;
    const BYTE* f = mt.pbFormat;
    ULONG n = f ? mt.cbFormat : 0;

    if (mt.formattype == FORMAT_VideoInfo && n >= sizeof(VIDEOINFOHEADER)) {
        auto* v = reinterpret_cast<const VIDEOINFOHEADER*>(f);
        bmi = &v->bmiHeader;
        frameTime = v->AvgTimePerFrame;
        extra = f + sizeof(VIDEOINFOHEADER);
        extraSize = n - sizeof(VIDEOINFOHEADER);
    } else if (mt.formattype == FORMAT_VideoInfo2 && n >= sizeof(VIDEOINFOHEADER2)) {
        auto* v = reinterpret_cast<const VIDEOINFOHEADER2*>(f);
        bmi = &v->bmiHeader;
        frameTime = v->AvgTimePerFrame;
        extra = f + sizeof(VIDEOINFOHEADER2);
        extraSize = n - sizeof(VIDEOINFOHEADER2);
    } else if (mt.formattype == FORMAT_MPEGVideo && n >= kMpeg1VideoInfoFixed) {
        auto* v = reinterpret_cast<const MPEG1VIDEOINFO*>(f);
        if (v->cbSequenceHeader > n - kMpeg1VideoInfoFixed) return false;
        bmi = &v->hdr.bmiHeader;
        frameTime = v->hdr.AvgTimePerFrame;
        extra = f + kMpeg1VideoInfoFixed;
        extraSize = v->cbSequenceHeader;
    } else if (mt.formattype == FORMAT_MPEG2Video && n >= kMpeg2VideoInfoFixed) {
        auto* v = reinterpret_cast<const MPEG2VIDEOINFO*>(f);
        if (v->cbSequenceHeader > n - kMpeg2VideoInfoFixed) return false;
        bmi = &v->hdr.bmiHeader;
        frameTime = v->hdr.AvgTimePerFrame;
        extra = f + kMpeg2VideoInfoFixed;
        extraSize = v->cbSequenceHeader;
    } else {
        return false;
    }

    AVCodecID id = AV_CODEC_ID_NONE;
    if (mt.subtype == MEDIASUBTYPE_MPEG1Payload)
        id = AV_CODEC_ID_MPEG1VIDEO;
    else if (mt.subtype == MEDIASUBTYPE_MPEG2_VIDEO)
        id = AV_CODEC_ID_MPEG2VIDEO;
    else if (isCodecGuid(mt.subtype))
        id = codecOfType(mt.subtype.Data1, AVMEDIA_TYPE_VIDEO);
    else if (isFourccGuid(mt.subtype) && mt.subtype.Data1 > 0xFFFF)
        id = av_codec_get_id(videoTags(), mt.subtype.Data1);
    if (id == AV_CODEC_ID_NONE || id == AV_CODEC_ID_RAWVIDEO) return false;

    LONG width = bmi->biWidth, height = bmi->biHeight;
    if (height == std::numeric_limits<LONG>::min()) return false;
    height = height < 0 ? -height : height;
    if (width < 1 || height < 1 || width > kMaxDimension || height > kMaxDimension) return false;

    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = id;
    par->codec_tag = isFourccGuid(mt.subtype) ? mt.subtype.Data1 : 0;
    par->width = width;
    par->height = height;
    par->bits_per_coded_sample = bmi->biBitCount;
    if (!setExtraData(par, extra, extraSize)) return false;
    out->frameTime = frameTime > 0 && frameTime < 100 * 10000000LL ? frameTime : 0;
    return true;
}

bool audioInput(const AM_MEDIA_TYPE& mt, DecoderInput* out) {
    AVCodecParameters* par = out->parameters.get();
    if (mt.formattype != FORMAT_WaveFormatEx || !mt.pbFormat || mt.cbFormat < 16) return false;
    WAVEFORMATEX w{};
    std::memcpy(&w, mt.pbFormat, std::min<size_t>(mt.cbFormat, sizeof w));
    if (mt.cbFormat < sizeof w) w.cbSize = 0;
    size_t extraSize = std::min<size_t>(w.cbSize, mt.cbFormat - std::min<size_t>(mt.cbFormat, sizeof w));
    const BYTE* extra = mt.pbFormat + std::min<size_t>(mt.cbFormat, sizeof w);
    if (w.nChannels < 1 || w.nChannels > kMaxChannels || w.nSamplesPerSec < 1 ||
        w.nSamplesPerSec > static_cast<DWORD>(kMaxRate))
        return false;

    WORD tag = w.wFormatTag;
    if (tag == WAVE_FORMAT_EXTENSIBLE) {
        if (mt.cbFormat < sizeof(WAVEFORMATEXTENSIBLE)) return false;
        WAVEFORMATEXTENSIBLE x;
        std::memcpy(&x, mt.pbFormat, sizeof x);
        if (!isFourccGuid(x.SubFormat) || x.SubFormat.Data1 > 0xFFFF) return false;
        tag = static_cast<WORD>(x.SubFormat.Data1);
        extraSize = 0;
    }

    AVCodecID id = AV_CODEC_ID_NONE;
    const GUID& st = mt.subtype;
    if (st == MEDIASUBTYPE_PCM || st == MEDIASUBTYPE_IEEE_FLOAT || tag == WAVE_FORMAT_PCM ||
        tag == WAVE_FORMAT_IEEE_FLOAT) {
        bool isFloat = st == MEDIASUBTYPE_IEEE_FLOAT || (st != MEDIASUBTYPE_PCM && tag == WAVE_FORMAT_IEEE_FLOAT);
        switch (w.wBitsPerSample) {
            case 8:
                id = isFloat ? AV_CODEC_ID_NONE : AV_CODEC_ID_PCM_U8;
                break;
            case 16:
                id = isFloat ? AV_CODEC_ID_NONE : AV_CODEC_ID_PCM_S16LE;
                break;
            case 24:
                id = isFloat ? AV_CODEC_ID_NONE : AV_CODEC_ID_PCM_S24LE;
                break;
            case 32:
                id = isFloat ? AV_CODEC_ID_PCM_F32LE : AV_CODEC_ID_PCM_S32LE;
                break;
            case 64:
                id = isFloat ? AV_CODEC_ID_PCM_F64LE : AV_CODEC_ID_NONE;
                break;
            default:
                break;
        }
        // The samples are whole frames of every channel.
        if (id != AV_CODEC_ID_NONE && w.nBlockAlign != w.nChannels * (w.wBitsPerSample / 8)) return false;
        extraSize = 0;
    } else if (st == MEDIASUBTYPE_MPEG1Payload || st == MEDIASUBTYPE_MPEG1AudioPayload ||
               st == MEDIASUBTYPE_MPEG2_AUDIO) {
        id = AV_CODEC_ID_MP2;
        if (mt.cbFormat >= sizeof(MPEG1WAVEFORMAT)) {
            MPEG1WAVEFORMAT m;
            std::memcpy(&m, mt.pbFormat, sizeof m);
            if (m.fwHeadLayer == ACM_MPEG_LAYER1) id = AV_CODEC_ID_MP1;
            if (m.fwHeadLayer == ACM_MPEG_LAYER3) id = AV_CODEC_ID_MP3;
        }
        extraSize = 0;
    } else if (st == MEDIASUBTYPE_MP3) {
        id = AV_CODEC_ID_MP3;
        extraSize = 0;
    } else if (isCodecGuid(st)) {
        id = codecOfType(st.Data1, AVMEDIA_TYPE_AUDIO);
    } else if (isFourccGuid(st) && st.Data1 <= 0xFFFF) {
        id = av_codec_get_id(audioTags(), st.Data1);
    }
    if (id == AV_CODEC_ID_NONE) return false;

    par->codec_type = AVMEDIA_TYPE_AUDIO;
    par->codec_id = id;
    par->codec_tag = tag;
    par->sample_rate = static_cast<int>(w.nSamplesPerSec);
    av_channel_layout_uninit(&par->ch_layout);
    av_channel_layout_default(&par->ch_layout, w.nChannels);
    par->block_align = w.nBlockAlign;
    par->bit_rate = static_cast<int64_t>(w.nAvgBytesPerSec) * 8;
    par->bits_per_coded_sample = w.wBitsPerSample;
    return setExtraData(par, extra, extraSize);
}

}  // namespace

bool mediaTypeFromStream(const AVCodecParameters& par, AVRational frameRate, StreamMediaType* out) {
    out->pcm = false;
    out->blockAlign = 1;
    if (par.codec_type == AVMEDIA_TYPE_VIDEO) return describeVideo(par, frameRate, out);
    if (par.codec_type == AVMEDIA_TYPE_AUDIO) return describeAudio(par, out);
    return false;
}

bool decoderInputFromMediaType(const AM_MEDIA_TYPE& mt, DecoderInput* out) {
    out->parameters.reset(avcodec_parameters_alloc());
    out->frameTime = 0;
    if (!out->parameters) return false;
    bool ok = false;
    if (mt.majortype == MEDIATYPE_Video)
        ok = videoInput(mt, out);
    else if (mt.majortype == MEDIATYPE_Audio)
        ok = audioInput(mt, out);
    if (ok && !avcodec_find_decoder(out->parameters->codec_id)) ok = false;
    if (!ok) out->parameters.reset();
    return ok;
}
