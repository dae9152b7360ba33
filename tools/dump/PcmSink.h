#pragma once
// The dump's audio renderer: takes every sound format the system audio renderer takes
// (8-bit or 16-bit PCM, 32-bit float) and hands the samples to its owner as they arrive,
// with no clock and no mixer behind it.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

#include "framework/dshow/CBaseRenderer.h"
#include "platform/audio/AudioFormat.h"

class PcmSink : public CBaseRenderer {
public:
    static constexpr CLSID kClassId = guidOf("{0D5C7A94-1E63-4F28-B8A7-5C2D9E16F3B0}");
    static constexpr const char16_t* kName = u"Dump Audio Sink";

    // Gets each piece of sound with the format it is in; answers false when it wants no
    // further sound.
    using Handler = std::function<bool(const AudioFormat& format, const uint8_t* data, size_t bytes)>;

    explicit PcmSink(HRESULT* phr = nullptr);

    // Set before the graph runs. Without a handler the sound is counted and let go, and
    // the sink counts as finished from the start.
    void setHandler(Handler handler);

    // The connected format; empty before a connection.
    std::optional<AudioFormat> format() const;
    // Bytes of sound received so far (handed on or not).
    uint64_t receivedBytes() const { return receivedBytes_.load(); }
    bool finished() const { return finished_.load(); }

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT SetMediaType(const CMediaType* pmt) override;
    HRESULT DoRenderSample(IMediaSample* pMediaSample) override;

private:
    mutable std::mutex mutex_;
    std::optional<AudioFormat> format_;
    Handler handler_;
    std::atomic<uint64_t> receivedBytes_{0};
    std::atomic<bool> finished_{true};
};
