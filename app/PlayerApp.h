#pragma once
// The application object: owns every long-lived object of the player for the whole run,
// brings them up and down in a fixed order, runs the render thread (the Thread part) and
// is the main window's procedure (the MessageHandler part). It talks to the window system
// only through framework/WindowApi.h, so it runs unchanged under any installed table.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/PlayListHost.h"
#include "framework/CriticalSection.h"
#include "framework/Event.h"
#include "framework/LibraryTable.h"
#include "framework/MessageHandler.h"
#include "framework/Module.h"
#include "framework/Rect.h"
#include "framework/Stopwatch.h"
#include "framework/Thread.h"
#include "framework/ThreadPool.h"
#include "framework/WinTypes.h"

class ComUser;
class DirectShowPlayerFactory;
class DisplayConfig;
class DrawBase;
class FramePacer;
class MediaFoundationPlayerFactory;
class MoviePlayerFactory;
class PlayList;

class PlayerApp : public Thread, public MessageHandler, public PlayListHost {
public:
    // Flag word: low byte the transport state, then option bits.
    static constexpr uint32_t kStateMask = 0x000000FF;
    static constexpr uint32_t kStateStopped = 0;
    static constexpr uint32_t kStatePlaying = 1;
    static constexpr uint32_t kStatePaused = 2;
    static constexpr uint32_t kLoopFlag = 0x00000100;
    static constexpr uint32_t kUseMediaFoundationFlag = 0x00000200;
    static constexpr uint32_t kSliderFollowsClockFlag = 0x00010000;
    static constexpr uint32_t kInitialFlags = 0x00010000;

    // Messages posted to the main window.
    static constexpr UINT kGraphEventMessage = 0x1401;
    static constexpr UINT kMediaReadyMessage = 0x1402;
    static constexpr UINT kSessionEventMessage = 0x1403;
    static constexpr UINT kSessionMediaReadyMessage = 0x1404;
    static constexpr UINT kConfirmExitMessage = 0x8001;
    static constexpr UINT kCloseDialogMessage = 0x8002;
    static constexpr UINT kEndOfTimeLineMessage = 0x8005;
    static constexpr UINT kListCommandMessage = 0x8009;  // also "list changed", to the editor
    static constexpr UINT kOffsetChangedMessage = 0x800A;
    static constexpr UINT kWindowSizeChangedMessage = 0x800B;
    static constexpr UINT kDeviceLostMessage = 0x8011;

    // Resources.
    static constexpr UINT kIconApplication = 101;
    static constexpr UINT kIconPlay = 102;
    static constexpr UINT kIconStop = 103;
    static constexpr UINT kIconPause = 104;
    static constexpr UINT kMenuMain = 105;
    static constexpr UINT kStringTitle = 106;
    static constexpr UINT kStringVersion = 107;
    static constexpr UINT kStringNotice = 108;
    static constexpr UINT kDialogListEditor = 108;
    static constexpr UINT kDialogAbout = 109;

    // Control ids of the strip.
    static constexpr int kPlayButtonId = 1002;
    static constexpr int kStopButtonId = 1004;
    static constexpr int kSeekSliderId = 1005;

    // Menu commands.
    static constexpr int kCmdNewList = 40001;
    static constexpr int kCmdOpenSingle = 40002;
    static constexpr int kCmdOpenAppend = 40003;
    static constexpr int kCmdUseMediaFoundation = 40004;
    static constexpr int kCmdExit = 40005;
    static constexpr int kCmdPlay = 40006;
    static constexpr int kCmdStop = 40007;
    static constexpr int kCmdPause = 40008;
    static constexpr int kCmdLoop = 40009;
    static constexpr int kCmdListEditor = 40010;
    static constexpr int kCmdAbout = 40011;

    // List commands the editor posts (its button ids).
    static constexpr int kListMoveUp = 1012;
    static constexpr int kListMoveDown = 1013;
    static constexpr int kListAdd = 1014;
    static constexpr int kListRemove = 1015;
    static constexpr int kListClear = 1016;

    // Layout.
    static constexpr int kStripHeight = 32;
    static constexpr int kMinClientWidth = 336;
    static constexpr int kInitialVideoWidth = 640;
    static constexpr int kInitialVideoHeight = 480;
    static constexpr int kSliderRange = 2000;
    static constexpr uint32_t kMaxVideoExtent = 16384;
    static constexpr uint32_t kReadoutIntervalMs = 100;
    static constexpr uint32_t kRecoveryIntervalMs = 200;

    // The main window's style: clip children, caption, system menu, sizing border,
    // minimise box; no maximise box.
    static constexpr DWORD kMainWindowStyle = 0x02CE0000;

    // Failure texts of start-up and the one load error.
    static const char16_t kErrorCaption[];
    static const char16_t kMainWindowFailed[];
    static const char16_t kWindowItemsFailed[];
    static const char16_t kDirect3DFailed[];
    static const char16_t kWorkerFailed[];
    static const char16_t kLoadFailed[];

    // The module is made by the entry point and outlives this object.
    explicit PlayerApp(Module& module);
    // Shuts down what is still up (render thread first).
    ~PlayerApp() override;
    PlayerApp(const PlayerApp&) = delete;
    PlayerApp& operator=(const PlayerApp&) = delete;

    // The start-up sequence; on failure shows its one message box (no owner) and leaves
    // what was made for shutdown().
    bool initialise();
    // The user-interface thread's loop until WM_QUIT; answers the quit code.
    int runMessageLoop();
    // The shutdown sequence (safe to call more than once and after a failed start-up).
    void shutdown();
    // Its first part: the render thread, the item tasks, the list, the factories, the
    // extension library and the compositor. Also done before the main window is
    // destroyed on exit, so that no device outlives the surface it presents to.
    void stopEngine();
    // The render thread's body.
    void renderLoop();

    // The main window procedure.
    LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) override;

    // What the entry point wires in around start-up.
    struct Hooks {
        // The video area exists and the device is about to be made on it: the place to
        // give the window its platform surface.
        std::function<void(HWND videoArea)> videoAreaCreated;
        // Start-up succeeded; the message loop is about to run.
        std::function<void(PlayerApp& app)> started;
    };
    void setHooks(Hooks hooks) { hooks_ = std::move(hooks); }

    // The whole program from a made module: start-up, loop, shutdown. 0 after a normal
    // end, -1 when start-up failed.
    static int runProgram(Module& module, Hooks hooks = {});

    // What the play list and its editor need (PlayListHost).
    DrawBase* compositor() override { return drawBase_.get(); }
    MoviePlayerFactory* directShowFactory() override;
    MoviePlayerFactory* mediaFoundationFactory() override;
    HWND mainWindow() override { return module_.mainWindow(); }
    void videoAreaSize(uint32_t* width, uint32_t* height) override;
    // Resizes the main window so that the video area is w x h (at least the minimum
    // width); the WM_SIZE that follows lays the children out.
    void resizeToVideoSize(uint32_t width, uint32_t height) override;
    void notifyListEditor(int32_t selectId) override;
    // The client size that gives a video area of width x height: at least the minimum
    // width, the strip below, and no side beyond kMaxVideoExtent (no device takes more,
    // and it keeps the window arithmetic inside int).
    static SIZE clientSizeForVideo(uint32_t width, uint32_t height);
    void showLoadError() override;

    // Accessors for tests and the entry point.
    Module& module() { return module_; }
    HWND playWindow() const { return playWindow_; }
    HWND playButton() const { return playButton_; }
    HWND stopButton() const { return stopButton_; }
    HWND timeText() const { return timeText_; }
    HWND seekSlider() const { return seekSlider_; }
    HWND listEditor() const { return listEditor_; }
    HWND aboutDialog() const { return aboutDialog_; }
    HFONT font() const { return font_; }
    PlayList& playList() { return *list_; }
    DrawBase* drawBase() const { return drawBase_.get(); }
    DirectShowPlayerFactory* directShowPlayerFactory() const { return directShowFactory_.get(); }
    MediaFoundationPlayerFactory* mediaFoundationPlayerFactory() const { return mediaFoundationFactory_.get(); }
    HMODULE extensionLibrary() const { return extensionLibrary_; }
    FARPROC decodeFilterHook() const { return decodeFilterHook_; }
    ThreadPool* workerPool() const { return pool_.get(); }
    Stopwatch& masterClock() { return masterClock_; }
    CriticalSection& deviceLock() { return deviceLock_; }
    bool deviceOk() const { return deviceOk_.load() != 0; }

    uint32_t flags() const { return flags_.load(); }
    uint32_t transportState() const { return flags_.load() & kStateMask; }
    bool useMediaFoundation() const { return (flags_.load() & kUseMediaFoundationFlag) != 0; }

    // Play button icon, menu states and enabled controls from the transport state and the
    // list; then the play length and the read-out. Every list change ends with it.
    void updateControls();

    // Timer ids of the main window, derived from this object's identity.
    UINT_PTR readoutTimerId() const { return reinterpret_cast<UINT_PTR>(this); }
    UINT_PTR recoveryTimerId() const { return reinterpret_cast<UINT_PTR>(this) + 1; }

    // Where the extension library is looked for ("extcodec.dll", then "extcodec_x86.dll").
    void setLibraryTable(const LibraryTable& table) { libraries_ = table; }

protected:
    void run() override { renderLoop(); }

private:
    // Start-up steps.
    bool createMainWindow();
    bool createWindowItems();
    bool createDevice();
    void loadExtensionLibrary();
    bool startWorkers();

    // Main window handling.
    LRESULT onCommand(int id);
    void onSize();
    void onMinMaxInfo(MINMAXINFO* info);
    void onHScroll(WPARAM wParam);
    void onTimer(UINT_PTR id);
    void onDropFiles(HDROP drop);
    void onCloseDialog(HWND dialog);

    // Transport.
    void togglePlayPause();
    void stopTransport();
    void seekTo(uint32_t position);
    void onOffsetChanged(int32_t id);
    void onEndOfTimeLine();
    void updateReadout(bool recomputeLength);
    // Lets count waiting item tasks go, all at once.
    uint32_t releaseTasks(uint32_t count);
    void setTransportState(uint32_t state);

    // Files, list commands and dialogs.
    void openFile(int command);
    void onListCommand(int command, int32_t id);
    void newList();
    void openListEditor();
    void openAboutDialog();

    // Device.
    bool resizeDevice();
    void recoverDevice();
    void retryRecovery();
    // Keeps the render thread away from the device until recovery succeeds; it waits
    // outside every lock, so the user-interface thread can never block on it.
    void holdRenderThread();
    void releaseRenderThread();
    void composeFrame();

    // Members in the order of ownership; destroyed in reverse.
    Module& module_;
    std::unique_ptr<ComUser> comUser_;
    bool timerResolutionHeld_ = false;
    std::unique_ptr<FramePacer> pacer_;  // made and used by the render thread
    HFONT font_ = nullptr;
    std::unique_ptr<ThreadPool> pool_;
    std::unique_ptr<Semaphore> taskLatch_;
    CriticalSection deviceLock_;
    std::atomic<uint32_t> deviceOk_{0};
    std::unique_ptr<DisplayConfig> displayConfig_;
    std::unique_ptr<DrawBase> drawBase_;
    std::unique_ptr<DirectShowPlayerFactory> directShowFactory_;
    std::unique_ptr<MediaFoundationPlayerFactory> mediaFoundationFactory_;
    HMODULE extensionLibrary_ = nullptr;
    FARPROC decodeFilterHook_ = nullptr;
    HWND playWindow_ = nullptr;
    HWND playButton_ = nullptr;
    HWND stopButton_ = nullptr;
    HWND timeText_ = nullptr;
    HWND seekSlider_ = nullptr;
    HWND listEditor_ = nullptr;
    HWND aboutDialog_ = nullptr;
    std::unique_ptr<PlayList> list_;
    Stopwatch masterClock_;
    std::atomic<uint32_t> flags_{kInitialFlags};

    LibraryTable libraries_;
    Hooks hooks_;
    bool handlerAdded_ = false;
    bool shutDown_ = false;
    // The user-interface thread asks the render thread to restart its pacing (the pacer
    // itself belongs to the render thread).
    std::atomic<bool> pacerResetPending_{false};
    std::atomic<bool> renderHeld_{false};
};
