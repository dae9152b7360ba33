#pragma once
// A running PlayerApp on Qt's offscreen platform with the software device: message boxes
// and open dialogs answered by the test, a hand-driven clock, a capture of the presented
// pictures (0x00RRGGBB), and a pump that handles what was posted to the user-interface
// thread.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "PlayListTestDoubles.h"
#include "app/PlayList.h"
#include "app/PlayerApp.h"
#include "app/Resources.h"
#include "framework/Module.h"
#include "framework/TimeSource.h"
#include "framework/WindowApi.h"
#include "platform/gfx/Direct3DModule.h"
#include "platform/gfx/PresentationTarget.h"
#include "platform/gfx/SoftwareAdapter.h"
#include "platform/ui/QtWindowSystem.h"
#include "platform/ui/UiPlatform.h"
#include "tests/support/TestSupport.h"

namespace shelltest {

using apptest::CaptureTarget;
using apptest::writeBmp;

inline UiPlatform& uiPlatform() {
    static int argc = 1;
    static char name[] = "app-test";
    static char* argv[] = {name, nullptr};
    static UiPlatform ui(argc, argv);
    return ui;
}

// Everything a start-up needs that the program's entry point would register.
inline void preparePlatform() {
    uiPlatform();
    ASSERT_TRUE(registerDirect3DModule());
    gfx::SoftwareAdapter::processAdapter()->restoreDefaults();
    registerPlayerResources();
}

// The clock every time source reads while a test drives it.
struct FakeClock {
    static std::atomic<uint32_t>& now() {
        static std::atomic<uint32_t> value{100000};
        return value;
    }
    static uint32_t read() { return now().load(); }
    static void install() { setTimeFunction(&read); }
    static void advance(uint32_t ms) { now().fetch_add(ms); }
    static void remove() { setTimeFunction(nullptr); }
};

struct BoxRecord {
    HWND owner;
    std::u16string text;
    std::u16string caption;
    UINT type;
};

// Records message boxes and gives the answer the test chose.
class BoxAnswerer {
public:
    void install() {
        QtWindowSystem::instance()->setMessageBoxAnswerer([this](const QtWindowSystem::MessageBoxRequest& r) {
            std::lock_guard<std::mutex> hold(mutex_);
            boxes_.push_back(BoxRecord{r.owner, r.text, r.caption, r.type});
            return answer_;
        });
    }
    void remove() { QtWindowSystem::instance()->setMessageBoxAnswerer(nullptr); }
    void answer(int a) { answer_ = a; }
    std::vector<BoxRecord> boxes() {
        std::lock_guard<std::mutex> hold(mutex_);
        return boxes_;
    }

private:
    std::mutex mutex_;
    std::vector<BoxRecord> boxes_;
    int answer_ = IDNO;
};

// Handles Qt's events (timers included) and then every message posted so far.
inline void pump(PlayerApp& app) {
    QCoreApplication::processEvents();
    PostQuitMessage(0);
    app.runMessageLoop();
}

// Pumps until the condition holds; false when it did not within a generous bound (a
// guard against hanging, not a timing requirement).
template <class F>
bool pumpUntil(PlayerApp& app, F&& condition) {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > giveUp) return false;
        pump(app);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline std::u16string windowText(HWND window) {
    char16_t buffer[256] = {};
    GetWindowTextW(window, buffer, 256);
    return buffer;
}

// A started PlayerApp, shut down at the end of the test.
class ShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        preparePlatform();
        boxes.install();
        module = std::make_unique<Module>(nullptr, nullptr, nullptr, SW_SHOWNORMAL);
        app = makeApp();
        PlayerApp::Hooks hooks;
        hooks.videoAreaCreated = [this](HWND videoArea) {
            gfx::SoftwareAdapter::processAdapter()->setPresentationTarget(videoArea, capture);
        };
        app->setHooks(std::move(hooks));
        ASSERT_TRUE(app->initialise());
    }
    void TearDown() override {
        if (app) app->shutdown();
        app.reset();
        module.reset();
        FakeClock::remove();
        boxes.remove();
        QtWindowSystem::instance()->setOpenFileAnswerer(nullptr);
        gfx::SoftwareAdapter::processAdapter()->restoreDefaults();
    }
    virtual std::unique_ptr<PlayerApp> makeApp() { return std::make_unique<PlayerApp>(*module); }

    PlayList& list() { return app->playList(); }
    UINT menuState(int id) { return GetMenuState(module->menu(), UINT(id), MF_BYCOMMAND); }
    bool greyed(int id) { return (menuState(id) & MF_GRAYED) != 0; }
    bool checked(int id) { return (menuState(id) & MF_CHECKED) != 0; }
    LRESULT command(int id) { return SendMessageW(app->mainWindow(), WM_COMMAND, WPARAM(id), 0); }

    BoxAnswerer boxes;
    std::shared_ptr<CaptureTarget> capture = std::make_shared<CaptureTarget>();
    std::unique_ptr<Module> module;
    std::unique_ptr<PlayerApp> app;
};

}  // namespace shelltest
