#pragma once
// Run-time loading of optional libraries by their platform names ("d3d9.dll",
// "extcodec.dll"). A name first resolves among the built-in modules that the platform
// layers register at start-up (so the loading code and its failure paths run unchanged,
// and a test can make a module "missing" by unregistering it); any other name is a real
// shared library found through the dynamic loader, with ".dll" read as ".so".
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "framework/WinTypes.h"

// Address of an exported function; cast it to the function's real type before calling.
using FARPROC = void (*)();

struct BuiltinExport {
    std::string name;
    FARPROC address = nullptr;

    template <class R, class... A>
    BuiltinExport(std::string exportName, R (*function)(A...))
        : name(std::move(exportName)), address(reinterpret_cast<FARPROC>(function)) {}
};

// Adds (or replaces) a built-in module; names compare without case. False for an empty
// name. Handles already loaded keep the exports they were loaded with.
bool registerBuiltinModule(std::u16string_view name, std::vector<BuiltinExport> exports);
bool registerBuiltinModule(std::string_view name, std::vector<BuiltinExport> exports);
// False when no such module was registered. Later loads of the name fail (unless a real
// library of that name exists); handles already loaded stay valid.
bool unregisterBuiltinModule(std::u16string_view name);
bool unregisterBuiltinModule(std::string_view name);

// Loads by name, counting references per library: loading a library that is already
// loaded returns the same handle. Names without a directory search the built-in modules,
// then the executable's directory, then the system's library path, trying "libNAME.so"
// and "NAME.so" for "NAME.dll" (or for a NAME without extension); any other name is tried
// as given. A name with a "/" is a path (only its ".dll" suffix is mapped). Null when
// nothing loads.
HMODULE loadLibrary(LPCWSTR name);
HMODULE loadLibrary(std::u16string_view name);
// Null when the handle is not a loaded library or does not export the name.
FARPROC getProcAddress(HMODULE module, const char* name);
// Gives back one reference; the library is unloaded at the last one. False for a handle
// that is not loaded.
BOOL freeLibrary(HMODULE module);

// The three module functions as one table, for code that loads through whatever table it
// was given (tests substitute their own).
struct LibraryTable {
    HMODULE (*loadLibrary)(LPCWSTR name);
    FARPROC (*getProcAddress)(HMODULE module, const char* name);
    BOOL (*freeLibrary)(HMODULE module);
};

// The table filled with the functions above.
const LibraryTable& systemLibraryTable();
