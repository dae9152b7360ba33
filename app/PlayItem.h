#pragma once
// One entry of the play list: a movie or a still picture drawn as one layer, with its
// source and destination rectangles, modulation colour (top byte = opacity), start
// offset on the common time line, pan and volume. Items are held through SharedRef; the
// list holds one reference and a pending worker task may hold another.
//
// Threads: the user-interface thread edits an item; the render thread draws it; worker
// tasks and one-shot timer callbacks start, pause, stop and seek it. `lock` guards the
// rectangles, the colour and the texture (and is the renderer's hand-off lock).
#include <atomic>
#include <cstdint>
#include <string>

#include "framework/CriticalSection.h"
#include "framework/Rect.h"

class DrawBase;
class LayerTexture;

class PlayItem {
public:
    static constexpr uint32_t kDefaultColour = 0xFFFFFFFFu;
    static constexpr int32_t kDefaultVolume = 1000;
    static constexpr int32_t kMinPan = -1000;
    static constexpr int32_t kMaxPan = 1000;

    explicit PlayItem(int32_t id);
    PlayItem(const PlayItem&) = delete;
    PlayItem& operator=(const PlayItem&) = delete;
    virtual ~PlayItem();

    virtual bool open(const std::u16string& path) = 0;
    virtual void close() = 0;
    virtual bool prepare(bool fromMediaFoundation) = 0;
    virtual void play() = 0;
    virtual void stop() = 0;
    virtual bool isRunning() = 0;
    // Pauses a playing item and resumes a paused one.
    virtual bool pause() = 0;
    // Negative positions seek to the start.
    virtual void seek(int64_t ms) = 0;
    // Starts the item (play) after delayMs on the timer thread. A delay that has already
    // passed (0 or less) starts it after the shortest delay the timer takes.
    virtual bool scheduleStart(int32_t delayMs) = 0;
    virtual void cancelStart() = 0;
    // Null resets the rectangle to (0, 0, width, height) of the media; that fails, leaving
    // the rectangle as it was, while the size is unknown.
    virtual bool setSourceRect(const RECT* rect);
    virtual bool setDestRect(const RECT* rect);
    virtual void setColour(uint32_t argb);
    virtual void setOffset(int32_t ms);
    virtual bool setPan(int32_t pan);
    virtual bool setVolume(int32_t volume);
    // Render thread, under the list lock: one draw call, geometry re-sent only when dirty.
    virtual bool draw() = 0;
    virtual uint32_t duration() = 0;
    virtual bool getSize(uint32_t* width, uint32_t* height) = 0;
    virtual bool hasVideo() = 0;
    virtual bool hasAudio() = 0;

    CriticalSection& lock() { return lock_; }
    int32_t id() const { return id_; }
    const std::u16string& path() const { return path_; }
    // Rectangle and colour reads take the item's lock.
    RECT sourceRect();
    RECT destRect();
    uint32_t colour();
    int32_t offsetMs() const { return offsetMs_.load(std::memory_order_relaxed); }
    int32_t pan() const { return pan_.load(std::memory_order_relaxed); }
    int32_t volume() const { return volume_.load(std::memory_order_relaxed); }

protected:
    // The rectangles or the colour changed: the next draw re-sends the geometry.
    virtual void markDirty() = 0;
    void setPath(const std::u16string& path) { path_ = path; }
    // Both rectangles become (0, 0, width, height); with lock held.
    void resetRects(uint32_t width, uint32_t height);
    void storePan(int32_t pan) { pan_.store(pan, std::memory_order_relaxed); }
    void storeVolume(int32_t volume) { volume_.store(volume, std::memory_order_relaxed); }

    // The one-shot start timer shared by both kinds, kept in the derived class's slot
    // (bound once, from its constructor): the callback runs play() and then clears the
    // slot (unless it has been replaced meanwhile).
    void bindStartTimer(std::atomic<uint32_t>& slot) { timerSlot_ = &slot; }
    bool scheduleStartTimer(int32_t delayMs);
    void cancelStartTimer();

    // The drawing both kinds share, with the lock held: the geometry goes to the texture
    // only when dirty (then dirty is cleared), then one draw call.
    bool drawLayer(DrawBase& owner, LayerTexture& texture, bool& dirty);

private:
    static void onStartTimer(uint32_t id, void* context);
    // A given rectangle, or with none the whole picture (false when the size is unknown).
    bool storeRect(RECT* field, const RECT* rect);

    CriticalSection lock_;
    const int32_t id_;
    std::u16string path_;
    RECT sourceRect_{0, 0, 0, 0};
    RECT destRect_{0, 0, 0, 0};
    uint32_t colour_ = kDefaultColour;
    std::atomic<int32_t> offsetMs_{0};
    std::atomic<int32_t> pan_{0};
    std::atomic<int32_t> volume_{kDefaultVolume};
    std::atomic<uint32_t>* timerSlot_ = nullptr;
};
