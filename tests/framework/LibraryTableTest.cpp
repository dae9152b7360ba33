#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <thread>
#include <vector>

#include "framework/LibraryTable.h"
#include "framework/WideString.h"
#include "tests/support/TestSupport.h"

namespace {

int builtinTwice(int x) {
    return 2 * x;
}
int builtinNegate(int x) {
    return -x;
}

using IntFunction = int (*)(int);

std::filesystem::path testDirectory() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

std::filesystem::path pluginPath() {
    return testDirectory() / "liblayerdecktestplugin.so";
}

// Whether the loader still has the library mapped (asking does not load it).
bool isMapped(const std::filesystem::path& p) {
    void* h = dlopen(p.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h != nullptr;
}

TEST(LibraryTable, BuiltinModulesResolveWithoutCaseAndCountReferences) {
    ASSERT_TRUE(registerBuiltinModule("Test-Builtin.DLL", {{"Twice", &builtinTwice}, {"Negate", &builtinNegate}}));
    HMODULE a = loadLibrary(u"test-builtin.dll");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(loadLibrary(u"TEST-BUILTIN"), a) << "no extension means .dll, and the same module";
    auto twice = reinterpret_cast<IntFunction>(getProcAddress(a, "Twice"));
    ASSERT_NE(twice, nullptr);
    EXPECT_EQ(twice(21), 42);
    EXPECT_EQ(getProcAddress(a, "twice"), nullptr) << "export names keep their case";
    EXPECT_EQ(getProcAddress(a, "Missing"), nullptr);

    // Unregistering stops new loads but not the handles already given out.
    EXPECT_TRUE(unregisterBuiltinModule("TEST-builtin.dll"));
    EXPECT_FALSE(unregisterBuiltinModule("test-builtin.dll"));
    EXPECT_EQ(loadLibrary(u"test-builtin.dll"), nullptr);
    EXPECT_NE(getProcAddress(a, "Negate"), nullptr);

    EXPECT_TRUE(freeLibrary(a));
    EXPECT_NE(getProcAddress(a, "Negate"), nullptr) << "one reference left";
    EXPECT_TRUE(freeLibrary(a));
    EXPECT_EQ(getProcAddress(a, "Negate"), nullptr);
    EXPECT_FALSE(freeLibrary(a));
}

TEST(LibraryTable, ReregisteringReplacesTheExports) {
    ASSERT_TRUE(registerBuiltinModule(u"swap.dll", {{"F", &builtinTwice}}));
    HMODULE before = loadLibrary(u"swap.dll");
    ASSERT_TRUE(registerBuiltinModule(u"swap.dll", {{"F", &builtinNegate}}));
    EXPECT_EQ(reinterpret_cast<IntFunction>(getProcAddress(before, "F"))(3), 6) << "loaded with the old exports";
    EXPECT_TRUE(freeLibrary(before));
    HMODULE after = loadLibrary(u"swap.dll");
    EXPECT_EQ(reinterpret_cast<IntFunction>(getProcAddress(after, "F"))(3), -3);
    EXPECT_TRUE(freeLibrary(after));
    EXPECT_FALSE(registerBuiltinModule("", {}));
    EXPECT_FALSE(registerBuiltinModule("dir/x.dll", {}));
    unregisterBuiltinModule("swap.dll");
}

TEST(LibraryTable, RealLibraryByPlatformName) {
    ASSERT_TRUE(std::filesystem::exists(pluginPath())) << pluginPath();
    HMODULE a = loadLibrary(u"layerdecktestplugin.dll");
    ASSERT_NE(a, nullptr);
    auto answer = reinterpret_cast<IntFunction>(getProcAddress(a, "layerdeckPluginAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(20), 41);
    EXPECT_EQ(getProcAddress(a, "noSuchExport"), nullptr);

    const LibraryTable& t = systemLibraryTable();
    HMODULE c = t.loadLibrary(u"layerdecktestplugin");
    EXPECT_EQ(c, a) << "the same library, counted twice";
    EXPECT_TRUE(t.freeLibrary(c));
    EXPECT_TRUE(isMapped(pluginPath()));
    EXPECT_TRUE(freeLibrary(a));
    EXPECT_FALSE(isMapped(pluginPath())) << "the last reference unloads it";
    EXPECT_FALSE(freeLibrary(a));
}

TEST(LibraryTable, PathsMapTheDllSuffix) {
    testsupport::TempDir dir;
    std::filesystem::copy_file(pluginPath(), dir / "copied.so");
    std::filesystem::copy_file(pluginPath(), dir / "libprefixed.so");
    for (const char* name : {"copied.dll", "prefixed.dll", "copied.so"}) {
        HMODULE h = loadLibrary(fromUtf8((dir / name).string()));
        ASSERT_NE(h, nullptr) << name;
        EXPECT_NE(getProcAddress(h, "layerdeckPluginAnswer"), nullptr);
        EXPECT_TRUE(freeLibrary(h));
    }
    EXPECT_EQ(loadLibrary(fromUtf8((dir / "absent.dll").string())), nullptr);
}

TEST(LibraryTable, BadNamesAndHandlesFailCleanly) {
    EXPECT_EQ(loadLibrary(static_cast<LPCWSTR>(nullptr)), nullptr);
    EXPECT_EQ(loadLibrary(u""), nullptr);
    EXPECT_EQ(loadLibrary(u"no-such-library-anywhere.dll"), nullptr);
    EXPECT_EQ(loadLibrary(std::u16string_view(u"layerdecktestplugin\0.dll", 24)), nullptr) << "embedded NUL";
    int notAModule = 0;
    HMODULE bogus = reinterpret_cast<HMODULE>(&notAModule);
    EXPECT_FALSE(freeLibrary(nullptr));
    EXPECT_FALSE(freeLibrary(bogus));
    EXPECT_EQ(getProcAddress(bogus, "x"), nullptr);
    registerBuiltinModule("ordinal.dll", {{"F", &builtinTwice}});
    HMODULE h = loadLibrary(u"ordinal.dll");
    EXPECT_EQ(getProcAddress(h, nullptr), nullptr);
    EXPECT_EQ(getProcAddress(h, reinterpret_cast<const char*>(uintptr_t(3))), nullptr) << "ordinals are not exports";
    freeLibrary(h);
    unregisterBuiltinModule("ordinal.dll");
}

TEST(LibraryTable, ConcurrentLoadsAndFrees) {
    registerBuiltinModule("shared.dll", {{"F", &builtinTwice}});
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 200; ++i) {
                HMODULE h = loadLibrary(t % 2 ? u"shared.dll" : u"layerdecktestplugin.dll");
                ASSERT_NE(h, nullptr);
                EXPECT_NE(getProcAddress(h, t % 2 ? "F" : "layerdeckPluginAnswer"), nullptr);
                EXPECT_TRUE(freeLibrary(h));
            }
        });
    for (auto& th : threads) th.join();
    EXPECT_FALSE(isMapped(pluginPath()));
    unregisterBuiltinModule("shared.dll");
}

}  // namespace
