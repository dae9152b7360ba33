#include "platform/dshow/system/SystemFilters.h"

#include <new>

#include "framework/dshow/MediaGuids.h"
#include "platform/dshow/system/AudioDecoderFilter.h"
#include "platform/dshow/system/DemuxFilter.h"
#include "platform/dshow/system/MpegFormats.h"
#include "platform/dshow/system/SystemClassIds.h"
#include "platform/dshow/system/VideoDecoderFilter.h"

namespace {

// Creation through the object model: one reference handed out as riid.
template <class Filter, class... Args>
ClassCreateFunction creator(Args... args) {
    return [=](REFIID riid, void** out) -> HRESULT {
        if (!out) return E_POINTER;
        *out = nullptr;
        HRESULT hr = S_OK;
        auto* filter = new (std::nothrow) Filter(args..., &hr);
        if (!filter) return E_OUTOFMEMORY;
        filter->AddRef();
        if (SUCCEEDED(hr)) hr = filter->QueryInterface(riid, out);
        filter->Release();
        return hr;
    };
}

RegisteredPin inputPin(std::vector<RegisteredPinType> types) {
    RegisteredPin p;
    p.types = std::move(types);
    return p;
}

RegisteredPin outputPin(std::vector<RegisteredPinType> types) {
    RegisteredPin p;
    p.output = true;
    p.types = std::move(types);
    return p;
}

FilterRegistration demuxRegistration(const DemuxFilterClass& c, std::vector<RegisteredPinType> outputs) {
    FilterRegistration r;
    r.clsid = c.clsid;
    r.name = c.name;
    r.merit = MERIT_NORMAL;
    r.create = creator<DemuxFilter>(&c);
    std::vector<RegisteredPinType> inputs;
    for (const DemuxSubtype& s : c.subtypes) inputs.push_back({MEDIATYPE_Stream, s.subtype});
    r.pins = {inputPin(inputs), outputPin(std::move(outputs))};
    return r;
}

}  // namespace

FilterRegistration mpeg1SplitterRegistration() {
    return demuxRegistration(DemuxFilter::mpeg1SplitterClass(), {{MEDIATYPE_Video, MEDIASUBTYPE_MPEG1Packet},
                                                                 {MEDIATYPE_Video, MEDIASUBTYPE_MPEG1Payload},
                                                                 {MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1Packet},
                                                                 {MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1Payload}});
}

FilterRegistration containerSplitterRegistration() {
    return demuxRegistration(DemuxFilter::containerSplitterClass(),
                             {{MEDIATYPE_Video, GUID_NULL}, {MEDIATYPE_Audio, GUID_NULL}});
}

FilterRegistration mpegVideoDecoderRegistration() {
    FilterRegistration r;
    r.clsid = CLSID_CMpegVideoCodec;
    r.name = u"MPEG Video Decoder";
    r.merit = MERIT_NORMAL;
    r.create = creator<VideoDecoderFilter>(VideoDecoderFilter::Kind::Mpeg);
    r.pins = {inputPin({{MEDIATYPE_Video, MEDIASUBTYPE_MPEG1Packet},
                        {MEDIATYPE_Video, MEDIASUBTYPE_MPEG1Payload},
                        {MEDIATYPE_Video, MEDIASUBTYPE_MPEG2_VIDEO}}),
              outputPin({{MEDIATYPE_Video, MEDIASUBTYPE_YV12},
                         {MEDIATYPE_Video, MEDIASUBTYPE_I420},
                         {MEDIATYPE_Video, MEDIASUBTYPE_RGB32}})};
    return r;
}

FilterRegistration mpegAudioDecoderRegistration() {
    FilterRegistration r;
    r.clsid = CLSID_CMpegAudioCodec;
    r.name = u"MPEG Audio Decoder";
    r.merit = MERIT_NORMAL;
    r.create = creator<AudioDecoderFilter>(AudioDecoderFilter::Kind::Mpeg);
    r.pins = {inputPin({{MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1Packet},
                        {MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1Payload},
                        {MEDIATYPE_Audio, MEDIASUBTYPE_MPEG1AudioPayload},
                        {MEDIATYPE_Audio, MEDIASUBTYPE_MP3},
                        {MEDIATYPE_Audio, MEDIASUBTYPE_MPEG2_AUDIO}}),
              outputPin({{MEDIATYPE_Audio, MEDIASUBTYPE_PCM}})};
    return r;
}

// The generic decoders take any type of their kind and check it when connecting; they
// rank below every filter made for a particular type.
FilterRegistration videoDecoderRegistration() {
    FilterRegistration r;
    r.clsid = CLSID_SystemVideoDecoder;
    r.name = u"Video Decoder";
    r.merit = MERIT_UNLIKELY;
    r.create = creator<VideoDecoderFilter>(VideoDecoderFilter::Kind::Generic);
    r.pins = {inputPin({{MEDIATYPE_Video, GUID_NULL}}), outputPin({{MEDIATYPE_Video, MEDIASUBTYPE_YV12},
                                                                   {MEDIATYPE_Video, MEDIASUBTYPE_I420},
                                                                   {MEDIATYPE_Video, MEDIASUBTYPE_RGB32}})};
    return r;
}

FilterRegistration audioDecoderRegistration() {
    FilterRegistration r;
    r.clsid = CLSID_SystemAudioDecoder;
    r.name = u"Audio Decoder";
    r.merit = MERIT_UNLIKELY;
    r.create = creator<AudioDecoderFilter>(AudioDecoderFilter::Kind::Generic);
    r.pins = {inputPin({{MEDIATYPE_Audio, GUID_NULL}}), outputPin({{MEDIATYPE_Audio, MEDIASUBTYPE_PCM}})};
    return r;
}

void registerSystemFilters() {
    FilterRegistry& registry = FilterRegistry::instance();
    for (const FilterRegistration& r :
         {mpeg1SplitterRegistration(), containerSplitterRegistration(), mpegVideoDecoderRegistration(),
          mpegAudioDecoderRegistration(), videoDecoderRegistration(), audioDecoderRegistration()})
        registry.registerFilter(r);
}
