#include "media/DirectShowPlayerFactory.h"

#include <algorithm>
#include <new>

#include "framework/InterfacePtr.h"
#include "graphics/DrawBase.h"
#include "media/DirectShowMoviePlayer.h"
#include "media/OpenFlags.h"
#include "media/OpenParameters.h"
#include "media/WebmFactoryReference.h"

DirectShowPlayerFactory::DirectShowPlayerFactory(HWND window, int width, int height)
    : window_(window), width_(width), height_(height), streamCallbacks_(systemFileCallbacks()) {
    WebmFactoryReference::acquire();
}

DirectShowPlayerFactory::~DirectShowPlayerFactory() {
    std::vector<DirectShowMoviePlayer*> players;
    {
        ScopedLock lock(lock_);
        players.swap(players_);
    }
    // A player its owner still holds stays alive, but inert and without a factory.
    for (DirectShowMoviePlayer* player : players) {
        player->shutdown();
        player->release();
    }
    WebmFactoryReference::release();
}

int DirectShowPlayerFactory::setCompositor(DrawBase* compositor) {
    compositor_ = compositor;
    return 1;
}

int DirectShowPlayerFactory::setDecodeFilterHook(DecodeFilterHook hook) {
    decodeFilterHook_ = hook;
    return 1;
}

MoviePlayer* DirectShowPlayerFactory::open(const std::u16string& fileName, uint32_t flags, uintptr_t cookie) {
    OpenParameters p;
    p.flags = normaliseOpenFlags(flags);
    p.cookie = cookie;
    p.streamCallbacks = &streamCallbacks_;
    p.decodeFilterHook = decodeFilterHook_;
    p.compositor = compositor_;
    p.device = compositor_ ? compositor_->device() : nullptr;

    InterfacePtr<DirectShowMoviePlayer> player(new (std::nothrow)
                                                   DirectShowMoviePlayer(this, window_, width_, height_));
    if (!player) return nullptr;
    if (player->open(p, fileName.c_str()) != S_OK) return nullptr;
    {
        ScopedLock lock(lock_);
        player->addRef();
        players_.push_back(player.get());
    }
    return player.detach();
}

LRESULT DirectShowPlayerFactory::onGraphEvent(UINT message, WPARAM, LPARAM lParam) {
    if (message != kGraphEventMessage) return 0;
    ScopedLock lock(lock_);
    // Compared by address only: the message may outlive the player it names.
    auto it = std::find(players_.begin(), players_.end(), reinterpret_cast<DirectShowMoviePlayer*>(lParam));
    if (it == players_.end()) return 1;
    return (*it)->processGraphEvents();
}

void DirectShowPlayerFactory::removePlayer(DirectShowMoviePlayer* player) {
    bool found = false;
    {
        ScopedLock lock(lock_);
        auto it = std::find(players_.begin(), players_.end(), player);
        if (it != players_.end()) {
            players_.erase(it);
            found = true;
        }
    }
    if (found) player->release();
}
