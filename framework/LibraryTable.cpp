#include "framework/LibraryTable.h"

#include <dlfcn.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <mutex>

#include "framework/PathUtils.h"
#include "framework/WideString.h"

namespace {

// One loaded library; its address is the handle given out.
struct LoadedLibrary {
    std::u16string builtinKey;           // lower-cased name of a built-in module
    std::vector<BuiltinExport> exports;  // a built-in module's exports, as loaded
    void* dl = nullptr;                  // a real library's loader handle
    uint32_t refs = 1;
};

struct Registry {
    std::mutex mutex;
    std::map<std::u16string, std::vector<BuiltinExport>> builtins;
    std::vector<LoadedLibrary*> loaded;

    LoadedLibrary* find(HMODULE module) {
        auto* lib = reinterpret_cast<LoadedLibrary*>(module);
        auto it = std::find(loaded.begin(), loaded.end(), lib);
        return it == loaded.end() ? nullptr : *it;
    }
};

// Never destroyed: libraries may be freed from static destructors of other objects.
Registry& registry() {
    static Registry* r = new Registry;
    return *r;
}

std::u16string lowered(std::u16string_view name) {
    std::u16string key(name);
    for (auto& c : key) c = lowerCaseUnit(c);
    return key;
}

bool endsWithDll(std::string_view name) {
    if (name.size() < 4) return false;
    std::string_view tail = name.substr(name.size() - 4);
    return tail[0] == '.' && (tail[1] | 0x20) == 'd' && (tail[2] | 0x20) == 'l' && (tail[3] | 0x20) == 'l';
}

const std::string& executableDirectory() {
    static const std::string dir = [] {
        std::string buf(4096, '\0');
        ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size());
        if (n <= 0 || static_cast<size_t>(n) >= buf.size()) return std::string();
        buf.resize(static_cast<size_t>(n));
        size_t slash = buf.rfind('/');
        return slash == std::string::npos ? std::string() : buf.substr(0, slash + 1);
    }();
    return dir;
}

// The file names a platform library name may have here, in search order.
std::vector<std::string> candidatesFor(const std::string& name) {
    std::vector<std::string> out;
    size_t slash = name.rfind('/');
    if (slash != std::string::npos) {
        if (endsWithDll(name)) {
            std::string stem = name.substr(0, name.size() - 4);
            out.push_back(stem + ".so");
            out.push_back(name.substr(0, slash + 1) + "lib" + stem.substr(slash + 1) + ".so");
        } else {
            out.push_back(name);
        }
        return out;
    }
    std::vector<std::string> files;
    if (endsWithDll(name) || name.find('.') == std::string::npos) {
        std::string stem = endsWithDll(name) ? name.substr(0, name.size() - 4) : name;
        files = {"lib" + stem + ".so", stem + ".so"};
    } else {
        files = {name};
    }
    // The executable's directory first, as the platform's search order has it; a bare
    // name then goes through the loader's own path (never the current directory).
    const std::string& exeDir = executableDirectory();
    if (!exeDir.empty())
        for (const auto& f : files) out.push_back(exeDir + f);
    for (const auto& f : files) out.push_back(f);
    return out;
}

HMODULE loadBuiltin(Registry& reg, std::u16string_view name) {
    std::u16string key = lowered(name);
    auto it = reg.builtins.find(key);
    if (it == reg.builtins.end() && extensionOf(key) == std::nullopt) {
        key += u".dll";  // the platform appends ".dll" to a name without extension
        it = reg.builtins.find(key);
    }
    if (it == reg.builtins.end()) return nullptr;
    for (auto* lib : reg.loaded) {
        if (!lib->dl && lib->builtinKey == key) {
            ++lib->refs;
            return reinterpret_cast<HMODULE>(lib);
        }
    }
    auto* lib = new LoadedLibrary;
    lib->builtinKey = key;
    lib->exports = it->second;
    reg.loaded.push_back(lib);
    return reinterpret_cast<HMODULE>(lib);
}

}  // namespace

bool registerBuiltinModule(std::u16string_view name, std::vector<BuiltinExport> exports) {
    if (name.empty() || name.find(u'/') != std::u16string_view::npos) return false;
    Registry& reg = registry();
    std::lock_guard lock(reg.mutex);
    reg.builtins[lowered(name)] = std::move(exports);
    return true;
}

bool registerBuiltinModule(std::string_view name, std::vector<BuiltinExport> exports) {
    return registerBuiltinModule(fromUtf8(name), std::move(exports));
}

bool unregisterBuiltinModule(std::u16string_view name) {
    Registry& reg = registry();
    std::lock_guard lock(reg.mutex);
    return reg.builtins.erase(lowered(name)) > 0;
}

bool unregisterBuiltinModule(std::string_view name) {
    return unregisterBuiltinModule(fromUtf8(name));
}

HMODULE loadLibrary(std::u16string_view name) {
    if (name.empty() || name.find(u'\0') != std::u16string_view::npos) return nullptr;
    Registry& reg = registry();
    if (name.find(u'/') == std::u16string_view::npos) {
        std::lock_guard lock(reg.mutex);
        if (HMODULE builtin = loadBuiltin(reg, name)) return builtin;
    }

    // The loader runs the library's initialisers, which may load further libraries:
    // never call it with the registry locked.
    void* dl = nullptr;
    for (const auto& candidate : candidatesFor(toUtf8(name))) {
        dl = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (dl) break;
    }
    if (!dl) return nullptr;

    HMODULE result = nullptr;
    bool extraLoaderReference = false;
    {
        std::lock_guard lock(reg.mutex);
        for (auto* lib : reg.loaded) {
            if (lib->dl == dl) {
                // Already loaded under another name or by another thread: one loader
                // reference per entry, the count is ours.
                ++lib->refs;
                extraLoaderReference = true;
                result = reinterpret_cast<HMODULE>(lib);
                break;
            }
        }
        if (!result) {
            auto* lib = new LoadedLibrary;
            lib->dl = dl;
            reg.loaded.push_back(lib);
            result = reinterpret_cast<HMODULE>(lib);
        }
    }
    if (extraLoaderReference) dlclose(dl);
    return result;
}

HMODULE loadLibrary(LPCWSTR name) {
    if (!name) return nullptr;
    return loadLibrary(std::u16string_view(name));
}

FARPROC getProcAddress(HMODULE module, const char* name) {
    // Small values are export ordinals on the platform; there are none here.
    if (reinterpret_cast<uintptr_t>(name) < 0x10000) return nullptr;
    Registry& reg = registry();
    std::lock_guard lock(reg.mutex);
    LoadedLibrary* lib = reg.find(module);
    if (!lib) return nullptr;
    if (lib->dl) return reinterpret_cast<FARPROC>(dlsym(lib->dl, name));
    for (const auto& e : lib->exports)
        if (e.name == name) return e.address;
    return nullptr;
}

BOOL freeLibrary(HMODULE module) {
    Registry& reg = registry();
    LoadedLibrary* gone = nullptr;
    {
        std::lock_guard lock(reg.mutex);
        LoadedLibrary* lib = reg.find(module);
        if (!lib) return FALSE;
        if (--lib->refs == 0) {
            reg.loaded.erase(std::find(reg.loaded.begin(), reg.loaded.end(), lib));
            gone = lib;
        }
    }
    if (gone) {
        if (gone->dl) dlclose(gone->dl);
        delete gone;
    }
    return TRUE;
}

const LibraryTable& systemLibraryTable() {
    static const LibraryTable table{static_cast<HMODULE (*)(LPCWSTR)>(&loadLibrary), &getProcAddress, &freeLibrary};
    return table;
}
