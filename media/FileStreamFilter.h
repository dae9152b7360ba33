#pragma once
// "File Stream Filter": the source of every graph the engine builds. Opens a file through
// a StreamCallbacks table, announces a byte stream whose subtype names the container
// (from the file's extension) and serves it on its one pin, "Source Output".
#include <string>

#include "framework/CriticalSection.h"
#include "framework/dshow/CBaseFilter.h"
#include "framework/dshow/StreamInterfaces.h"
#include "media/AsyncFileReader.h"
#include "media/CallbackFile.h"
#include "media/FileStreamOutputPin.h"

constexpr CLSID CLSID_FileStreamFilter = guidOf("{5A407C58-92FE-11DA-BE20-005056C00008}");

class FileStreamFilter : public CBaseFilter, public IFileSourceFilter {
public:
    static constexpr const char16_t* kName = u"File Stream Filter";
    static constexpr const char16_t* kPinName = u"Source Output";

    explicit FileStreamFilter(const StreamCallbacks& callbacks, HRESULT* phr = nullptr);
    ~FileStreamFilter() override;

    HRESULT QueryInterface(REFIID riid, void** ppv) override { return CBaseFilter::QueryInterface(riid, ppv); }
    ULONG AddRef() override { return CBaseFilter::AddRef(); }
    ULONG Release() override { return CBaseFilter::Release(); }

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }

    // IFileSourceFilter
    HRESULT Load(LPCOLESTR pszFileName, const AM_MEDIA_TYPE* pmt) override;
    HRESULT GetCurFile(LPOLESTR* ppszFileName, AM_MEDIA_TYPE* pmt) override;

    bool isLoaded();
    // A copy of the announced type; false before Load.
    bool announcedType(CMediaType* type);

protected:
    HRESULT queryOther(REFIID riid, void** ppv) override;

private:
    CriticalSection lock_;
    CallbackFile file_;
    AsyncFileReader reader_;
    FileStreamOutputPin pin_;
    std::u16string fileName_;
    CMediaType announced_;
    bool loaded_ = false;
};
