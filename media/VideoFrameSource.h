#pragma once
// The hand-off point between a renderer (or presenter) and the compositor: the renderer
// writes every picture into the attached target under the attached lock, and signals
// the frame event. The application reads the picture size and the format the target
// must have, attaches a target of exactly that size and hands over its own lock.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "framework/CriticalSection.h"
#include "framework/Event.h"
#include "framework/Rect.h"
#include "framework/RefObject.h"
#include "framework/d3d9/D3D9Types.h"

class VideoFrameSource {
public:
    // What the renderer writes into: a compositor texture or a plain picture.
    enum class TargetKind { Texture, Image };

    // Results of waitForFrame, with the platform's values.
    static constexpr uint32_t kWaitObject0 = 0x0;
    static constexpr uint32_t kWaitTimeout = 0x102;

    explicit VideoFrameSource(TargetKind kind);
    virtual ~VideoFrameSource();
    VideoFrameSource(const VideoFrameSource&) = delete;
    VideoFrameSource& operator=(const VideoFrameSource&) = delete;

    // Width and |height|; either may be null; 0 only when both are.
    int size(uint32_t* width, uint32_t* height) const;
    uint32_t pixelFormat() const;
    D3DFORMAT textureFormat() const;
    bool hasFormat() const;
    // 1 attached; 0 already attached or not the right kind of object; E_INVALIDARG when
    // the target's size differs from the picture's.
    int32_t attach(RefObject* target);
    int setDestination(const RECT* rect);
    // Not reference-counted: the lock must outlive the renderer's use of it.
    int setLock(CriticalSection* lock);
    int isOpen() const { return 1; }
    // kWaitObject0 when a frame was signalled within the time, else kWaitTimeout.
    uint32_t waitForFrame(uint32_t milliseconds);
    bool frameSignalled() const;
    void resetFrame();

    // Running counts since the frame source was made, for the player's owner.
    struct Statistics {
        uint64_t drawn = 0;     // pictures written into the attached target
        uint64_t dropped = 0;   // pictures the renderer dropped as too late
        uint64_t notShown = 0;  // pictures overwritten before a composed frame showed them
        uint64_t composed = 0;  // composed frames that showed the target
    };
    Statistics statistics() const;
    // The compositor's side: once for each composed frame that drew the target, best
    // while holding the target's lock so that no write slips between draw and count.
    void noteComposed();

    // ---- the writer's side (renderer or presenter) ----

    TargetKind kind() const { return kind_; }
    // Source geometry: height > 0 is a bottom-up picture, < 0 top-down; stride in bytes.
    void setLayout(int32_t width, int32_t height, int64_t stride);
    void setFormats(int32_t pixelFormat, D3DFORMAT textureFormat);
    // Copies one picture of `bytes` bytes into the target under the lock and signals the
    // frame event. S_FALSE (dropped) without a target, E_FAIL without a format. The copy
    // is clipped to the target and to the buffer: nothing outside either is touched.
    HRESULT deliver(const uint8_t* data, size_t bytes);
    // A picture the renderer decided not to draw because it came too late.
    void noteDropped();

private:
    struct Picture {
        int32_t width;
        int32_t height;
        int64_t stride;
        int32_t pixelFormat;
    };
    void copyRows(const Picture& picture, const uint8_t* data, size_t bytes, uint8_t* dst, int32_t pitch,
                  int32_t dstFormat, int32_t dstWidth, int32_t dstHeight) const;

    const TargetKind kind_;
    Event newFrameEvent_{Event::Reset::Manual};
    std::atomic<CriticalSection*> lock_{nullptr};

    // Counters only, read without the mutex: relaxed atomics are enough.
    std::atomic<uint64_t> drawn_{0};
    std::atomic<uint64_t> dropped_{0};
    std::atomic<uint64_t> notShown_{0};
    std::atomic<uint64_t> composed_{0};
    std::atomic<uint64_t> writesSinceComposed_{0};

    // Guards the fields below: the streaming thread reads what the application thread sets.
    mutable std::mutex mutex_;
    int32_t width_ = 0;
    int32_t height_ = 0;
    int64_t stride_ = 0;
    int32_t pixelFormat_ = 0;
    D3DFORMAT textureFormat_ = D3DFMT_UNKNOWN;
    RefObject* target_ = nullptr;  // one reference held while attached
};
