#pragma once
// The play list: shared references to the items in layer order (the first item is the
// top layer), guarded by one recursive lock, and the window settings that belong to the
// list (background colour, id source, pending loads, play length, engine choice).
//
// Every walk over the list, from any thread, holds lock(). Lock order: the device lock,
// the compositor's scene lock, this lock, then an item's lock. Operations take the lock
// themselves (it is recursive, so callers that already hold it may call them).
//
// Of the list-changed notifications to the editor, only onItemReady sends its own; the
// application sends the ones that follow moves, removals and clears.
#include <atomic>
#include <cstdint>
#include <list>
#include <string>
#include <vector>

#include "app/PlayItem.h"
#include "framework/CriticalSection.h"
#include "framework/SharedRef.h"
#include "framework/WinTypes.h"

class PlayListHost;

class PlayList {
public:
    // Open flags of the two loaders.
    static constexpr uint32_t kDirectShowOpenFlags = 0x1200000;
    static constexpr uint32_t kMediaFoundationOpenFlags = 0x40;

    explicit PlayList(PlayListHost& host);
    ~PlayList();
    PlayList(const PlayList&) = delete;
    PlayList& operator=(const PlayList&) = delete;

    CriticalSection& lock() { return lock_; }
    PlayListHost& host() { return host_; }
    size_t count();
    bool empty() { return count() == 0; }

    // A copy of the references in list order (taken under the lock).
    std::vector<SharedRef<PlayItem>> items();
    // Calls f(item) for every item in list order, or from the last to the first, under
    // the lock.
    template <class F>
    void forEach(F&& f) {
        ScopedLock hold(lock_);
        for (SharedRef<PlayItem>& item : items_) f(*item);
    }
    template <class F>
    void forEachReverse(F&& f) {
        ScopedLock hold(lock_);
        for (auto it = items_.rbegin(); it != items_.rend(); ++it) f(**it);
    }

    // A movie item (through Media Foundation when that is on and not forced off, with
    // DirectShow as its fallback), or else an image item, opened; empty when neither
    // kind opens the path.
    SharedRef<PlayItem> createItem(const std::u16string& path, bool forceDirectShow);
    void appendItem(SharedRef<PlayItem> item);
    void replaceList(std::vector<SharedRef<PlayItem>> items);
    void clearList();
    void removeItem(int32_t id);
    void moveItemUp(int32_t id);
    void moveItemDown(int32_t id);
    SharedRef<PlayItem> findItem(int32_t id);
    // Position of the item with that id, or -1.
    int indexOf(int32_t id);

    // The media-ready message: 0x1402 from DirectShow gives (lParam, wParam, false), 0x1404
    // from Media Foundation (lParam, wParam, true). The cookie is what the item's loader
    // handed the factory (MovieItem::cookie, the item's id). A message for an id no longer
    // listed, or from an engine that did not make the item's player, is ignored. A picture
    // keeps the id of the movie attempt that failed before it: that attempt's DirectShow
    // report counts the picture's load as done.
    void onItemReady(uintptr_t cookie, HRESULT status, bool fromMediaFoundation);
    // Resizes the window to the largest natural item size (nothing when no item has one).
    void fitWindowToLargestItem();
    // The largest natural size over all items, unsigned, from 0.
    void largestItemSize(uint32_t* width, uint32_t* height);
    // The editor's fit button: false for an empty list.
    bool largestDestExtent(uint32_t* width, uint32_t* height);
    uint32_t recomputePlayLength();

    // Window settings.
    float backgroundRed() const { return background_[0].load(std::memory_order_relaxed); }
    float backgroundGreen() const { return background_[1].load(std::memory_order_relaxed); }
    float backgroundBlue() const { return background_[2].load(std::memory_order_relaxed); }
    // channel 0 red, 1 green, 2 blue.
    float background(int channel) const;
    void setBackground(int channel, float value);
    // The opaque clear colour of the next frame.
    uint32_t clearColour() const;

    int32_t takeNextItemId() { return nextItemId_.fetch_add(1) + 1; }
    int32_t pendingLoads() const { return pendingLoads_.load(); }
    void setPendingLoads(int32_t count) { pendingLoads_.store(count); }
    // Counts one load done (never below 0); answers the count left.
    int32_t finishPendingLoad();
    uint32_t playLength() const { return playLength_.load(); }
    bool useMediaFoundation() const { return useMediaFoundation_.load(); }
    void setUseMediaFoundation(bool on) { useMediaFoundation_.store(on); }

private:
    std::list<SharedRef<PlayItem>>::iterator find(int32_t id);

    PlayListHost& host_;
    CriticalSection lock_;
    std::list<SharedRef<PlayItem>> items_;
    std::atomic<float> background_[3] = {0.0f, 0.0f, 0.0f};
    std::atomic<int32_t> nextItemId_{0};
    std::atomic<int32_t> pendingLoads_{0};
    std::atomic<uint32_t> playLength_{0};
    std::atomic<bool> useMediaFoundation_{false};
};
