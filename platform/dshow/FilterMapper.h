#pragma once
// The mapper (CLSID_FilterMapper2) over the filter registry, with the monikers it
// enumerates and the read-only property bag behind each moniker ("FriendlyName", "CLSID").
#include <vector>

#include "framework/ComObject.h"
#include "framework/dshow/MapperInterfaces.h"
#include "platform/dshow/FilterRegistry.h"

class FilterPropertyBag : public ComObject<IPropertyBag> {
public:
    explicit FilterPropertyBag(FilterRegistration registration) : registration_(std::move(registration)) {}
    HRESULT Read(LPCOLESTR pszPropName, VARIANT* pVar, IErrorLog* pErrorLog) override;
    HRESULT Write(LPCOLESTR pszPropName, VARIANT* pVar) override;

private:
    FilterRegistration registration_;
};

class FilterMoniker : public ComObject<IMoniker> {
public:
    explicit FilterMoniker(FilterRegistration registration) : registration_(std::move(registration)) {}
    HRESULT BindToObject(IBindCtx* pbc, IMoniker* pmkToLeft, REFIID riidResult, void** ppvResult) override;
    HRESULT BindToStorage(IBindCtx* pbc, IMoniker* pmkToLeft, REFIID riid, void** ppvObj) override;
    HRESULT GetDisplayName(IBindCtx* pbc, IMoniker* pmkToLeft, LPOLESTR* ppszDisplayName) override;

private:
    FilterRegistration registration_;
};

class MonikerEnumerator : public ComObject<IEnumMoniker> {
public:
    explicit MonikerEnumerator(std::vector<FilterRegistration> entries, size_t position = 0)
        : entries_(std::move(entries)), position_(position) {}
    HRESULT Next(ULONG celt, IMoniker** rgelt, ULONG* pceltFetched) override;
    HRESULT Skip(ULONG celt) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumMoniker** ppenum) override;

private:
    std::vector<FilterRegistration> entries_;
    size_t position_;
};

class FilterMapper : public ComObject<IFilterMapper2> {
public:
    HRESULT CreateCategory(REFCLSID clsidCategory, DWORD dwCategoryMerit, LPCWSTR Description) override;
    HRESULT UnregisterFilter(const CLSID* pclsidCategory, LPCOLESTR szInstance, REFCLSID Filter) override;
    HRESULT RegisterFilter(REFCLSID clsidFilter, LPCWSTR Name, IMoniker** ppMoniker, const CLSID* pclsidCategory,
                           LPCOLESTR szInstance, const REGFILTER2* prf2) override;
    HRESULT EnumMatchingFilters(IEnumMoniker** ppEnum, DWORD dwFlags, BOOL bExactMatch, DWORD dwMerit,
                                BOOL bInputNeeded, DWORD cInputTypes, const GUID* pInputTypes,
                                const REGPINMEDIUM* pMedIn, const CLSID* pPinCategoryIn, BOOL bRender,
                                BOOL bOutputNeeded, DWORD cOutputTypes, const GUID* pOutputTypes,
                                const REGPINMEDIUM* pMedOut, const CLSID* pPinCategoryOut) override;
};
