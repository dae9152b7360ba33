#pragma once
// The hand-off point between a renderer (or presenter) and the compositor: the renderer
// writes every picture into the attached target under the attached lock, and signals
// the frame event. The application reads the picture size and the format the target
// must have, attaches a target of exactly that size and hands over its own lock.
#include <atomic>
#include <cstdint>

#include "framework/CriticalSection.h"
#include "framework/Event.h"
#include "framework/Rect.h"
#include "framework/RefObject.h"
#include "framework/d3d9/D3D9Types.h"

class VideoFrameSource {
public:
    // What the renderer writes into: a compositor texture or a plain picture.
    enum class TargetKind { Texture, Image };

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
    // The wait's result (WAIT_OBJECT_0 or WAIT_TIMEOUT).
    uint32_t waitForFrame(uint32_t milliseconds);
    bool frameSignalled() const;
    void resetFrame();
};
