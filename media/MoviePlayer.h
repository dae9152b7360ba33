#pragma once
// The playback object of one movie entry. The application drives every player of the
// play list through these operations alone, whichever factory made it. Times are in
// milliseconds unless the name says otherwise; 100-ns values are 64-bit.
#include <atomic>
#include <cstdint>

#include "framework/Rect.h"
#include "framework/RefObject.h"

class VideoFrameSource;

class MoviePlayer : public RefObject {
public:
    // The state word every player keeps.
    enum StateFlag : uint32_t {
        Opened = 0x1,
        Playing = 0x2,
        Paused = 0x4,
        Looping = 0x8,
        FullScreen = 0x100,
        HasAudio = 0x400,
        HasVideo = 0x800,
    };

    // Leaves the factory's list; the owner then releases its reference.
    virtual void close() = 0;
    virtual int play(int loop) = 0;
    virtual int stop() = 0;
    virtual bool isPlaying() const = 0;
    virtual uint32_t positionMs() = 0;
    virtual int64_t position() = 0;
    virtual int togglePause() = 0;
    virtual int seekForwardMs(uint32_t ms) = 0;
    virtual int seekBackMs(uint32_t ms) = 0;
    virtual int seekToMs(uint32_t ms) = 0;
    // -1000 (left) .. 1000 (right); 0 when refused.
    virtual int setPan(int pan) = 0;
    // 0 .. 1000; 0 when refused.
    virtual int setVolume(int volume) = 0;
    virtual uint32_t durationMs() const = 0;
    virtual int64_t duration() const = 0;
    // 1, or 0 when an argument is null.
    virtual int videoSize(uint32_t* width, uint32_t* height) const = 0;
    virtual bool hasVideo() const = 0;
    virtual bool hasAudio() const = 0;
    // Placement of the system video window (position or size null: the defaults).
    virtual int setVideoRect(int reset, const POINT* position, const SIZE* size) = 0;
    virtual int toggleFullScreen(int toFullScreen) = 0;
    virtual int seekRelative(int64_t delta) = 0;
    virtual int seekTo(int64_t position) = 0;
    virtual int setRate(double rate) = 0;
    // Hundredths of a decibel, passed unchanged: -10000 .. 10000 and -10000 .. 0.
    virtual int setPanRaw(int32_t balance) = 0;
    virtual int setVolumeRaw(int32_t volume) = 0;
    virtual void suspend() = 0;
    virtual void resume() = 0;
    // The hand-off object of the player's own renderer, or null.
    virtual VideoFrameSource* frameSource() = 0;

    uint32_t stateFlags() const { return flags_; }

protected:
    // Written by whichever thread runs a transport operation (worker tasks, timers) and
    // read by the window thread handling graph events.
    std::atomic<uint32_t> flags_{0};
};
