#pragma once
// What the play list and the list editor need from the application. PlayerApp implements
// it; tests implement it with their own factories and windows. Every call is made on the
// user-interface thread.
#include <cstdint>

#include "framework/WinTypes.h"

class DrawBase;
class MoviePlayerFactory;

class PlayListHost {
public:
    virtual ~PlayListHost() = default;

    // The compositor whose texture factory and layer drawer the items use.
    virtual DrawBase* compositor() = 0;
    // The DirectShow factory (always present) and the Media Foundation factory (null
    // when it could not be made).
    virtual MoviePlayerFactory* directShowFactory() = 0;
    virtual MoviePlayerFactory* mediaFoundationFactory() = 0;

    // The main window: the list editor posts its commands (0x8009), offset changes
    // (0x800A) and its close request (0x8002) here, and owns the error box.
    virtual HWND mainWindow() = 0;
    // Client size of the video area (PlayWindow).
    virtual void videoAreaSize(uint32_t* width, uint32_t* height) = 0;
    // Resizes the main window so that the video area becomes width x height (the client
    // width is at least 336; the control strip is added below).
    virtual void resizeToVideoSize(uint32_t width, uint32_t height) = 0;
    // Posts list changed (0x8009, lParam = id to keep selected, or 0) to the list editor
    // when it is open; nothing otherwise.
    virtual void notifyListEditor(int32_t selectId) = 0;
    // The box "動画ファイルが読み込めませんでした。" (caption "エラー", error icon) owned by the
    // main window.
    virtual void showLoadError() = 0;
};
