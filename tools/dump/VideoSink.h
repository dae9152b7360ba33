#pragma once
// The dump's video renderer. It takes what the player's texture renderer takes with the
// compositor's two picture formats (32-bit RGB, opaque or with alpha, rows top-down or
// bottom-up) and hands every picture, as top-down BGRA, to its owner the moment it
// arrives: it keeps no clock, so nothing waits and nothing is dropped.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "framework/dshow/CBaseRenderer.h"

class VideoSink : public CBaseRenderer {
public:
    static constexpr CLSID kClassId = guidOf("{6E0B8F3A-52C4-4B7E-9A1D-3F7C2E8B4D61}");
    static constexpr const char16_t* kName = u"Dump Video Sink";
    // Pictures larger than this on either side are refused at connection.
    static constexpr int32_t kMaxDimension = 16384;

    // The connected picture.
    struct Layout {
        uint32_t width = 0;
        uint32_t height = 0;
        bool alpha = false;                // ARGB32: the fourth byte is the picture's alpha
        bool bottomUp = false;             // source rows run from the bottom
        size_t stride = 0;                 // source bytes per row
        REFERENCE_TIME frameDuration = 0;  // 0 when the stream does not say
    };

    struct Picture {
        uint64_t index = 0;  // 0 for the first picture delivered
        uint32_t width = 0;
        uint32_t height = 0;
        bool alpha = false;
        const uint8_t* bgra = nullptr;  // width * 4 bytes per row, top row first
    };
    // Answers false when it wants no further pictures.
    using Handler = std::function<bool(const Picture&)>;

    explicit VideoSink(HRESULT* phr = nullptr);

    // Set before the graph runs. Without a handler every picture is counted and let go,
    // and the sink counts as finished from the start.
    void setHandler(Handler handler);

    Layout layout() const;
    uint64_t received() const { return received_.load(); }
    // Samples too small for the connected picture: let go without being read.
    uint64_t rejected() const { return rejected_.load(); }
    // True once the handler declined more pictures (or there is none).
    bool finished() const { return finished_.load(); }

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT SetMediaType(const CMediaType* pmt) override;
    HRESULT DoRenderSample(IMediaSample* pMediaSample) override;

    // The layout a media type describes; false when the sink cannot take it.
    static bool layoutOf(const AM_MEDIA_TYPE& mt, Layout* layout);

private:
    mutable std::mutex mutex_;
    Layout layout_;
    Handler handler_;
    std::vector<uint8_t> picture_;  // the top-down copy handed to the handler
    std::atomic<uint64_t> received_{0};
    std::atomic<uint64_t> rejected_{0};
    std::atomic<bool> finished_{true};
};
