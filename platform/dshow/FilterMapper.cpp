#include "platform/dshow/FilterMapper.h"

#include <cstring>
#include <new>

#include "framework/ComUser.h"
#include "framework/InterfacePtr.h"
#include "framework/WideString.h"
#include "framework/dshow/DshowErrors.h"

namespace {

constexpr HRESULT DISP_E_TYPEMISMATCH = makeResult(0x80020005);
// Filters register under this category in the system's device enumeration.
constexpr const char* kLegacyFilterCategory = "{083863F1-70DE-11D0-BD40-00A0C911CE86}";

std::u16string clsidText(const CLSID& clsid) {
    return fromUtf8(guidToString(clsid));
}

template <class T, class... Args>
HRESULT handOut(T** out, Args&&... args) {
    T* object = new (std::nothrow) T(std::forward<Args>(args)...);
    if (!object) return E_OUTOFMEMORY;
    object->AddRef();
    *out = object;
    return S_OK;
}

std::vector<RegisteredPinType> typePairs(DWORD count, const GUID* pairs) {
    std::vector<RegisteredPinType> out;
    out.reserve(count);
    for (DWORD i = 0; i < count; ++i) out.push_back({pairs[2 * i], pairs[2 * i + 1]});
    return out;
}

}  // namespace

HRESULT FilterPropertyBag::Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog*) {
    if (!pszPropName || !pVar) return E_POINTER;
    std::u16string_view name(pszPropName);
    std::u16string value;
    if (name == u"FriendlyName")
        value = registration_.name;
    else if (name == u"CLSID")
        value = clsidText(registration_.clsid);
    else
        return E_INVALIDARG;
    if (pVar->vt != VT_EMPTY && pVar->vt != VT_BSTR) return DISP_E_TYPEMISMATCH;
    BSTR text = SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
    if (!text) return E_OUTOFMEMORY;
    pVar->vt = VT_BSTR;
    pVar->bstrVal = text;
    return S_OK;
}

HRESULT FilterPropertyBag::Write(LPCOLESTR, VARIANT*) {
    return E_ACCESSDENIED;
}

HRESULT FilterMoniker::BindToObject(IBindCtx*, IMoniker*, REFIID riidResult, void** ppvResult) {
    if (!ppvResult) return E_POINTER;
    *ppvResult = nullptr;
    return CoCreateInstance(registration_.clsid, nullptr, CLSCTX_INPROC_SERVER, riidResult, ppvResult);
}

HRESULT FilterMoniker::BindToStorage(IBindCtx*, IMoniker*, REFIID riid, void** ppvObj) {
    if (!ppvObj) return E_POINTER;
    *ppvObj = nullptr;
    if (riid != IPropertyBag::iid) return E_NOINTERFACE;
    FilterPropertyBag* bag = nullptr;
    HRESULT hr = handOut(&bag, registration_);
    if (FAILED(hr)) return hr;
    *ppvObj = static_cast<IPropertyBag*>(bag);
    return S_OK;
}

HRESULT FilterMoniker::GetDisplayName(IBindCtx*, IMoniker*, LPOLESTR* ppszDisplayName) {
    if (!ppszDisplayName) return E_POINTER;
    std::u16string text = u"@device:sw:" + fromUtf8(kLegacyFilterCategory) + u"\\" + clsidText(registration_.clsid);
    auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
    if (!out) return E_OUTOFMEMORY;
    std::memcpy(out, text.c_str(), (text.size() + 1) * sizeof(OLECHAR));
    *ppszDisplayName = out;
    return S_OK;
}

HRESULT MonikerEnumerator::Next(ULONG celt, IMoniker** rgelt, ULONG* pceltFetched) {
    if (!rgelt || (celt > 1 && !pceltFetched)) return E_POINTER;
    ULONG fetched = 0;
    while (fetched < celt && position_ < entries_.size()) {
        FilterMoniker* moniker = nullptr;
        HRESULT hr = handOut(&moniker, entries_[position_]);
        if (SUCCEEDED(hr)) rgelt[fetched] = moniker;
        if (FAILED(hr)) {
            for (ULONG i = 0; i < fetched; ++i) rgelt[i]->Release();
            if (pceltFetched) *pceltFetched = 0;
            return hr;
        }
        ++fetched;
        ++position_;
    }
    if (pceltFetched) *pceltFetched = fetched;
    return fetched == celt ? S_OK : S_FALSE;
}

HRESULT MonikerEnumerator::Skip(ULONG celt) {
    size_t left = entries_.size() - position_;
    if (celt > left) {
        position_ = entries_.size();
        return S_FALSE;
    }
    position_ += celt;
    return S_OK;
}

HRESULT MonikerEnumerator::Reset() {
    position_ = 0;
    return S_OK;
}

HRESULT MonikerEnumerator::Clone(IEnumMoniker** ppenum) {
    if (!ppenum) return E_POINTER;
    *ppenum = nullptr;
    MonikerEnumerator* copy = nullptr;
    HRESULT hr = handOut(&copy, entries_, position_);
    if (SUCCEEDED(hr)) *ppenum = copy;
    return hr;
}

HRESULT FilterMapper::CreateCategory(REFCLSID, DWORD, LPCWSTR) {
    return S_OK;
}

HRESULT FilterMapper::UnregisterFilter(const CLSID*, LPCOLESTR, REFCLSID Filter) {
    return FilterRegistry::instance().unregisterFilter(Filter) ? S_OK : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
}

HRESULT FilterMapper::RegisterFilter(REFCLSID clsidFilter, LPCWSTR Name, IMoniker** ppMoniker, const CLSID*, LPCOLESTR,
                                     const REGFILTER2* prf2) {
    if (!Name || !prf2) return E_POINTER;
    if (prf2->dwVersion != 2 || (prf2->cPins2 && !prf2->rgPins2)) return E_INVALIDARG;
    FilterRegistration r;
    r.clsid = clsidFilter;
    r.name = Name;
    r.merit = prf2->dwMerit;
    for (ULONG i = 0; i < prf2->cPins2; ++i) {
        const REGFILTERPINS2& p = prf2->rgPins2[i];
        if (p.nMediaTypes && !p.lpMediaType) return E_INVALIDARG;
        RegisteredPin pin;
        pin.output = (p.dwFlags & REG_PINFLAG_B_OUTPUT) != 0;
        pin.rendered = (p.dwFlags & REG_PINFLAG_B_RENDERER) != 0;
        for (UINT t = 0; t < p.nMediaTypes; ++t) {
            const REGPINTYPES& rt = p.lpMediaType[t];
            pin.types.push_back(
                {rt.clsMajorType ? *rt.clsMajorType : GUID_NULL, rt.clsMinorType ? *rt.clsMinorType : GUID_NULL});
        }
        r.pins.push_back(std::move(pin));
    }
    if (!FilterRegistry::instance().registerFilter(r)) return E_INVALIDARG;
    if (ppMoniker) {
        *ppMoniker = nullptr;
        FilterMoniker* m = nullptr;
        HRESULT hr = handOut(&m, r);
        if (FAILED(hr)) return hr;
        *ppMoniker = m;
    }
    return S_OK;
}

HRESULT FilterMapper::EnumMatchingFilters(IEnumMoniker** ppEnum, DWORD dwFlags, BOOL bExactMatch, DWORD dwMerit,
                                          BOOL bInputNeeded, DWORD cInputTypes, const GUID* pInputTypes,
                                          const REGPINMEDIUM*, const CLSID* pPinCategoryIn, BOOL bRender,
                                          BOOL bOutputNeeded, DWORD cOutputTypes, const GUID* pOutputTypes,
                                          const REGPINMEDIUM*, const CLSID* pPinCategoryOut) {
    if (!ppEnum) return E_POINTER;
    *ppEnum = nullptr;
    if (dwFlags != 0) return E_INVALIDARG;
    if ((cInputTypes && !pInputTypes) || (cOutputTypes && !pOutputTypes)) return E_POINTER;
    FilterQuery q;
    q.exactMatch = bExactMatch != FALSE;
    q.minimumMerit = dwMerit;
    q.inputNeeded = bInputNeeded != FALSE;
    q.inputTypes = typePairs(cInputTypes, pInputTypes);
    q.render = bRender != FALSE;
    q.outputNeeded = bOutputNeeded != FALSE;
    q.outputTypes = typePairs(cOutputTypes, pOutputTypes);
    std::vector<FilterRegistration> found;
    // Registered pins carry no category: asking for one finds nothing.
    bool categoryAsked =
        (pPinCategoryIn && *pPinCategoryIn != GUID_NULL) || (pPinCategoryOut && *pPinCategoryOut != GUID_NULL);
    if (!categoryAsked) found = FilterRegistry::instance().matching(q);
    MonikerEnumerator* e = nullptr;
    HRESULT hr = handOut(&e, std::move(found));
    if (SUCCEEDED(hr)) *ppEnum = e;
    return hr;
}
