// The session factory's construction: its four libraries come through the library table
// (built-in stand-ins registered by the test), every entry point must resolve, start-up
// must succeed, and any failure leaves nothing loaded and raises the category-9 exception.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

#include "PostedMessages.h"
#include "framework/ComObject.h"
#include "framework/Exceptions.h"
#include "framework/InterfacePtr.h"
#include "framework/LibraryTable.h"
#include "media/MediaFoundationApi.h"
#include "media/MediaFoundationPlayerFactory.h"

namespace {

std::atomic<int> startups{0};
std::atomic<int> shutdowns{0};
std::atomic<ULONG> startupVersion{0};
std::atomic<HRESULT> startupAnswer{S_OK};

HRESULT fakeStartup(ULONG version, DWORD flags) {
    startupVersion = version;
    if (flags != 0) return E_INVALIDARG;
    ++startups;
    return startupAnswer.load();
}
HRESULT fakeShutdown() {
    ++shutdowns;
    return S_OK;
}
HRESULT fakeEntry() {
    return E_NOTIMPL;
}

void registerLibraries(const std::string& skipFunction = "") {
    for (const MediaFoundationLibrary& library : kMediaFoundationLibraries) {
        std::vector<BuiltinExport> exports;
        for (const char* name : library.functions) {
            if (!name || skipFunction == name) continue;
            if (std::string(name) == "MFStartup")
                exports.emplace_back(name, &fakeStartup);
            else if (std::string(name) == "MFShutdown")
                exports.emplace_back(name, &fakeShutdown);
            else
                exports.emplace_back(name, &fakeEntry);
        }
        registerBuiltinModule(library.name, std::move(exports));
    }
}

void unregisterLibraries() {
    for (const MediaFoundationLibrary& library : kMediaFoundationLibraries) unregisterBuiltinModule(library.name);
}

// Whether the factory still holds a library: our own extra load is the only one left if not.
bool stillLoadedBeyond(HMODULE ours) {
    bool first = freeLibrary(ours);   // gives back our reference
    bool second = freeLibrary(ours);  // succeeds only if someone else still holds one
    return first && second;
}

class CountedEvent : public ComObject<IUnknown> {
public:
    static inline std::atomic<int> alive{0};
    CountedEvent() { ++alive; }
    ~CountedEvent() override { --alive; }
};

class MediaFoundationFactoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        startups = shutdowns = 0;
        startupAnswer = S_OK;
        fakegraph::installRecordingWindowApi();
    }
    void TearDown() override {
        unregisterLibraries();
        uninstallWindowApi();
    }
};

TEST_F(MediaFoundationFactoryTest, StartsAndShutsDownTheSessionLibraries) {
    registerLibraries();
    {
        MediaFoundationPlayerFactory factory(reinterpret_cast<HWND>(1), 640, 480);
        EXPECT_EQ(startups, 1);
        EXPECT_EQ(startupVersion, 0x10070u);
        EXPECT_NE(MediaFoundationApi::function("DXVA2CreateDirect3DDeviceManager9"), nullptr);
        EXPECT_EQ(factory.setCompositor(nullptr), 1);

        // No session player yet: null and no completion message, so the caller goes on
        // to the filter-graph factory at once.
        EXPECT_EQ(factory.open(u"clip.mp4", MoviePlayerFactory::OpenCustomPresenter, 9), nullptr);
        EXPECT_TRUE(fakegraph::postedMessages(MediaFoundationPlayerFactory::kMediaReadyMessage).empty());

        // A session event for a player the factory does not know is released.
        InterfacePtr<IUnknown> event(new CountedEvent);
        event->AddRef();  // the reference the message hands over
        EXPECT_EQ(factory.onSessionEvent(0x1404, 0, reinterpret_cast<LPARAM>(event.get())), 0);
        EXPECT_EQ(factory.onSessionEvent(0x1403, 1234, reinterpret_cast<LPARAM>(event.get())), 1);
        event.reset();
        EXPECT_EQ(CountedEvent::alive, 0);
        EXPECT_EQ(shutdowns, 0);
    }
    EXPECT_EQ(shutdowns, 1);
    HMODULE mf = loadLibrary(u"mf.dll");
    ASSERT_NE(mf, nullptr);
    EXPECT_FALSE(stillLoadedBeyond(mf));
}

TEST_F(MediaFoundationFactoryTest, FailuresRaiseCategoryNineAndUnloadEverything) {
    struct Case {
        const char* what;
        std::string skipFunction;
        bool dropLibrary;
        HRESULT startup;
        HRESULT expected;
    };
    const Case cases[] = {
        {"a missing library", "", true, S_OK, E_NOTIMPL},
        {"a missing function", "MFCreateVideoSampleFromSurface", false, S_OK, E_NOTIMPL},
        {"start-up refused", "", false, E_OUTOFMEMORY, E_OUTOFMEMORY},
    };
    for (const Case& c : cases) {
        registerLibraries(c.skipFunction);
        if (c.dropLibrary) unregisterBuiltinModule(u"dxva2.dll");
        startupAnswer = c.startup;
        HMODULE mf = loadLibrary(u"mf.dll");
        ASSERT_NE(mf, nullptr) << c.what;
        bool raised = false;
        try {
            MediaFoundationPlayerFactory factory(reinterpret_cast<HWND>(1), 640, 480);
        } catch (const directx_exception& e) {
            raised = true;
            EXPECT_EQ(e.code(), c.expected) << c.what;
            EXPECT_EQ(std::u16string(e.message()), u"MediaFoundationInitializeException") << c.what;
        }
        EXPECT_TRUE(raised) << c.what;
        EXPECT_EQ(shutdowns, 0) << c.what;
        EXPECT_FALSE(stillLoadedBeyond(mf)) << c.what;
        unregisterLibraries();
    }
}

}  // namespace
