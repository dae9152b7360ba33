#include "app/PlayList.h"

#include <algorithm>
#include <utility>

#include "app/EditorMappings.h"
#include "app/ImageItem.h"
#include "app/MovieItem.h"
#include "app/PlayListHost.h"
#include "media/MoviePlayerFactory.h"

namespace {

MovieItem::LoadResult openWith(MoviePlayerFactory* factory, uint32_t flags, const std::u16string& path,
                               uintptr_t cookie, bool fromMediaFoundation) {
    MovieItem::LoadResult result;
    if (factory) {
        result.player = InterfacePtr<MoviePlayer>::adopt(factory->open(path, flags, cookie));
        result.fromMediaFoundation = fromMediaFoundation;
    }
    return result;
}

}  // namespace

PlayList::PlayList(PlayListHost& host) : host_(host) {}

PlayList::~PlayList() {
    clearList();
}

size_t PlayList::count() {
    ScopedLock hold(lock_);
    return items_.size();
}

std::vector<SharedRef<PlayItem>> PlayList::items() {
    ScopedLock hold(lock_);
    return std::vector<SharedRef<PlayItem>>(items_.begin(), items_.end());
}

SharedRef<PlayItem> PlayList::createItem(const std::u16string& path, bool forceDirectShow) {
    const int32_t id = takeNextItemId();
    DrawBase* owner = host_.compositor();
    MoviePlayerFactory* directShow = host_.directShowFactory();
    MoviePlayerFactory* mediaFoundation = host_.mediaFoundationFactory();

    MovieItem::Loader loader;
    if (useMediaFoundation() && !forceDirectShow && mediaFoundation) {
        loader = [directShow, mediaFoundation](const std::u16string& p, uintptr_t cookie) {
            MovieItem::LoadResult r = openWith(mediaFoundation, kMediaFoundationOpenFlags, p, cookie, true);
            if (!r.player) r = openWith(directShow, kDirectShowOpenFlags, p, cookie, false);
            return r;
        };
    } else {
        loader = [directShow](const std::u16string& p, uintptr_t cookie) {
            return openWith(directShow, kDirectShowOpenFlags, p, cookie, false);
        };
    }

    SharedRef<PlayItem> movie(new MovieItem(id, owner, std::move(loader)));
    if (movie->open(path)) return movie;
    movie.reset();

    SharedRef<PlayItem> image(new ImageItem(id, owner));
    if (image->open(path)) return image;
    return {};
}

void PlayList::appendItem(SharedRef<PlayItem> item) {
    if (!item) return;
    ScopedLock hold(lock_);
    items_.push_back(std::move(item));
}

void PlayList::replaceList(std::vector<SharedRef<PlayItem>> items) {
    ScopedLock hold(lock_);
    items_.clear();
    for (SharedRef<PlayItem>& item : items)
        if (item) items_.push_back(std::move(item));
}

void PlayList::clearList() {
    ScopedLock hold(lock_);
    items_.clear();
}

std::list<SharedRef<PlayItem>>::iterator PlayList::find(int32_t id) {
    return std::find_if(items_.begin(), items_.end(),
                        [id](const SharedRef<PlayItem>& item) { return item->id() == id; });
}

void PlayList::removeItem(int32_t id) {
    ScopedLock hold(lock_);
    auto it = find(id);
    if (it != items_.end()) items_.erase(it);
}

void PlayList::moveItemUp(int32_t id) {
    ScopedLock hold(lock_);
    auto it = find(id);
    if (it == items_.end() || it == items_.begin()) return;
    std::swap(*it, *std::prev(it));
}

void PlayList::moveItemDown(int32_t id) {
    ScopedLock hold(lock_);
    auto it = find(id);
    if (it == items_.end() || std::next(it) == items_.end()) return;
    std::swap(*it, *std::next(it));
}

SharedRef<PlayItem> PlayList::findItem(int32_t id) {
    ScopedLock hold(lock_);
    auto it = find(id);
    return it == items_.end() ? SharedRef<PlayItem>() : *it;
}

int PlayList::indexOf(int32_t id) {
    ScopedLock hold(lock_);
    auto it = find(id);
    return it == items_.end() ? -1 : int(std::distance(items_.begin(), it));
}

int32_t PlayList::finishPendingLoad() {
    int32_t now = pendingLoads_.load();
    while (now > 0 && !pendingLoads_.compare_exchange_weak(now, now - 1)) {
    }
    return now > 0 ? now - 1 : 0;
}

void PlayList::onItemReady(uintptr_t cookie, HRESULT status, bool fromMediaFoundation) {
    // The cookie is an id, not an address: a message that arrives after its item left the
    // list finds nothing instead of touching a destroyed item.
    const int32_t id = int32_t(uint32_t(cookie));
    SharedRef<PlayItem> item = findItem(id);
    if (!item) return;
    MovieItem* movie = dynamic_cast<MovieItem*>(item.get());
    if (movie) {
        // When the Media Foundation loader fell back to DirectShow, both engines report on
        // the same item; only the engine that made its player speaks for it.
        if (movie->loadedThroughMediaFoundation() != fromMediaFoundation) return;
    } else if (fromMediaFoundation) {
        // A picture: the file was first tried as a movie, and that attempt's report carries
        // the picture's id. DirectShow is always the last engine tried, so its report is
        // the one that counts the load as done.
        return;
    }

    // A picture opened synchronously: nothing to prepare, its load is simply done.
    if (movie && status >= 0) {
        movie->prepare(fromMediaFoundation);
    } else if (movie && fromMediaFoundation) {
        bool failed = false;
        {
            ScopedLock hold(lock_);
            auto it = find(id);
            if (it == items_.end()) return;
            SharedRef<PlayItem> retry = createItem(movie->path(), true);
            if (retry) {
                *it = std::move(retry);
            } else {
                items_.erase(it);
                failed = true;
            }
        }
        // The box is modal; it is shown with the list unlocked so the render thread
        // keeps drawing meanwhile.
        if (failed && finishPendingLoad() <= 0) host_.showLoadError();
        return;
    }

    bool fit = false;
    {
        ScopedLock hold(lock_);
        if (pendingLoads_.load() > 0) fit = finishPendingLoad() == 0;
    }
    if (fit) fitWindowToLargestItem();
    host_.notifyListEditor(0);
}

void PlayList::largestItemSize(uint32_t* width, uint32_t* height) {
    uint32_t maxW = 0, maxH = 0;
    forEach([&](PlayItem& item) {
        uint32_t w = 0, h = 0;
        if (!item.getSize(&w, &h)) return;
        maxW = std::max(maxW, w);
        maxH = std::max(maxH, h);
    });
    if (width) *width = maxW;
    if (height) *height = maxH;
}

void PlayList::fitWindowToLargestItem() {
    uint32_t w = 0, h = 0;
    largestItemSize(&w, &h);
    // Nothing with a picture (audio only, or every load failed): collapsing the video
    // area to nothing would help no one, so the window stays as it is.
    if (w == 0 || h == 0) return;
    host_.resizeToVideoSize(w, h);
}

bool PlayList::largestDestExtent(uint32_t* width, uint32_t* height) {
    ScopedLock hold(lock_);
    if (items_.empty()) return false;
    int32_t maxW = 0, maxH = 0;
    for (SharedRef<PlayItem>& item : items_) {
        RECT r = item->destRect();
        maxW = std::max({maxW, int32_t(r.left), int32_t(r.right)});
        maxH = std::max({maxH, int32_t(r.top), int32_t(r.bottom)});
    }
    if (width) *width = uint32_t(maxW);
    if (height) *height = uint32_t(maxH);
    return true;
}

uint32_t PlayList::recomputePlayLength() {
    int64_t length = 0;
    forEach([&](PlayItem& item) {
        const int64_t offset = item.offsetMs();
        const int64_t duration = item.duration();
        // Over before play begins.
        if (offset < 0 && duration < -offset) return;
        length = std::max(length, offset + duration);
    });
    const uint32_t result = uint32_t(std::min<int64_t>(length, UINT32_MAX));
    playLength_.store(result);
    return result;
}

float PlayList::background(int channel) const {
    if (channel < 0 || channel > 2) return 0.0f;
    return background_[channel].load(std::memory_order_relaxed);
}

void PlayList::setBackground(int channel, float value) {
    if (channel < 0 || channel > 2) return;
    background_[channel].store(value, std::memory_order_relaxed);
}

uint32_t PlayList::clearColour() const {
    return EditorMappings::clearColour(backgroundRed(), backgroundGreen(), backgroundBlue());
}
