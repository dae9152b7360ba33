#pragma once
// Finding registered filters: the mapper, its moniker enumeration, the property bag each
// moniker carries, and the wrapper filter around media objects.
#include "framework/dshow/DshowTypes.h"
#include "framework/dshow/Variant.h"

struct IErrorLog;  // never used; callers pass null
struct IBindCtx;   // never used; callers pass null

struct IPropertyBag : IUnknown {
    static constexpr GUID iid = guidOf("{55272A00-42CB-11CE-8135-00AA004BB851}");
    // pVar->vt names the wanted type (VT_BSTR for "FriendlyName"); VT_EMPTY takes the stored one.
    virtual HRESULT Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog) = 0;
    virtual HRESULT Write(LPCOLESTR pszPropName, VARIANT* pVar) = 0;
};

// The part of a moniker the pipeline uses: binding to the object or to its property bag.
struct IMoniker : IUnknown {
    static constexpr GUID iid = guidOf("{0000000F-0000-0000-C000-000000000046}");
    virtual HRESULT BindToObject(IBindCtx* pbc, IMoniker* pmkToLeft, REFIID riidResult, void** ppvResult) = 0;
    virtual HRESULT BindToStorage(IBindCtx* pbc, IMoniker* pmkToLeft, REFIID riid, void** ppvObj) = 0;
    virtual HRESULT GetDisplayName(IBindCtx* pbc, IMoniker* pmkToLeft, LPOLESTR* ppszDisplayName) = 0;
};

struct IEnumMoniker : IUnknown {
    static constexpr GUID iid = guidOf("{00000102-0000-0000-C000-000000000046}");
    virtual HRESULT Next(ULONG celt, IMoniker** rgelt, ULONG* pceltFetched) = 0;
    virtual HRESULT Skip(ULONG celt) = 0;
    virtual HRESULT Reset() = 0;
    virtual HRESULT Clone(IEnumMoniker** ppenum) = 0;
};

struct IFilterMapper2 : IUnknown {
    static constexpr GUID iid = guidOf("{B79BB0B0-33C1-11D1-ABE1-00A0C905F375}");
    virtual HRESULT CreateCategory(REFCLSID clsidCategory, DWORD dwCategoryMerit, LPCWSTR Description) = 0;
    virtual HRESULT UnregisterFilter(const CLSID* pclsidCategory, LPCOLESTR szInstance, REFCLSID Filter) = 0;
    virtual HRESULT RegisterFilter(REFCLSID clsidFilter, LPCWSTR Name, IMoniker** ppMoniker,
                                   const CLSID* pclsidCategory, LPCOLESTR szInstance, const REGFILTER2* prf2) = 0;
    // pInputTypes / pOutputTypes are cInputTypes / cOutputTypes pairs of (major type, subtype);
    // GUID_NULL in a pair matches anything. Filters come in order of falling merit.
    virtual HRESULT EnumMatchingFilters(IEnumMoniker** ppEnum, DWORD dwFlags, BOOL bExactMatch, DWORD dwMerit,
                                        BOOL bInputNeeded, DWORD cInputTypes, const GUID* pInputTypes,
                                        const REGPINMEDIUM* pMedIn, const CLSID* pPinCategoryIn, BOOL bRender,
                                        BOOL bOutputNeeded, DWORD cOutputTypes, const GUID* pOutputTypes,
                                        const REGPINMEDIUM* pMedOut, const CLSID* pPinCategoryOut) = 0;
};

struct IDMOWrapperFilter : IUnknown {
    static constexpr GUID iid = guidOf("{52D6F586-9F0F-4824-8FC8-E32CA04930C2}");
    virtual HRESULT Init(REFCLSID clsidDMO, REFCLSID catDMO) = 0;
};
