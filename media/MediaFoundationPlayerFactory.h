#pragma once
// The factory of players over the media session. Its four libraries are loaded at run
// time, so the program starts where they are missing: construction then raises
// directx_exception (category 9) and the application plays everything through the
// filter-graph factory.
#include <cstdint>
#include <string>
#include <vector>

#include "framework/CriticalSection.h"
#include "framework/StreamCallbacks.h"
#include "framework/WinTypes.h"
#include "media/MoviePlayerFactory.h"

class DrawBase;
class MoviePlayer;
struct IDirect3DDevice9;

class MediaFoundationPlayerFactory : public MoviePlayerFactory {
public:
    static constexpr int kExceptionCategory = 9;
    // MF_VERSION, given to the start-up call with full start-up.
    static constexpr ULONG kStartupVersion = 0x10070;
    // Messages posted to the factory's window.
    static constexpr UINT kSessionEventMessage = 0x1403;
    static constexpr UINT kMediaReadyMessage = 0x1404;

    // Raises directx_exception (9, failing result) when a library or function is missing
    // (E_NOTIMPL) or start-up fails; nothing stays loaded then.
    MediaFoundationPlayerFactory(HWND window, int width, int height);
    ~MediaFoundationPlayerFactory() override;
    MediaFoundationPlayerFactory(const MediaFoundationPlayerFactory&) = delete;
    MediaFoundationPlayerFactory& operator=(const MediaFoundationPlayerFactory&) = delete;

    int setCompositor(DrawBase* compositor);
    // No session player is built yet: null, without a completion message, so the caller
    // goes straight on to the filter-graph factory.
    MoviePlayer* open(const std::u16string& fileName, uint32_t flags, uintptr_t cookie) override;
    // Message 0x1403 (wParam player, lParam event object with one reference): 1; the event
    // of a player that is not in the list is released. 0 for any other message.
    LRESULT onSessionEvent(UINT message, WPARAM wParam, LPARAM lParam);

private:
    void unload();

    HWND window_;
    int width_;
    int height_;
    std::vector<HMODULE> modules_;  // in loading order
    StreamCallbacks streamCallbacks_;
    DrawBase* compositor_ = nullptr;
    IDirect3DDevice9* device_ = nullptr;
    CriticalSection lock_;
    std::vector<MoviePlayer*> players_;
};
