#include <dlfcn.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "framework/ComObject.h"
#include "framework/ComUser.h"
#include "framework/LibraryTable.h"

namespace {

std::filesystem::path pluginPath() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path() / "liblayerdecktestplugin.so";
}

bool isMapped(const std::filesystem::path& p) {
    void* h = dlopen(p.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h != nullptr;
}

TEST(ComUser, TwoAcquiresAndOneReleaseLeaveComInitialised) {
    ASSERT_EQ(ComUser::referenceCount(), 0u);
    EXPECT_FALSE(ComUser::isInitialised());
    {
        ComUser first(true);
        {
            ComUser second(false);
            EXPECT_EQ(ComUser::referenceCount(), 2u);
            EXPECT_EQ(ComUser::apartment(), COINIT_MULTITHREADED) << "later references change nothing";
        }
        EXPECT_TRUE(ComUser::isInitialised());
        EXPECT_EQ(ComUser::referenceCount(), 1u);
    }
    EXPECT_FALSE(ComUser::isInitialised());
    EXPECT_EQ(ComUser::referenceCount(), 0u);
    EXPECT_FALSE(ComUser::release()) << "nothing to give back";
    EXPECT_EQ(ComUser::referenceCount(), 0u);

    ComUser apartment(false);
    EXPECT_EQ(ComUser::apartment(), COINIT_APARTMENTTHREADED);
}

TEST(ComUser, ConcurrentReferencesEndUninitialised) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 2000; ++i) {
                ComUser user;
                EXPECT_TRUE(ComUser::isInitialised());
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(ComUser::referenceCount(), 0u);
    EXPECT_FALSE(ComUser::isInitialised());
}

TEST(ComUser, LastReleaseUnloadsServersThatAgree) {
    HMODULE plugin = loadLibrary(u"layerdecktestplugin.dll");
    ASSERT_NE(plugin, nullptr);
    EXPECT_FALSE(ComUser::addServerLibrary(plugin)) << "not initialised";
    auto setAnswer = reinterpret_cast<void (*)(int)>(getProcAddress(plugin, "layerdeckPluginSetUnloadAnswer"));
    ASSERT_NE(setAnswer, nullptr);
    setAnswer(S_FALSE);

    registerBuiltinModule("noexport.dll", {});
    HMODULE silent = loadLibrary(u"noexport.dll");
    {
        ComUser user;
        EXPECT_TRUE(ComUser::addServerLibrary(plugin));
        EXPECT_TRUE(ComUser::addServerLibrary(loadLibrary(u"layerdecktestplugin.dll")));  // listed once
        EXPECT_TRUE(ComUser::addServerLibrary(silent));
        EXPECT_EQ(ComUser::serverLibraryCount(), 2u);
    }
    EXPECT_TRUE(ComUser::isServerLibrary(plugin)) << "busy: stays loaded and listed";
    EXPECT_TRUE(isMapped(pluginPath()));

    setAnswer(S_OK);
    { ComUser again; }
    EXPECT_FALSE(ComUser::isServerLibrary(plugin));
    EXPECT_FALSE(isMapped(pluginPath())) << "both references were given back";
    EXPECT_TRUE(ComUser::isServerLibrary(silent)) << "without DllCanUnloadNow it stays";
}

struct IOther : IUnknown {
    static constexpr GUID iid = guidOf("{0D9E1F2A-3B4C-4D5E-8F60-718293A4B5C7}");
};

const GUID CLSID_Probe = guidOf("{5B0C2E1A-7F3D-4B8E-9A61-2C4D6E8F0A13}");
const GUID CLSID_Outer = guidOf("{5B0C2E1A-7F3D-4B8E-9A61-2C4D6E8F0A14}");

struct IProbe : IUnknown {
    static constexpr GUID iid = guidOf("{0D9E1F2A-3B4C-4D5E-8F60-718293A4B5C6}");
    virtual int value() = 0;
};

std::atomic<int> liveProbes{0};

class Probe : public ComObject<IProbe> {
public:
    Probe() { ++liveProbes; }
    ~Probe() override { --liveProbes; }
    int value() override { return 17; }
};

TEST(CoCreateInstance, CreatesRegisteredClassesOnly) {
    IProbe* probe = reinterpret_cast<IProbe*>(1);
    EXPECT_EQ(CoCreateInstance(CLSID_Probe, nullptr, CLSCTX_INPROC_SERVER, &probe), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(probe, nullptr);
    EXPECT_EQ(CoCreateInstance(CLSID_Probe, nullptr, CLSCTX_INPROC_SERVER, IProbe::iid, nullptr), E_POINTER);

    ASSERT_TRUE(registerComClass(CLSID_Probe, &createComObject<Probe>));
    EXPECT_FALSE(registerComClass(CLSID_Outer, nullptr));
    ASSERT_EQ(CoCreateInstance(CLSID_Probe, nullptr, CLSCTX_INPROC_SERVER, &probe), S_OK);
    EXPECT_EQ(probe->value(), 17);
    EXPECT_EQ(probe->Release(), 0u) << "the caller holds the only reference";
    EXPECT_EQ(liveProbes.load(), 0);

    IUnknown* outer = reinterpret_cast<IUnknown*>(&probe);
    EXPECT_EQ(CoCreateInstance(CLSID_Probe, outer, CLSCTX_INPROC_SERVER, &probe), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(CoCreateInstance(CLSID_Probe, nullptr, CLSCTX_LOCAL_SERVER, &probe), REGDB_E_CLASSNOTREG);
    IOther* other = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_Probe, nullptr, CLSCTX_ALL, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(liveProbes.load(), 0) << "the object made for a refused interface is gone";

    EXPECT_TRUE(unregisterComClass(CLSID_Probe));
    EXPECT_FALSE(unregisterComClass(CLSID_Probe));
    EXPECT_EQ(CoCreateInstance(CLSID_Probe, nullptr, CLSCTX_INPROC_SERVER, &probe), REGDB_E_CLASSNOTREG);
}

TEST(CoCreateInstance, CreationFunctionsMayNestAndMisbehave) {
    // A class whose creation makes another through the same registry.
    registerComClass(CLSID_Probe, &createComObject<Probe>);
    registerComClass(CLSID_Outer, [](REFIID riid, void** out) {
        return CoCreateInstance(CLSID_Probe, nullptr, CLSCTX_INPROC_SERVER, riid, out);
    });
    IProbe* probe = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_Outer, nullptr, CLSCTX_INPROC_SERVER, &probe), S_OK);
    probe->Release();

    registerComClass(CLSID_Outer, [](REFIID, void**) { return S_OK; });
    EXPECT_EQ(CoCreateInstance(CLSID_Outer, nullptr, CLSCTX_INPROC_SERVER, &probe), E_FAIL) << "success with nothing";
    registerComClass(CLSID_Outer, [](REFIID, void**) -> HRESULT { throw std::bad_alloc(); });
    EXPECT_EQ(CoCreateInstance(CLSID_Outer, nullptr, CLSCTX_INPROC_SERVER, &probe), E_OUTOFMEMORY);
    unregisterComClass(CLSID_Outer);
    unregisterComClass(CLSID_Probe);
}

}  // namespace
