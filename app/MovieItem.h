#pragma once
// A play-list entry backed by a movie player. The loader opens the file (the player's
// factory later posts a media-ready message carrying the item's cookie); prepare, on
// that message, makes the layer texture of the video size and hands it and the item's
// lock to the player's frame source.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "app/PlayItem.h"
#include "framework/InterfacePtr.h"
#include "graphics/LayerTexture.h"
#include "media/MoviePlayer.h"

class DrawBase;
class VideoFrameSource;

class MovieItem : public PlayItem {
public:
    struct LoadResult {
        InterfacePtr<MoviePlayer> player;
        // Which engine made the player: its media-ready message comes from that path.
        bool fromMediaFoundation = false;
    };
    // Opens path for the item whose cookie is given (the factory posts it back).
    using Loader = std::function<LoadResult(const std::u16string& path, uintptr_t cookie)>;

    MovieItem(int32_t id, DrawBase* owner, Loader loader);
    ~MovieItem() override;

    // The value the factories post back with the media-ready message: the item's id,
    // which stays meaningful (or finds nothing) even after the item is gone.
    uintptr_t cookie() const { return uintptr_t(uint32_t(id())); }
    bool loadedThroughMediaFoundation() const { return fromMediaFoundation_; }

    bool open(const std::u16string& path) override;
    void close() override;
    bool prepare(bool fromMediaFoundation) override;
    void play() override;
    void stop() override;
    bool isRunning() override;
    bool pause() override;
    void seek(int64_t ms) override;
    bool scheduleStart(int32_t delayMs) override;
    void cancelStart() override;
    bool setPan(int32_t pan) override;
    bool setVolume(int32_t volume) override;
    bool draw() override;
    uint32_t duration() override;
    bool getSize(uint32_t* width, uint32_t* height) override;
    bool hasVideo() override;
    bool hasAudio() override;

    MoviePlayer* media() const { return media_.get(); }
    VideoFrameSource* renderer() const { return renderer_; }
    // Under the item's lock.
    LayerTexture* texture() const { return texture_.get(); }
    uint32_t startTimer() const { return startTimer_.load(); }

protected:
    void markDirty() override { dirty_ = true; }

private:
    Loader loader_;
    DrawBase* owner_;
    InterfacePtr<LayerTexture> texture_;
    InterfacePtr<MoviePlayer> media_;
    VideoFrameSource* renderer_ = nullptr;
    std::atomic<uint32_t> startTimer_{0};
    bool dirty_ = false;
    bool fromMediaFoundation_ = false;
};
