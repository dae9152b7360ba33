#pragma once
// The system demultiplexer over libavformat: an "Input" pin that pulls the file from its
// source, one output pin per audio or video stream the file has (the preferred stream of
// each kind named "Video" and "Audio", the others with a leading '~' so that rendering
// leaves them alone), seeking with flush and new segment, and one streaming thread that
// reads packets in file order and hands each to its pin. Packets that cannot go out yet
// wait in a bounded per-pin queue so that one stream's full buffers never starve the
// others.
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/CriticalSection.h"
#include "framework/dshow/CBaseFilter.h"
#include "framework/dshow/GraphInterfaces.h"
#include "framework/dshow/SourceSeekingBase.h"
#include "platform/dshow/system/DemuxPins.h"
#include "platform/dshow/system/MediaDemuxer.h"

struct DemuxSubtype {
    GUID subtype;
    const char* formatHint;  // libavformat demuxer for streams probing cannot place, or null
};

// The identity of one registered demultiplexer class.
struct DemuxFilterClass {
    CLSID clsid;
    const char16_t* name;
    std::vector<DemuxSubtype> subtypes;
};

class DemuxFilter;

// IMediaSeeking of the demultiplexer, reached from every output pin.
class DemuxSeeking : public SourceSeekingBase {
public:
    explicit DemuxSeeking(DemuxFilter* filter);
    virtual ~DemuxSeeking() = default;

    HRESULT GetDuration(LONGLONG* pDuration) override;
    HRESULT GetStopPosition(LONGLONG* pStop) override;
    HRESULT SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop, DWORD dwStopFlags) override;
    HRESULT GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;
    HRESULT GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) override;

private:
    DemuxFilter* filter_;
};

class DemuxFilter : public CBaseFilter {
public:
    // Packets waiting for their pins, in bytes, before reading pauses.
    static constexpr size_t kMaxPendingBytes = 48 * 1024 * 1024;
    static constexpr LONG kVideoBuffers = 6;
    static constexpr LONG kAudioBuffers = 16;
    // How long the streaming thread rests when no pin can take anything: first kIdleMs,
    // doubling while it lasts, up to kMaxIdleMs.
    static constexpr int kIdleMs = 2;
    static constexpr int kMaxIdleMs = 20;

    static const DemuxFilterClass& mpeg1SplitterClass();
    static const DemuxFilterClass& containerSplitterClass();

    DemuxFilter(const DemuxFilterClass* filterClass, HRESULT* phr = nullptr);
    ~DemuxFilter() override;

    int GetPinCount() override;
    CBasePin* GetPin(int n) override;
    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME tStart) override;

    const DemuxFilterClass& filterClass() const { return class_; }
    bool acceptsSubtype(const GUID& subtype) const;
    DemuxSeeking* seeking() { return &seeking_; }

    // From the input pin: opens the file and makes the output pins, or fails with none.
    HRESULT connectSource(IAsyncReader* reader, const GUID& subtype);
    // The input let go: the outputs are disconnected and dropped, the file closed.
    void disconnectSource();

    // Positions, for DemuxSeeking (media time only).
    HRESULT setPositions(LONGLONG* current, DWORD currentFlags, LONGLONG* stop, DWORD stopFlags);
    HRESULT positions(LONGLONG* current, LONGLONG* stop);
    HRESULT duration(LONGLONG* duration);

protected:
    HRESULT queryOther(REFIID riid, void** ppv) override;

private:
    struct Pending {
        DemuxedPacket packet;
        int offset = 0;  // bytes of the packet already sent (PCM is sent in pieces)
    };
    struct Route {
        DemuxOutputPin* pin = nullptr;
        bool live = false;  // connected when streaming started and not finished
        bool discontinuity = true;
        int rate = 0;  // PCM sample rate, for the times of pieces
        std::deque<Pending> pending;
    };

    void startStreaming();
    void stopStreaming();
    void streamMain();
    // Sends the head of the route's queue if a buffer is free; true when something moved.
    bool deliverHead(Route& route, REFERENCE_TIME segmentStart);
    void flushOutputs(bool begin);

    CriticalSection lock_;
    const DemuxFilterClass& class_;
    DemuxInputPin input_;
    DemuxSeeking seeking_;
    MediaDemuxer demuxer_;
    std::vector<DemuxOutputPin*> outputs_;
    // Pins outlive a disconnection: holders of their interfaces count on the filter.
    std::vector<std::unique_ptr<DemuxOutputPin>> allPins_;

    // Positions, under lock_.
    REFERENCE_TIME current_ = 0;
    REFERENCE_TIME stop_ = 0;
    REFERENCE_TIME lastCurrent_ = -1;
    REFERENCE_TIME lastStop_ = -1;
    // The demuxer has moved since the last seek, so a restart must seek first.
    bool moved_ = false;

    // The streaming thread.
    std::thread thread_;
    std::atomic<bool> quit_{false};
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    std::deque<Route> routes_;               // per stream, owned by the thread while it runs
    size_t pendingBytes_ = 0;                // thread only
    REFERENCE_TIME segmentStart_ = 0;        // thread only
    REFERENCE_TIME segmentStop_ = MAX_TIME;  // thread only
};
