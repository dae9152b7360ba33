#pragma once
// Builds a filter graph per movie file and hands back its player. Lives as long as the
// main window; the application routes the graph-event message (0x1401) back into it.
#include <cstdint>
#include <string>
#include <vector>

#include "framework/CriticalSection.h"
#include "framework/StreamCallbacks.h"
#include "framework/WinTypes.h"
#include "media/MoviePlayerFactory.h"

class DrawBase;
class DirectShowMoviePlayer;
struct IGraphBuilder;
struct IBaseFilter;

// The extension library's hook: (graph, source filter, reserved 0).
using DecodeFilterHook = void (*)(IGraphBuilder* graph, IBaseFilter* source, uintptr_t reserved);

class DirectShowPlayerFactory : public MoviePlayerFactory {
public:
    // Messages posted to the factory's window.
    static constexpr UINT kGraphEventMessage = 0x1401;
    static constexpr UINT kMediaReadyMessage = 0x1402;

    DirectShowPlayerFactory(HWND window, int width, int height);
    ~DirectShowPlayerFactory() override;
    DirectShowPlayerFactory(const DirectShowPlayerFactory&) = delete;
    DirectShowPlayerFactory& operator=(const DirectShowPlayerFactory&) = delete;

    int setCompositor(DrawBase* compositor);
    int setDecodeFilterHook(DecodeFilterHook hook);
    MoviePlayer* open(const std::u16string& fileName, uint32_t flags, uintptr_t cookie) override;
    LRESULT onGraphEvent(UINT message, WPARAM wParam, LPARAM lParam);

private:
    friend class DirectShowMoviePlayer;
    // A player's close: leaves the list, which gives back the list's reference.
    void removePlayer(DirectShowMoviePlayer* player);

    HWND window_;
    int width_;
    int height_;
    StreamCallbacks streamCallbacks_;
    DrawBase* compositor_ = nullptr;
    DecodeFilterHook decodeFilterHook_ = nullptr;
    CriticalSection lock_;
    std::vector<DirectShowMoviePlayer*> players_;  // each entry holds one reference
};
