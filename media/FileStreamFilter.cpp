#include "media/FileStreamFilter.h"

#include "framework/ComUser.h"
#include "framework/dshow/MediaGuids.h"
#include "framework/dshow/MediaType.h"
#include "media/ContainerFormatTable.h"

FileStreamFilter::FileStreamFilter(const StreamCallbacks& callbacks, HRESULT* phr)
    : CBaseFilter(kName, &lock_, CLSID_FileStreamFilter, phr),
      file_(callbacks),
      reader_(file_),
      pin_(this, &lock_, file_, reader_, phr) {}

FileStreamFilter::~FileStreamFilter() = default;

HRESULT FileStreamFilter::queryOther(REFIID riid, void** ppv) {
    if (riid == IFileSourceFilter::iid) {
        *ppv = static_cast<IFileSourceFilter*>(this);
        AddRef();
        return S_OK;
    }
    return CBaseFilter::queryOther(riid, ppv);
}

HRESULT FileStreamFilter::Load(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) {
    if (!pszFileName) return E_POINTER;
    ScopedLock lock(lock_);
    if (loaded_) return E_FAIL;
    CMediaType type;
    if (pmt) {
        HRESULT hr = type.Set(*pmt);
        if (FAILED(hr)) return hr;
    }
    if (!file_.open(pszFileName)) return E_INVALIDARG;
    fileName_ = pszFileName;
    if (!pmt) {
        type.InitMediaType();
        type.SetType(&MEDIATYPE_Stream);
        GUID subtype = ContainerFormatTable::subtypeForExtension(file_.extension());
        type.SetSubtype(&subtype);
        type.SetSampleSize(1);
    }
    announced_ = type;
    loaded_ = true;
    pin_.IncrementTypeVersion();
    return S_OK;
}

HRESULT FileStreamFilter::GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) {
    if (!ppszFileName) return E_POINTER;
    *ppszFileName = nullptr;
    ScopedLock lock(lock_);
    if (!loaded_) return E_FAIL;
    size_t bytes = (fileName_.size() + 1) * sizeof(char16_t);
    auto* copy = static_cast<char16_t*>(CoTaskMemAlloc(bytes));
    if (!copy) return E_OUTOFMEMORY;
    fileName_.copy(copy, fileName_.size());
    copy[fileName_.size()] = 0;
    if (pmt) {
        HRESULT hr = CopyMediaType(pmt, &announced_);
        if (FAILED(hr)) {
            CoTaskMemFree(copy);
            return hr;
        }
    }
    *ppszFileName = copy;
    return S_OK;
}

bool FileStreamFilter::isLoaded() {
    ScopedLock lock(lock_);
    return loaded_;
}

bool FileStreamFilter::announcedType(CMediaType* type) {
    ScopedLock lock(lock_);
    if (!loaded_) return false;
    return SUCCEEDED(type->Set(announced_));
}
