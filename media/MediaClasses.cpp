#include "media/MediaClasses.h"

#include <new>

#include "framework/ComUser.h"
#include "framework/InterfacePtr.h"
#include "media/FileStreamFilter.h"
#include "media/SurfaceRenderer.h"
#include "media/TextureRenderer.h"
#include "media/Yv12ToRgb32Filter.h"
#include "splitters/MbcSplitter.h"

namespace {

// A file source over the operating system's files.
HRESULT createFileStreamFilter(REFIID riid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    HRESULT hr = S_OK;
    InterfacePtr<FileStreamFilter> filter(new (std::nothrow) FileStreamFilter(systemFileCallbacks(), &hr));
    if (!filter) return E_OUTOFMEMORY;
    if (FAILED(hr)) return hr;
    return filter->QueryInterface(riid, out);
}

}  // namespace

void registerMediaClasses() {
    registerComClass(CLSID_FileStreamFilter, &createFileStreamFilter);
    registerComClass(MbcSplitter::kClassId, &MbcSplitter::create);
    registerComClass(SurfaceRenderer::kClassId,
                     [](REFIID riid, void** out) { return SurfaceRenderer::create(riid, out); });
    registerComClass(TextureRenderer::kClassId,
                     [](REFIID riid, void** out) { return TextureRenderer::create(riid, out); });
    registerComClass(Yv12ToRgb32Filter::kClassId, &Yv12ToRgb32Filter::create);
}
