#pragma once
// The filter design the container splitters share: an "Input" pin fed by the file source,
// "Video" and "Audio" output pins for the streams the file has, and a seeking object that
// owns the streaming thread. A concrete splitter supplies its identity and its source.
#include <memory>
#include <vector>

#include "framework/CriticalSection.h"
#include "framework/dshow/CBaseFilter.h"
#include "splitters/SplitterInputPin.h"
#include "splitters/SplitterOutputPin.h"
#include "splitters/SplitterSeeking.h"
#include "splitters/SplitterSource.h"

class SplitterFilter : public CBaseFilter {
public:
    static constexpr const char16_t* kInputName = u"Input";
    static constexpr const char16_t* kVideoName = u"Video";
    static constexpr const char16_t* kAudioName = u"Audio";

    // streamSubtype: the byte-stream subtype the input accepts (besides GUID_NULL);
    // outputBuffers: buffers each output pin asks for.
    SplitterFilter(const char16_t* name, REFCLSID clsid, const GUID& streamSubtype, LONG outputBuffers,
                   HRESULT* phr = nullptr);
    ~SplitterFilter() override;

    int GetPinCount() override;
    CBasePin* GetPin(int n) override;

    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME tStart) override;

    // Called by the input pin once connected: builds the source, the seeking object and
    // the output pins, or fails leaving none of them.
    HRESULT connectSource(IAsyncReader* reader, IStream* stream);
    // Releases the source, the seeking object and the pins (the input was disconnected).
    void disconnectSource();

    const GUID& streamSubtype() const { return subtype_; }
    LONG outputBufferCount() const { return buffers_; }
    // Sources of this splitter read through a stream view instead of the pull interface.
    virtual bool sourceReadsStream() { return false; }

    SplitterInputPin* inputPin() { return &input_; }
    SplitterOutputPin* videoPin() { return video_; }
    SplitterOutputPin* audioPin() { return audio_; }
    SplitterSource* source() { return source_.get(); }
    SplitterSeeking* seeking() { return seeking_; }

protected:
    // A new, unopened source object for this splitter.
    virtual std::unique_ptr<SplitterSource> createSource() = 0;

private:
    CriticalSection lock_;
    const GUID subtype_;
    const LONG buffers_;
    SplitterInputPin input_;
    std::unique_ptr<SplitterSource> source_;
    SplitterOutputPin* video_ = nullptr;
    SplitterOutputPin* audio_ = nullptr;
    SplitterSeeking* seeking_ = nullptr;
    // Pins and seeking objects outlive a disconnection: holders of their interfaces count
    // on the filter, which frees them only at its end.
    std::vector<std::unique_ptr<SplitterOutputPin>> pins_;
    std::vector<std::unique_ptr<SplitterSeeking>> seekers_;
};
