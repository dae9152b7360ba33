#pragma once
// A read-only stream over an upstream pin's pull interface, for sources that read a
// stream: reads at its own position, clamped to the length the reader reports.
#include "framework/ComObject.h"
#include "framework/InterfacePtr.h"
#include "framework/dshow/DshowErrors.h"
#include "framework/dshow/SampleInterfaces.h"
#include "framework/dshow/StreamInterfaces.h"

class AsyncReaderStream : public ComObject<IStream> {
public:
    explicit AsyncReaderStream(IAsyncReader* reader, int64_t position = 0);
    ~AsyncReaderStream() override = default;

    HRESULT queryOther(REFIID riid, void** ppv) override {
        if (riid != ISequentialStream::iid) return E_NOINTERFACE;
        *ppv = static_cast<IStream*>(this);
        AddRef();
        return S_OK;
    }

    HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override;
    HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) override;
    HRESULT Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) override;
    HRESULT SetSize(ULARGE_INTEGER) override { return STG_E_INVALIDFUNCTION; }
    HRESULT CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) override;
    HRESULT Commit(DWORD) override { return E_NOTIMPL; }
    HRESULT Revert() override { return E_NOTIMPL; }
    HRESULT LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return E_NOTIMPL; }
    HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) override;
    HRESULT Clone(IStream** ppstm) override;

private:
    int64_t length();

    InterfacePtr<IAsyncReader> reader_;
    std::atomic<int64_t> position_;
};
