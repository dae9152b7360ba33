#pragma once
// A video renderer: shows the first sample while paused, draws each later sample at its
// time, and drops pictures that arrive far too late to be worth drawing (but never so
// many in a row that the picture freezes). Counts drawn and dropped frames.
#include <atomic>

#include "framework/dshow/CBaseRenderer.h"

class CBaseVideoRenderer : public CBaseRenderer {
public:
    // Later than this, a picture may be dropped.
    static constexpr REFERENCE_TIME kDropLateness = 100 * MILLISECONDS;
    // At most this many pictures are dropped in a row.
    static constexpr int kMaxConsecutiveDrops = 4;

    CBaseVideoRenderer(REFCLSID clsid, const char16_t* name, HRESULT* phr);

    HRESULT ShouldDrawSampleNow(IMediaSample* pMediaSample, REFERENCE_TIME* ptrStart, REFERENCE_TIME* ptrEnd) override;
    void OnReceiveFirstSample(IMediaSample* pMediaSample) override;
    void OnRenderEnd(IMediaSample* pMediaSample) override;
    HRESULT OnStartStreaming() override;

    HRESULT get_FramesDroppedInRenderer(int* pcFrames);
    HRESULT get_FramesDrawn(int* pcFramesDrawn);

private:
    std::atomic<int> m_cFramesDropped{0};
    std::atomic<int> m_cFramesDrawn{0};
    int m_consecutiveDrops = 0;
};
