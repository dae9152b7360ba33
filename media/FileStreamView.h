#pragma once
// A read-only stream over the file source's open file, with a position of its own. The
// output pin carries one (counted with its filter); Clone makes independent ones that
// keep the filter, and so the file, alive.
#include <atomic>

#include "framework/CriticalSection.h"
#include "framework/dshow/StreamInterfaces.h"
#include "media/CallbackFile.h"

class FileStreamView : public IStream {
public:
    // owner: the object whose count this view shares (embedded), or, for a clone, the
    // object this view keeps alive while it has its own count.
    FileStreamView(CallbackFile& file, IUnknown* owner, bool embedded, int64_t position = 0);
    virtual ~FileStreamView();

    HRESULT QueryInterface(REFIID riid, void** ppv) override;
    ULONG AddRef() override;
    ULONG Release() override;

    HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) override;
    HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) override;
    HRESULT Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) override;
    HRESULT SetSize(ULARGE_INTEGER libNewSize) override;
    HRESULT CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) override;
    HRESULT Commit(DWORD grfCommitFlags) override;
    HRESULT Revert() override;
    HRESULT LockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) override;
    HRESULT UnlockRegion(ULARGE_INTEGER libOffset, ULARGE_INTEGER cb, DWORD dwLockType) override;
    HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) override;
    HRESULT Clone(IStream** ppstm) override;

    int64_t position();

private:
    CallbackFile& file_;
    IUnknown* owner_;
    const bool embedded_;
    std::atomic<ULONG> refs_{0};
    CriticalSection lock_;
    int64_t position_;
};
