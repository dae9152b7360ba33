#pragma once
// A play-list entry showing one still picture. It opens synchronously (no media-ready
// message) and has no audio and no duration. It is drawn only while `visible` is set:
// set on open and by play; a scheduled start hides it until the timer fires; stop leaves
// it shown only when its offset is not positive.
#include <atomic>
#include <cstdint>
#include <string>

#include "app/PlayItem.h"
#include "framework/InterfacePtr.h"
#include "graphics/LayerTexture.h"

class DrawBase;

class ImageItem : public PlayItem {
public:
    ImageItem(int32_t id, DrawBase* owner);
    ~ImageItem() override;

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
    bool draw() override;
    uint32_t duration() override;
    bool getSize(uint32_t* width, uint32_t* height) override;
    bool hasVideo() override;
    bool hasAudio() override;

    bool visible() const { return visible_.load(); }
    // Under the item's lock.
    LayerTexture* texture() const { return texture_.get(); }

protected:
    void markDirty() override { dirty_ = true; }

private:
    DrawBase* owner_;
    InterfacePtr<LayerTexture> texture_;
    std::atomic<uint32_t> startTimer_{0};
    std::atomic<bool> visible_{false};
    bool dirty_ = false;
};
