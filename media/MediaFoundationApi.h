#pragma once
// The run-time bindings of the media session libraries: one set of entry points for the
// whole process, resolved by name from the four libraries.
#include <array>
#include <string_view>

#include "framework/LibraryTable.h"
#include "framework/Result.h"
#include "framework/WinTypes.h"

struct MediaFoundationLibrary {
    std::u16string_view name;
    std::array<const char*, 9> functions;  // unused slots are null
};

// Libraries in loading order, each with its functions in lookup order.
inline constexpr std::array<MediaFoundationLibrary, 4> kMediaFoundationLibraries{{
    {u"mf.dll",
     {"MFCreateMediaSession", "MFCreateTopology", "MFCreateTopologyNode", "MFCreateAudioRendererActivate",
      "MFCreateVideoRendererActivate", "MFCreateVideoRenderer", nullptr, nullptr, nullptr}},
    {u"mfplat.dll",
     {"MFStartup", "MFShutdown", "MFCreateFile", "MFCreateSourceResolver", "MFCreateAttributes", "MFCreateAsyncResult",
      "MFCreateMediaType", "MFInvokeCallback", "MFFrameRateToAverageTimePerFrame"}},
    {u"evr.dll",
     {"MFCreateVideoSampleFromSurface", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}},
    {u"dxva2.dll",
     {"DXVA2CreateDirect3DDeviceManager9", nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr}},
}};

using MFStartupFunction = HRESULT (*)(ULONG version, DWORD flags);
using MFShutdownFunction = HRESULT (*)();

class MediaFoundationApi {
public:
    // Looks every function up in modules (one per library, in table order); E_NOTIMPL and
    // nothing changed when one is missing.
    static HRESULT bind(const LibraryTable& table, const HMODULE* modules);
    // The bound address of a function, or null.
    static FARPROC function(std::string_view name);
    static MFStartupFunction startup();
    static MFShutdownFunction shutdown();
};
