#include "media/MediaFoundationPlayerFactory.h"

#include "framework/Exceptions.h"
#include "framework/LibraryTable.h"
#include "framework/Unknown.h"
#include "graphics/DrawBase.h"
#include "media/MediaFoundationApi.h"
#include "media/MoviePlayer.h"

namespace {
constexpr DWORD kFullStartup = 0;
}

MediaFoundationPlayerFactory::MediaFoundationPlayerFactory(HWND window, int width, int height)
    : window_(window), width_(width), height_(height), streamCallbacks_(systemFileCallbacks()) {
    const LibraryTable& table = systemLibraryTable();
    HRESULT hr = S_OK;
    for (const MediaFoundationLibrary& library : kMediaFoundationLibraries) {
        std::u16string name(library.name);
        HMODULE module = table.loadLibrary(name.c_str());
        if (!module) {
            hr = E_NOTIMPL;
            break;
        }
        modules_.push_back(module);
    }
    if (SUCCEEDED(hr)) hr = MediaFoundationApi::bind(table, modules_.data());
    if (SUCCEEDED(hr)) hr = MediaFoundationApi::startup()(kStartupVersion, kFullStartup);
    if (FAILED(hr)) {
        unload();
        throw directx_exception(kExceptionCategory, hr);
    }
}

MediaFoundationPlayerFactory::~MediaFoundationPlayerFactory() {
    std::vector<MoviePlayer*> players;
    {
        ScopedLock lock(lock_);
        players.swap(players_);
    }
    for (MoviePlayer* player : players) player->release();
    if (MFShutdownFunction shutdown = MediaFoundationApi::shutdown()) shutdown();
    unload();
}

void MediaFoundationPlayerFactory::unload() {
    const LibraryTable& table = systemLibraryTable();
    while (!modules_.empty()) {
        table.freeLibrary(modules_.back());
        modules_.pop_back();
    }
}

int MediaFoundationPlayerFactory::setCompositor(DrawBase* compositor) {
    compositor_ = compositor;
    device_ = compositor ? compositor->device() : nullptr;
    return 1;
}

MoviePlayer* MediaFoundationPlayerFactory::open(const std::u16string&, uint32_t, uintptr_t) {
    return nullptr;
}

LRESULT MediaFoundationPlayerFactory::onSessionEvent(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kSessionEventMessage) return 0;
    ScopedLock lock(lock_);
    (void)wParam;  // no session player exists yet, so no player can match
    if (auto* event = reinterpret_cast<IUnknown*>(lParam)) event->Release();
    return 1;
}
