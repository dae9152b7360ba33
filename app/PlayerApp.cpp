#include "app/PlayerApp.h"

#include <algorithm>
#include <thread>
#include <vector>

#include "app/PlayList.h"
#include "app/Resources.h"
#include "framework/ComUser.h"
#include "framework/Exceptions.h"
#include "framework/FramePacer.h"
#include "framework/TimerResolution.h"
#include "framework/WindowApi.h"
#include "graphics/DisplayConfig.h"
#include "graphics/DrawBase.h"
#include "graphics/LayerDrawer.h"
#include "media/DirectShowPlayerFactory.h"
#include "media/MediaFoundationPlayerFactory.h"

const char16_t PlayerApp::kErrorCaption[] = u"エラー";
const char16_t PlayerApp::kMainWindowFailed[] = u"基本ウィンドウの作成に失敗しました。";
const char16_t PlayerApp::kWindowItemsFailed[] = u"ウィンドウアイテムの作成に失敗しました。";
const char16_t PlayerApp::kDirect3DFailed[] = u"Direct3Dの初期化に失敗しました。";
const char16_t PlayerApp::kWorkerFailed[] = u"初期化作業に失敗しました。";
const char16_t PlayerApp::kLoadFailed[] = u"動画ファイルが読み込めませんでした。";

namespace {

constexpr DWORD kClearTargetAndDepth = 3;
constexpr const char16_t* kExtensionLibraries[] = {u"extcodec.dll", u"extcodec_x86.dll"};
constexpr const char* kExtensionEntry = "AddMediaDecodeFilter";
constexpr const char16_t kFontFace[] = u"ＭＳ Ｐゴシック";

// Holds the device lock, the compositor's scene lock, the list lock and every item's
// lock, in the order every thread takes them, for a device reset; they are let go in
// the opposite order.
class DeviceResetLocks {
public:
    DeviceResetLocks(CriticalSection& deviceLock, DrawBase& compositor, PlayList& list)
        : device_(deviceLock), scene_(compositor.sceneLock()), list_(list.lock()) {
        items_ = list.items();
        for (SharedRef<PlayItem>& item : items_) item->lock().lock();
    }
    ~DeviceResetLocks() {
        for (auto it = items_.rbegin(); it != items_.rend(); ++it) (*it)->lock().unlock();
    }
    DeviceResetLocks(const DeviceResetLocks&) = delete;
    DeviceResetLocks& operator=(const DeviceResetLocks&) = delete;

private:
    ScopedLock device_;
    ScopedLock scene_;
    ScopedLock list_;
    std::vector<SharedRef<PlayItem>> items_;
};

void sleepOrStop(void* context, uint32_t ms) {
    static_cast<PlayerApp*>(context)->waitOrStop(ms);
}

void errorBox(const char16_t* text) {
    MessageBoxW(nullptr, text, PlayerApp::kErrorCaption, MB_OK | MB_ICONERROR);
}

}  // namespace

PlayerApp::PlayerApp(Module& module)
    : module_(module), list_(std::make_unique<PlayList>(*this)), libraries_(systemLibraryTable()) {
    masterClock_.setPosition(0);
    masterClock_.pause();
}

PlayerApp::~PlayerApp() {
    shutdown();
}

bool PlayerApp::initialise() {
    comUser_ = std::make_unique<ComUser>(true);
    TimerResolution::acquire();
    timerResolutionHeld_ = true;

    if (!createMainWindow()) {
        errorBox(kMainWindowFailed);
        return false;
    }
    if (!createWindowItems()) {
        errorBox(kWindowItemsFailed);
        return false;
    }
    if (hooks_.videoAreaCreated) hooks_.videoAreaCreated(playWindow_);
    if (!createDevice()) {
        errorBox(kDirect3DFailed);
        return false;
    }
    loadExtensionLibrary();
    if (!startWorkers()) {
        errorBox(kWorkerFailed);
        return false;
    }
    return true;
}

bool PlayerApp::createMainWindow() {
    module_.dispatcher().addHandler(this);
    handlerAdded_ = true;

    HINSTANCE instance = module_.instance();
    std::u16string title = loadResourceString(instance, kStringTitle);
    HMENU menu = LoadMenuW(instance, kMenuMain);
    HICON icon = LoadIconW(instance, kIconApplication);
    auto* brush = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    if (title.empty() || !menu) {
        if (menu) DestroyMenu(menu);
        return false;
    }
    if (!module_.registerClass(title.c_str(), nullptr, CS_DBLCLKS, brush, icon, nullptr, menu)) {
        DestroyMenu(menu);
        return false;
    }
    if (!module_.createWindow(WS_EX_ACCEPTFILES, kMainWindowStyle, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT))
        return false;

    font_ = CreateFontW(12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                        DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, kFontFace);
    if (font_) SendMessageW(mainWindow(), WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    masterClock_.setPosition(0);
    masterClock_.pause();
    return true;
}

bool PlayerApp::createWindowItems() {
    HWND main = mainWindow();
    HINSTANCE instance = module_.instance();
    auto child = [&](const char16_t* className, const char16_t* name, DWORD style, int width, int height, int id) {
        return CreateWindowExW(0, className, name, style, 0, 0, width, height, main,
                               reinterpret_cast<HMENU>(static_cast<intptr_t>(id)), instance, &module_.dispatcher());
    };
    playWindow_ = child(module_.className().c_str(), u"PlayWindow", WS_CHILD | WS_VISIBLE, 1, 1, 0);
    if (!playWindow_) return false;
    playButton_ = child(u"BUTTON", u"PlayButton", 0x58010040, 32, 32, kPlayButtonId);
    if (!playButton_) return false;
    stopButton_ = child(u"BUTTON", u"StopButton", 0x58010040, 32, 32, kStopButtonId);
    if (!stopButton_) return false;
    timeText_ = child(u"STATIC", u"MovieTimeText", 0x50000201, 72, 32, 0);
    if (!timeText_) return false;
    seekSlider_ = child(u"msctls_trackbar32", u"TimeSeekSlider", 0x58000018, 200, 32, kSeekSliderId);
    if (!seekSlider_) return false;

    SendMessageW(playButton_, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(LoadIconW(instance, kIconPlay)));
    SendMessageW(stopButton_, BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(LoadIconW(instance, kIconStop)));
    if (font_) SendMessageW(timeText_, WM_SETFONT, reinterpret_cast<WPARAM>(font_), TRUE);
    SendMessageW(seekSlider_, TBM_SETRANGE, TRUE, MAKELPARAM(0, kSliderRange));
    SendMessageW(seekSlider_, TBM_SETPAGESIZE, 0, 100);
    SendMessageW(seekSlider_, TBM_SETPOS, TRUE, 0);

    resizeToVideoSize(kInitialVideoWidth, kInitialVideoHeight);
    // The read-out shows the empty time line from the start.
    updateControls();
    return true;
}

bool PlayerApp::createDevice() {
    RECT client{};
    GetClientRect(playWindow_, &client);
    const int width = client.right - client.left;
    const int height = client.bottom - client.top;
    try {
        displayConfig_ = std::make_unique<DisplayConfig>(nullptr, nullptr);
        displayConfig_->setOptions(DisplayConfig::kUseDirect3D9Ex);
        displayConfig_->setWindowedSize(width, height);
        drawBase_ = std::make_unique<DrawBase>(playWindow_, *displayConfig_);
        directShowFactory_ = std::make_unique<DirectShowPlayerFactory>(playWindow_, width, height);
        directShowFactory_->setCompositor(drawBase_.get());
    } catch (const IException&) {
        return false;
    } catch (const std::exception&) {
        return false;
    }
    if (!displayConfig_ || !drawBase_ || !directShowFactory_) return false;
    deviceOk_.store(1);

    try {
        mediaFoundationFactory_ = std::make_unique<MediaFoundationPlayerFactory>(playWindow_, width, height);
        mediaFoundationFactory_->setCompositor(drawBase_.get());
    } catch (const IException&) {
        mediaFoundationFactory_.reset();
    } catch (const std::exception&) {
        mediaFoundationFactory_.reset();
    }
    if (!mediaFoundationFactory_) EnableMenuItem(module_.menu(), kCmdUseMediaFoundation, MF_BYCOMMAND | MF_GRAYED);
    return true;
}

void PlayerApp::loadExtensionLibrary() {
    HMODULE library = nullptr;
    for (const char16_t* name : kExtensionLibraries) {
        if (libraries_.loadLibrary) library = libraries_.loadLibrary(name);
        if (library) break;
    }
    if (!library) return;
    FARPROC entry = libraries_.getProcAddress ? libraries_.getProcAddress(library, kExtensionEntry) : nullptr;
    if (!entry) {
        if (libraries_.freeLibrary) libraries_.freeLibrary(library);
        return;
    }
    extensionLibrary_ = library;
    decodeFilterHook_ = entry;
    directShowFactory_->setDecodeFilterHook(reinterpret_cast<DecodeFilterHook>(entry));
}

bool PlayerApp::startWorkers() {
    const uint32_t threads = std::max(std::thread::hardware_concurrency(), 4u);
    pool_ = std::make_unique<ThreadPool>(threads);
    taskLatch_ = std::make_unique<Semaphore>(0, 0x7FFFFFFF);
    if (!pool_->start()) return false;
    return start();
}

int PlayerApp::runMessageLoop() {
    MSG message{};
    for (;;) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) break;
        // No window system left to wait on: end rather than spin.
        if (got == -1) return 0;
        if (listEditor_ && IsDialogMessageW(listEditor_, &message)) continue;
        if (aboutDialog_ && IsDialogMessageW(aboutDialog_, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

void PlayerApp::stopEngine() {
    // The render thread first; a held thread is released by the stop request.
    stop();

    // Finish a running item task and drop queued ones, so that nothing plays an item
    // while its factory and compositor go away.
    if (pool_) pool_->stop();
    pool_.reset();
    list_->clearList();
    // Players (and any filters the extension added to their graphs) go with their
    // factories, before the extension's code is unloaded.
    directShowFactory_.reset();
    mediaFoundationFactory_.reset();
    if (extensionLibrary_ && libraries_.freeLibrary) libraries_.freeLibrary(extensionLibrary_);
    extensionLibrary_ = nullptr;
    decodeFilterHook_ = nullptr;
    drawBase_.reset();
    displayConfig_.reset();
}

void PlayerApp::shutdown() {
    if (shutDown_) return;
    shutDown_ = true;
    stopEngine();

    for (HWND* window :
         {&aboutDialog_, &listEditor_, &seekSlider_, &timeText_, &stopButton_, &playButton_, &playWindow_}) {
        if (*window && IsWindow(*window)) DestroyWindow(*window);
        *window = nullptr;
    }
    // Left over only when start-up failed after the main window was made.
    if (mainWindow() && IsWindow(mainWindow())) DestroyWindow(mainWindow());
    if (handlerAdded_) module_.dispatcher().removeHandler(this);
    handlerAdded_ = false;

    taskLatch_.reset();
    pool_.reset();
    if (font_) DeleteObject(font_);
    font_ = nullptr;
    if (timerResolutionHeld_) TimerResolution::release();
    timerResolutionHeld_ = false;
    comUser_.reset();
}

int PlayerApp::runProgram(Module& module, Hooks hooks) {
    PlayerApp app(module);
    app.setHooks(std::move(hooks));
    int code = 0;
    if (app.initialise()) {
        if (app.hooks_.started) app.hooks_.started(app);
        app.runMessageLoop();
    } else {
        code = -1;
    }
    app.shutdown();
    return code;
}

void PlayerApp::renderLoop() {
    pacer_ = std::make_unique<FramePacer>();
    pacer_->setRate(60);
    pacer_->setSleepFunction(&sleepOrStop, this);

    while (isRunning()) {
        bool wait = true;
        deviceLock_.lock();
        if (renderHeld_.load()) {
            // Device recovery is pending on the user-interface thread: do nothing until
            // it releases the thread.
            deviceLock_.unlock();
            waitOrStop(INFINITE);
            continue;
        }
        if (pacerResetPending_.exchange(false)) pacer_->reset();
        if (deviceOk_.load()) {
            if (!pacer_->isLate()) composeFrame();
            if (!drawBase_->isDeviceUsable()) {
                PostMessageW(mainWindow(), kDeviceLostMessage, 0, 0);
                deviceOk_.store(0);
            }
        }
        if (!deviceOk_.load() && drawBase_->isDeviceUsable()) {
            deviceOk_.store(1);
            pacer_->reset();
            wait = false;
        }
        deviceLock_.unlock();
        if (wait) pacer_->waitNextFrame();
    }
    pacer_.reset();
}

void PlayerApp::composeFrame() {
    DrawBase& compositor = *drawBase_;
    ScopedLock scene(compositor.sceneLock());
    const bool began = !compositor.isInScene();
    if (began && !compositor.beginScene()) return;
    compositor.layerDrawer().clear(nullptr, kClearTargetAndDepth, list_->clearColour(), 1.0f, 0);
    list_->forEachReverse([](PlayItem& item) { item.draw(); });
    if (began) compositor.endScene();
    compositor.present();
}

MoviePlayerFactory* PlayerApp::directShowFactory() {
    return directShowFactory_.get();
}

MoviePlayerFactory* PlayerApp::mediaFoundationFactory() {
    return mediaFoundationFactory_.get();
}

void PlayerApp::videoAreaSize(uint32_t* width, uint32_t* height) {
    RECT client{};
    if (!playWindow_ || !GetClientRect(playWindow_, &client)) client = RECT{};
    if (width) *width = static_cast<uint32_t>(std::max<LONG>(client.right - client.left, 0));
    if (height) *height = static_cast<uint32_t>(std::max<LONG>(client.bottom - client.top, 0));
}

void PlayerApp::notifyListEditor(int32_t selectId) {
    if (listEditor_) PostMessageW(listEditor_, kListCommandMessage, 0, selectId);
}

void PlayerApp::showLoadError() {
    MessageBoxW(mainWindow(), kLoadFailed, kErrorCaption, MB_OK | MB_ICONERROR);
}

bool PlayerApp::resizeDevice() {
    bool ok;
    {
        DeviceResetLocks hold(deviceLock_, *drawBase_, *list_);
        ok = drawBase_->resize();
        if (!ok) {
            deviceOk_.store(0);
            holdRenderThread();
        }
    }
    return ok;
}

void PlayerApp::recoverDevice() {
    if (!drawBase_) return;
    bool ok;
    {
        DeviceResetLocks hold(deviceLock_, *drawBase_, *list_);
        ok = drawBase_->isDeviceUsable() || (drawBase_->waitForDevice(50) && drawBase_->restoreDevice());
        if (ok) {
            pacerResetPending_.store(true);
            deviceOk_.store(1);
        } else {
            holdRenderThread();
        }
    }
    if (!ok) SetTimer(mainWindow(), recoveryTimerId(), kRecoveryIntervalMs, nullptr);
}

void PlayerApp::retryRecovery() {
    if (!drawBase_) return;
    bool ok;
    {
        DeviceResetLocks hold(deviceLock_, *drawBase_, *list_);
        ok = drawBase_->waitForDevice(50) && drawBase_->restoreDevice();
        if (ok) {
            pacerResetPending_.store(true);
            deviceOk_.store(1);
        }
    }
    if (ok) {
        releaseRenderThread();
        KillTimer(mainWindow(), recoveryTimerId());
    }
}

void PlayerApp::holdRenderThread() {
    renderHeld_.store(true);
}

void PlayerApp::releaseRenderThread() {
    if (renderHeld_.exchange(false)) wake();
}
