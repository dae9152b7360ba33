// Start-up and shutdown of PlayerApp, its window, menus, dialogs, files and the frames the
// render thread presents, on Qt's offscreen platform with the software device.
#include <string>
#include <vector>

#include "ShellHarness.h"
#include "app/AboutDialog.h"
#include "app/ImageItem.h"
#include "framework/LibraryTable.h"
#include "media/DirectShowPlayerFactory.h"

namespace {

using shelltest::BoxRecord;
using shelltest::pump;
using shelltest::pumpUntil;

class PlayerAppTest : public shelltest::ShellTest {
protected:
    SIZE videoArea() {
        uint32_t w = 0, h = 0;
        app->videoAreaSize(&w, &h);
        return SIZE{LONG(w), LONG(h)};
    }
    SIZE clientOf(HWND window) {
        RECT r{};
        GetClientRect(window, &r);
        return SIZE{r.right - r.left, r.bottom - r.top};
    }
    RECT windowRect(HWND window) {
        RECT r{};
        GetWindowRect(window, &r);
        return r;
    }
    testsupport::TempDir dir;
};

TEST_F(PlayerAppTest, StartsWithTheMainWindowItsStripAndAnIdleTransport) {
    EXPECT_EQ(shelltest::windowText(app->mainWindow()), u"Layerdeck");
    EXPECT_EQ(app->flags(), PlayerApp::kInitialFlags);
    EXPECT_TRUE(app->deviceOk());
    EXPECT_NE(app->drawBase(), nullptr);
    EXPECT_NE(app->directShowPlayerFactory(), nullptr);

    const SIZE area = videoArea();
    EXPECT_EQ(area.cx, 640);
    EXPECT_EQ(area.cy, 480);
    const SIZE client = clientOf(app->mainWindow());
    EXPECT_EQ(client.cx, 640);
    EXPECT_EQ(client.cy, 480 + 32);
    // The strip lies under the video area, left to right.
    RECT strip[4];
    HWND controls[4] = {app->playButton(), app->stopButton(), app->timeText(), app->seekSlider()};
    for (int i = 0; i < 4; ++i) strip[i] = windowRect(controls[i]);
    EXPECT_EQ(strip[1].left - strip[0].left, 32);
    EXPECT_EQ(strip[2].left - strip[0].left, 64);
    EXPECT_EQ(strip[3].left - strip[0].left, 136);
    EXPECT_EQ(strip[3].right - strip[3].left, 640 - 136);
    for (const RECT& r : strip) EXPECT_EQ(r.bottom - r.top, 32);
    EXPECT_EQ(strip[0].top - windowRect(app->playWindow()).top, 480);

    // Media Foundation cannot be had here: its menu item is grey for good.
    EXPECT_EQ(app->mediaFoundationPlayerFactory() == nullptr, greyed(PlayerApp::kCmdUseMediaFoundation));
    if (!app->mediaFoundationPlayerFactory()) {
        command(PlayerApp::kCmdUseMediaFoundation);
        EXPECT_FALSE(checked(PlayerApp::kCmdUseMediaFoundation));
        EXPECT_FALSE(app->useMediaFoundation());
    }
    EXPECT_TRUE(boxes.boxes().empty());
}

TEST_F(PlayerAppTest, WindowKeepsItsMinimumAndFitsVideoSizes) {
    MINMAXINFO info{};
    EXPECT_EQ(SendMessageW(app->mainWindow(), WM_GETMINMAXINFO, 0, LPARAM(&info)), 0);
    RECT minimum{0, 0, 336, 32};
    AdjustWindowRectEx(&minimum, PlayerApp::kMainWindowStyle, TRUE, 0);
    EXPECT_EQ(info.ptMinTrackSize.x, minimum.right - minimum.left);
    EXPECT_EQ(info.ptMinTrackSize.y, minimum.bottom - minimum.top);

    // A narrow video widens to the minimum client width.
    app->resizeToVideoSize(200, 100);
    pump(*app);
    EXPECT_EQ(clientOf(app->mainWindow()).cx, 336);
    EXPECT_EQ(videoArea().cx, 336);
    EXPECT_EQ(videoArea().cy, 100);
    EXPECT_EQ(windowRect(app->seekSlider()).right - windowRect(app->seekSlider()).left, 336 - 136);

    // Sizes typed into the editor are unsigned: huge ones are cut down, not wrapped.
    const SIZE huge = PlayerApp::clientSizeForVideo(0xFFFFFFFFu, 0xFFFFFFFFu);
    EXPECT_EQ(huge.cx, LONG(PlayerApp::kMaxVideoExtent));
    EXPECT_EQ(huge.cy, LONG(PlayerApp::kMaxVideoExtent) + 32);
    const SIZE zero = PlayerApp::clientSizeForVideo(0, 0);
    EXPECT_EQ(zero.cx, 336);
    EXPECT_EQ(zero.cy, 32);

    app->resizeToVideoSize(320, 240);
    pump(*app);
    EXPECT_EQ(videoArea().cx, 336);
    EXPECT_EQ(videoArea().cy, 240);
    EXPECT_TRUE(app->deviceOk());
}

TEST_F(PlayerAppTest, ClosingAsksFirstAndNoKeepsTheProgramRunning) {
    boxes.answer(IDNO);
    PostMessageW(app->mainWindow(), WM_CLOSE, 0, 0);
    pump(*app);
    command(PlayerApp::kCmdExit);
    pump(*app);
    const std::vector<BoxRecord> asked = boxes.boxes();
    ASSERT_EQ(asked.size(), 2u);
    for (const BoxRecord& box : asked) {
        EXPECT_EQ(box.text, u"終了します。よろしいですか？");
        EXPECT_EQ(box.caption, u"確認");
        EXPECT_EQ(box.type, UINT(MB_YESNO | MB_ICONQUESTION));
        EXPECT_EQ(box.owner, app->mainWindow());
    }
    EXPECT_TRUE(IsWindow(app->mainWindow()));

    boxes.answer(IDYES);
    PostMessageW(app->mainWindow(), WM_CLOSE, 0, 0);
    pump(*app);
    EXPECT_FALSE(IsWindow(app->mainWindow()));
    // The device went before the surface it presented to.
    EXPECT_EQ(app->drawBase(), nullptr);
    EXPECT_FALSE(app->isRunning());
}

TEST_F(PlayerAppTest, AboutDialogOpensOnceAndClosesThroughTheMainWindow) {
    command(PlayerApp::kCmdAbout);
    HWND about = app->aboutDialog();
    ASSERT_NE(about, nullptr);
    command(PlayerApp::kCmdAbout);
    EXPECT_EQ(app->aboutDialog(), about);

    char16_t text[64] = {};
    GetDlgItemTextW(about, AboutDialog::kTitleId, text, 64);
    EXPECT_EQ(std::u16string(text), u"Layerdeck 1.07");
    GetDlgItemTextW(about, AboutDialog::kNoticeId, text, 64);
    EXPECT_FALSE(std::u16string(text).empty());

    SendDlgItemMessageW(about, AboutDialog::kCloseId, BM_CLICK, 0, 0);
    EXPECT_TRUE(IsWindow(about));  // the dialog only asks
    pump(*app);
    EXPECT_EQ(app->aboutDialog(), nullptr);
    EXPECT_FALSE(IsWindow(about));

    // A close request for a window that is not one of the dialogs is ignored.
    SendMessageW(app->mainWindow(), PlayerApp::kCloseDialogMessage, 0, LPARAM(app->playWindow()));
    EXPECT_TRUE(IsWindow(app->playWindow()));
}

TEST_F(PlayerAppTest, ListEditorOpensOnceAndItsCommandsChangeTheList) {
    const auto picture = dir / "blue.bmp";
    shelltest::writeBmp(picture, 4, 4, 0x0000FF);
    QtWindowSystem::instance()->postDrop(app->mainWindow(), {picture.u16string(), picture.u16string()}, POINT{});
    pump(*app);
    const std::vector<SharedRef<PlayItem>> before = list().items();
    ASSERT_EQ(before.size(), 2u);

    command(PlayerApp::kCmdListEditor);
    HWND editor = app->listEditor();
    ASSERT_NE(editor, nullptr);
    command(PlayerApp::kCmdListEditor);
    EXPECT_EQ(app->listEditor(), editor);

    // What the editor's buttons post: move the first item down, then remove it.
    SendMessageW(app->mainWindow(), PlayerApp::kListCommandMessage, PlayerApp::kListMoveDown, before[0]->id());
    EXPECT_EQ(list().items()[1]->id(), before[0]->id());
    SendMessageW(app->mainWindow(), PlayerApp::kListCommandMessage, PlayerApp::kListRemove, before[0]->id());
    ASSERT_EQ(list().count(), 1u);
    EXPECT_EQ(list().items()[0]->id(), before[1]->id());
    pump(*app);
    SendMessageW(app->mainWindow(), PlayerApp::kListCommandMessage, PlayerApp::kListClear, 0);
    EXPECT_TRUE(list().empty());

    SendMessageW(app->mainWindow(), PlayerApp::kCloseDialogMessage, 0, LPARAM(editor));
    EXPECT_EQ(app->listEditor(), nullptr);
    EXPECT_FALSE(IsWindow(editor));
    pump(*app);
}

TEST_F(PlayerAppTest, OpeningFilesReplacesOrAppendsAndReportsFailures) {
    const auto picture = dir / "red.bmp";
    shelltest::writeBmp(picture, 8, 8, 0xFF0000);
    std::vector<QtWindowSystem::OpenFileRequest> requests;
    std::u16string answer = picture.u16string();
    QtWindowSystem::instance()->setOpenFileAnswerer([&](const QtWindowSystem::OpenFileRequest& r) {
        requests.push_back(r);
        return answer;
    });

    command(PlayerApp::kCmdOpenSingle);
    command(PlayerApp::kCmdOpenAppend);
    command(PlayerApp::kCmdOpenSingle);
    EXPECT_EQ(list().count(), 1u);
    command(PlayerApp::kCmdOpenAppend);
    EXPECT_EQ(list().count(), 2u);
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(requests[0].title, u"開く動画ファイルを選択する");
    EXPECT_EQ(requests[1].title, u"追加する動画ファイルを選択する");
    EXPECT_EQ(requests[0].owner, app->mainWindow());
    ASSERT_EQ(requests[0].filters.size(), 3u);
    EXPECT_EQ(requests[0].selectedFilter, 0);
    EXPECT_FALSE(greyed(PlayerApp::kCmdPlay));
    EXPECT_TRUE(boxes.boxes().empty());

    // Cancel changes nothing; a file no item can open gives the error box.
    answer.clear();
    command(PlayerApp::kCmdOpenSingle);
    EXPECT_EQ(list().count(), 2u);
    const auto junk = dir / "junk.png";
    testsupport::writeFile(junk, {'n', 'o', 't', ' ', 'a', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'});
    answer = junk.u16string();
    command(PlayerApp::kCmdOpenSingle);
    EXPECT_EQ(list().count(), 2u);
    const std::vector<BoxRecord> asked = boxes.boxes();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, u"動画ファイルが読み込めませんでした。");
    EXPECT_EQ(asked[0].caption, u"エラー");
    EXPECT_EQ(asked[0].type & MB_ICONMASK, MB_ICONERROR);

    // New list empties everything.
    command(PlayerApp::kCmdNewList);
    EXPECT_TRUE(list().empty());
    EXPECT_TRUE(greyed(PlayerApp::kCmdPlay));
}

TEST_F(PlayerAppTest, DroppedFilesReplaceTheListAndFailuresAreSkippedSilently) {
    const auto first = dir / "one.bmp";
    const auto second = dir / "two.bmp";
    shelltest::writeBmp(first, 8, 8, 0x00FF00);
    shelltest::writeBmp(second, 4, 4, 0x0000FF);
    QtWindowSystem::instance()->postDrop(app->mainWindow(), {first.u16string()}, POINT{10, 10});
    pump(*app);
    EXPECT_EQ(list().count(), 1u);

    QtWindowSystem::instance()->postDrop(
        app->mainWindow(), {second.u16string(), (dir / "nothing.bmp").u16string(), first.u16string()}, POINT{5, 5});
    pump(*app);
    const std::vector<SharedRef<PlayItem>> items = list().items();
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items[0]->path(), second.u16string());
    EXPECT_EQ(items[1]->path(), first.u16string());
    EXPECT_NE(dynamic_cast<ImageItem*>(items[0].get()), nullptr);
    EXPECT_NE(dynamic_cast<ImageItem*>(items[1].get()), nullptr);
    EXPECT_TRUE(boxes.boxes().empty());
    EXPECT_EQ(app->transportState(), PlayerApp::kStateStopped);
}

TEST_F(PlayerAppTest, RenderThreadDrawsTheListLastToFirstOverTheBackground) {
    const auto red = dir / "red.bmp";
    const auto green = dir / "green.bmp";
    shelltest::writeBmp(red, 16, 16, 0xFF0000);
    shelltest::writeBmp(green, 32, 32, 0x00FF00);
    QtWindowSystem::instance()->postDrop(app->mainWindow(), {red.u16string(), green.u16string()}, POINT{1, 1});
    pump(*app);
    ASSERT_EQ(list().count(), 2u);

    // The first item of the list is the top layer. (The window may meanwhile fit itself
    // to the largest picture: x 100, y 16 stays inside the video area either way.)
    EXPECT_TRUE(pumpUntil(*app, [&] {
        return capture->at(8, 8) == 0xFF0000u && capture->at(24, 24) == 0x00FF00u && capture->at(100, 16) == 0x000000u;
    }));
    list().setBackground(2, 1.0f);
    EXPECT_TRUE(pumpUntil(*app, [&] { return capture->at(100, 16) == 0x0000FFu; }));
    EXPECT_EQ(capture->at(8, 8), 0xFF0000u);
}

TEST_F(PlayerAppTest, LostDeviceIsRecoveredByTheRetryTimer) {
    EXPECT_TRUE(pumpUntil(*app, [&] { return capture->at(100, 16) == 0x000000u; }));

    // A device that is gone for now: the render thread reports it, and the window's
    // attempt to restore it fails.
    gfx::SoftwareAdapter::processAdapter()->forceCondition(gfx::DeviceCondition::Removed);
    EXPECT_TRUE(pumpUntil(*app, [&] { return !app->deviceOk(); }));
    pump(*app);
    EXPECT_FALSE(app->deviceOk());

    // Once it can be reset, the 200 ms retry brings it back and drawing goes on.
    gfx::SoftwareAdapter::processAdapter()->forceCondition(gfx::DeviceCondition::Lost);
    EXPECT_TRUE(pumpUntil(*app, [&] { return app->deviceOk(); }));
    list().setBackground(1, 1.0f);
    EXPECT_TRUE(pumpUntil(*app, [&] { return capture->at(100, 16) == 0x00FF00u; }));
}

// Start-up failures: each shows its one box, without an owner, and the program ends
// with -1.
class StartupFailureTest : public ::testing::Test {
protected:
    void SetUp() override {
        shelltest::preparePlatform();
        boxes.install();
    }
    void TearDown() override { boxes.remove(); }
    void expectOneError(const char16_t* text) {
        const std::vector<BoxRecord> asked = boxes.boxes();
        ASSERT_EQ(asked.size(), 1u);
        EXPECT_EQ(asked[0].text, text);
        EXPECT_EQ(asked[0].caption, u"エラー");
        EXPECT_EQ(asked[0].type & MB_ICONMASK, MB_ICONERROR);
        EXPECT_EQ(asked[0].owner, nullptr);
    }
    shelltest::BoxAnswerer boxes;
};

TEST_F(StartupFailureTest, MainWindow) {
    Module module(nullptr, nullptr, nullptr, SW_SHOWNORMAL);
    ASSERT_TRUE(module.registerClass(u"Squatter", nullptr, std::nullopt, nullptr, nullptr, nullptr, nullptr));
    EXPECT_EQ(PlayerApp::runProgram(module), -1);
    expectOneError(PlayerApp::kMainWindowFailed);
}

const WindowApi& realWindowApi() {
    static WindowApi saved = *windowApi();
    return saved;
}

TEST_F(StartupFailureTest, WindowItems) {
    realWindowApi();
    WindowApi refusing = realWindowApi();
    refusing.CreateWindowEx = [](DWORD ex, LPCWSTR cls, LPCWSTR name, DWORD style, int x, int y, int w, int h,
                                 HWND parent, HMENU menu, HINSTANCE instance, void* param) -> HWND {
        if (std::u16string(cls) == u"msctls_trackbar32") return nullptr;
        return realWindowApi().CreateWindowEx(ex, cls, name, style, x, y, w, h, parent, menu, instance, param);
    };
    installWindowApi(refusing);
    int code;
    {
        Module module(nullptr, nullptr, nullptr, SW_SHOWNORMAL);
        code = PlayerApp::runProgram(module);
    }
    installWindowApi(realWindowApi());
    EXPECT_EQ(code, -1);
    expectOneError(PlayerApp::kWindowItemsFailed);
}

TEST_F(StartupFailureTest, Direct3DRuntimeMissing) {
    ASSERT_TRUE(unregisterBuiltinModule("d3d9.dll"));
    int code;
    {
        Module module(nullptr, nullptr, nullptr, SW_SHOWNORMAL);
        code = PlayerApp::runProgram(module);
    }
    registerDirect3DModule();
    EXPECT_EQ(code, -1);
    expectOneError(PlayerApp::kDirect3DFailed);
}

class RefusingRenderThread : public PlayerApp {
public:
    using PlayerApp::PlayerApp;

protected:
    bool preStart() override { return false; }
};

TEST_F(StartupFailureTest, RenderThreadStart) {
    Module module(nullptr, nullptr, nullptr, SW_SHOWNORMAL);
    RefusingRenderThread app(module);
    EXPECT_FALSE(app.initialise());
    app.shutdown();
    expectOneError(PlayerApp::kWorkerFailed);
}

TEST_F(StartupFailureTest, ConfirmedExitEndsWithZeroAndNoExtensionIsFine) {
    boxes.answer(IDYES);
    Module module(nullptr, nullptr, nullptr, SW_SHOWNORMAL);
    PlayerApp::Hooks hooks;
    bool started = false;
    hooks.started = [&](PlayerApp& app) {
        started = true;
        EXPECT_EQ(app.extensionLibrary(), nullptr);
        EXPECT_EQ(app.decodeFilterHook(), nullptr);
        PostMessageW(app.mainWindow(), WM_CLOSE, 0, 0);
    };
    EXPECT_EQ(PlayerApp::runProgram(module, std::move(hooks)), 0);
    EXPECT_TRUE(started);
    ASSERT_EQ(boxes.boxes().size(), 1u);
    EXPECT_EQ(boxes.boxes()[0].text, u"終了します。よろしいですか？");
}

// The extension library is looked for by its two names in order and its entry point is
// handed over only when it exists.
struct FakeLibraries {
    static std::vector<std::u16string>& asked() {
        static std::vector<std::u16string> names;
        return names;
    }
    static int& freed() {
        static int count = 0;
        return count;
    }
    static bool& withEntry() {
        static bool value = true;
        return value;
    }
    static void addMediaDecodeFilter(IGraphBuilder*, IBaseFilter*, uintptr_t) {}
    static LibraryTable table() {
        LibraryTable t{};
        t.loadLibrary = [](LPCWSTR name) -> HMODULE {
            asked().push_back(name);
            return std::u16string(name) == u"extcodec_x86.dll" ? reinterpret_cast<HMODULE>(uintptr_t(0x4242)) : nullptr;
        };
        t.getProcAddress = [](HMODULE, const char* name) -> FARPROC {
            if (!withEntry() || std::string(name) != "AddMediaDecodeFilter") return nullptr;
            return reinterpret_cast<FARPROC>(&addMediaDecodeFilter);
        };
        t.freeLibrary = [](HMODULE) -> BOOL {
            ++freed();
            return TRUE;
        };
        return t;
    }
};

class ExtensionTest : public shelltest::ShellTest {
protected:
    std::unique_ptr<PlayerApp> makeApp() override {
        FakeLibraries::asked().clear();
        FakeLibraries::freed() = 0;
        auto made = std::make_unique<PlayerApp>(*module);
        made->setLibraryTable(FakeLibraries::table());
        return made;
    }
};

TEST_F(ExtensionTest, SecondNameLoadsAndItsEntryIsHandedOverUntilShutdown) {
    EXPECT_EQ(FakeLibraries::asked(), (std::vector<std::u16string>{u"extcodec.dll", u"extcodec_x86.dll"}));
    EXPECT_EQ(app->extensionLibrary(), reinterpret_cast<HMODULE>(uintptr_t(0x4242)));
    EXPECT_EQ(app->decodeFilterHook(), reinterpret_cast<FARPROC>(&FakeLibraries::addMediaDecodeFilter));
    EXPECT_EQ(FakeLibraries::freed(), 0);
    app->shutdown();
    EXPECT_EQ(FakeLibraries::freed(), 1);
}

class ExtensionWithoutEntryTest : public ExtensionTest {
protected:
    std::unique_ptr<PlayerApp> makeApp() override {
        FakeLibraries::withEntry() = false;
        return ExtensionTest::makeApp();
    }
    void TearDown() override {
        ExtensionTest::TearDown();
        FakeLibraries::withEntry() = true;
    }
};

TEST_F(ExtensionWithoutEntryTest, LibraryWithoutTheEntryIsLetGo) {
    EXPECT_EQ(app->extensionLibrary(), nullptr);
    EXPECT_EQ(app->decodeFilterHook(), nullptr);
    EXPECT_EQ(FakeLibraries::freed(), 1);
}

}  // namespace
