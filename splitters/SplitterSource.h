#pragma once
// What a splitter's source object does for the splitter framework: opens the file through
// the upstream reader, describes its streams, fills media samples in order and moves to a
// time or frame. Each container splitter has its own.
#include "framework/dshow/CMediaType.h"
#include "framework/dshow/SampleInterfaces.h"
#include "framework/dshow/StreamInterfaces.h"

// fillSamples flags.
constexpr DWORD kSplitterAudioFilled = 2;
constexpr DWORD kSplitterVideoFilled = 4;

enum class SplitterStream { Video, Audio };

class SplitterSource {
public:
    virtual ~SplitterSource() = default;

    // Fills the given samples (either may be null) and sets kSplitterVideoFilled /
    // kSplitterAudioFilled for those it filled. NS_E_NO_MORE_SAMPLES at the end; any other
    // failure ends streaming.
    virtual HRESULT fillSamples(IMediaSample* videoSample, IMediaSample* audioSample, DWORD* flags) = 0;
    virtual HRESULT seekToTime(REFERENCE_TIME time) = 0;
    virtual HRESULT seekToFrame(LONGLONG frame) = 0;
    // E_NOTIMPL when the file has no such stream.
    virtual HRESULT videoType(CMediaType* type, LONG* sampleSize) = 0;
    virtual HRESULT audioType(CMediaType* type, LONG* sampleSize) = 0;
    virtual bool supportsFrameFormat() = 0;
    // Times at or past the duration give the frame count; negative times give 0.
    virtual LONGLONG timeToFrame(REFERENCE_TIME time) = 0;
    // Frames at or past the frame count give the duration.
    virtual REFERENCE_TIME frameToTime(LONGLONG frame) = 0;
    virtual HRESULT open(IAsyncReader* reader) = 0;
    virtual void close() = 0;

    // Sources that read through a stream view rather than the pull interface (the
    // splitter asks for one with SplitterFilter::sourceReadsStream).
    virtual HRESULT openStream(IStream*) { return E_NOTIMPL; }

    // A downstream pin proposes a format that matched the offered major type, subtype
    // and format type: checkFormat may still refuse it (VFW_E_TYPE_NOT_ACCEPTED);
    // setFormat is told the format the connection settled on.
    virtual HRESULT checkFormat(SplitterStream, const CMediaType&) { return S_OK; }
    virtual HRESULT setFormat(SplitterStream, const CMediaType&) { return S_OK; }

    LONGLONG frameCount() const { return frameCount_; }
    REFERENCE_TIME duration() const { return duration_; }

protected:
    LONGLONG frameCount_ = 0;
    REFERENCE_TIME duration_ = 0;
    CMediaType videoType_;
    LONG videoSampleSize_ = 0;
    CMediaType audioType_;
    LONG audioSampleSize_ = 0;
};
