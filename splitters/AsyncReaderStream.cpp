#include "splitters/AsyncReaderStream.h"

#include <algorithm>
#include <new>
#include <vector>

#include "framework/dshow/DshowErrors.h"
#include "framework/dshow/StreamCopy.h"

AsyncReaderStream::AsyncReaderStream(IAsyncReader* reader, int64_t position) : reader_(reader), position_(position) {}

int64_t AsyncReaderStream::length() {
    LONGLONG total = 0, available = 0;
    if (!reader_ || FAILED(reader_->Length(&total, &available)) || total < 0) return 0;
    return total;
}

HRESULT AsyncReaderStream::Read(void* pv, ULONG cb, ULONG* pcbRead) {
    if (pcbRead) *pcbRead = 0;
    if (!pv && cb) return STG_E_INVALIDPOINTER;
    int64_t at = position_.load();
    int64_t want = std::clamp<int64_t>(length() - at, 0, std::min<int64_t>(cb, 0x7FFFFFFF));
    if (want > 0 && reader_->SyncRead(at, static_cast<LONG>(want), static_cast<BYTE*>(pv)) != S_OK)
        return STG_E_READFAULT;
    position_ = at + want;
    if (pcbRead) *pcbRead = static_cast<ULONG>(want);
    return S_OK;
}

HRESULT AsyncReaderStream::Write(const void*, ULONG, ULONG* pcbWritten) {
    if (pcbWritten) *pcbWritten = 0;
    return STG_E_INVALIDFUNCTION;
}

HRESULT AsyncReaderStream::Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) {
    int64_t total = length();
    int64_t base;
    switch (dwOrigin) {
        case STREAM_SEEK_SET:
            base = 0;
            break;
        case STREAM_SEEK_CUR:
            base = position_.load();
            break;
        case STREAM_SEEK_END:
            base = total;
            break;
        default:
            return STG_E_INVALIDFUNCTION;
    }
    int64_t target;
    if (__builtin_add_overflow(base, dlibMove.QuadPart, &target)) target = dlibMove.QuadPart < 0 ? 0 : total;
    target = std::clamp<int64_t>(target, 0, total);
    position_ = target;
    if (plibNewPosition) plibNewPosition->QuadPart = static_cast<ULONGLONG>(target);
    return S_OK;
}

HRESULT AsyncReaderStream::CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                                  ULARGE_INTEGER* pcbWritten) {
    return copyStream(*this, pstm, cb, pcbRead, pcbWritten);
}

HRESULT AsyncReaderStream::Stat(STATSTG* pstatstg, DWORD grfStatFlag) {
    if (!pstatstg) return STG_E_INVALIDPOINTER;
    if (grfStatFlag != STATFLAG_NONAME) return E_INVALIDARG;
    *pstatstg = STATSTG{};
    pstatstg->type = STGTY_STREAM;
    pstatstg->cbSize.QuadPart = static_cast<ULONGLONG>(length());
    pstatstg->grfMode = STGM_READ;
    return S_OK;
}

HRESULT AsyncReaderStream::Clone(IStream** ppstm) {
    if (!ppstm) return STG_E_INVALIDPOINTER;
    auto* copy = new (std::nothrow) AsyncReaderStream(reader_.get(), position_.load());
    *ppstm = copy;
    if (!copy) return E_OUTOFMEMORY;
    copy->AddRef();
    return S_OK;
}
