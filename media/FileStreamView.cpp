#include "media/FileStreamView.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <vector>

#include "framework/dshow/DshowErrors.h"
#include "framework/dshow/StreamCopy.h"

namespace {

// Now as the platform's file time: 100-ns units since 1601-01-01.
FILETIME nowAsFileTime() {
    constexpr uint64_t kUnixEpochOffset = 116444736000000000ULL;
    auto since = std::chrono::system_clock::now().time_since_epoch();
    uint64_t t = kUnixEpochOffset +
                 static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100);
    return FILETIME{static_cast<DWORD>(t & 0xFFFFFFFFu), static_cast<DWORD>(t >> 32)};
}

}  // namespace

FileStreamView::FileStreamView(CallbackFile& file, IUnknown* owner, bool embedded, int64_t position)
    : file_(file), owner_(owner), embedded_(embedded), position_(position) {
    if (!embedded_ && owner_) owner_->AddRef();
}

FileStreamView::~FileStreamView() {
    if (!embedded_ && owner_) owner_->Release();
}

HRESULT FileStreamView::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (riid != IUnknown::iid && riid != ISequentialStream::iid && riid != IStream::iid) return E_NOINTERFACE;
    *ppv = static_cast<IStream*>(this);
    AddRef();
    return S_OK;
}

ULONG FileStreamView::AddRef() {
    if (embedded_) return owner_->AddRef();
    return refs_.fetch_add(1, std::memory_order_relaxed) + 1;
}

ULONG FileStreamView::Release() {
    if (embedded_) return owner_->Release();
    ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0) delete this;
    return left;
}

int64_t FileStreamView::position() {
    ScopedLock lock(lock_);
    return position_;
}

HRESULT FileStreamView::Read(void* pv, ULONG cb, ULONG* pcbRead) {
    if (pcbRead) *pcbRead = 0;
    if (!pv && cb) return STG_E_INVALIDPOINTER;
    ScopedLock lock(lock_);
    int64_t left = std::max<int64_t>(0, file_.length() - position_);
    uint32_t want = static_cast<uint32_t>(std::min<int64_t>(cb, left));
    uint32_t got = 0;
    if (want && !file_.readAt(position_, want, pv, &got)) return STG_E_READFAULT;
    position_ += got;
    if (pcbRead) *pcbRead = got;
    return S_OK;
}

HRESULT FileStreamView::Write(const void*, ULONG, ULONG* pcbWritten) {
    if (pcbWritten) *pcbWritten = 0;
    return STG_E_INVALIDFUNCTION;
}

HRESULT FileStreamView::Seek(LARGE_INTEGER dlibMove, DWORD dwOrigin, ULARGE_INTEGER* plibNewPosition) {
    ScopedLock lock(lock_);
    int64_t length = file_.length();
    int64_t base;
    switch (dwOrigin) {
        case STREAM_SEEK_SET:
            base = 0;
            break;
        case STREAM_SEEK_CUR:
            base = position_;
            break;
        case STREAM_SEEK_END:
            base = length;
            break;
        default:
            return STG_E_INVALIDFUNCTION;
    }
    int64_t target;
    if (__builtin_add_overflow(base, dlibMove.QuadPart, &target)) target = dlibMove.QuadPart < 0 ? 0 : length;
    position_ = std::clamp<int64_t>(target, 0, length);
    if (plibNewPosition) plibNewPosition->QuadPart = static_cast<ULONGLONG>(position_);
    return S_OK;
}

HRESULT FileStreamView::SetSize(ULARGE_INTEGER) {
    return STG_E_INVALIDFUNCTION;
}

HRESULT FileStreamView::CopyTo(IStream* pstm, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead, ULARGE_INTEGER* pcbWritten) {
    return copyStream(*this, pstm, cb, pcbRead, pcbWritten);
}

HRESULT FileStreamView::Commit(DWORD) {
    return E_NOTIMPL;
}
HRESULT FileStreamView::Revert() {
    return E_NOTIMPL;
}
HRESULT FileStreamView::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return E_NOTIMPL;
}
HRESULT FileStreamView::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) {
    return E_NOTIMPL;
}

HRESULT FileStreamView::Stat(STATSTG* pstatstg, DWORD grfStatFlag) {
    if (!pstatstg) return STG_E_INVALIDPOINTER;
    if (grfStatFlag != STATFLAG_NONAME) return E_INVALIDARG;
    *pstatstg = STATSTG{};
    pstatstg->type = STGTY_STREAM;
    pstatstg->cbSize.QuadPart = static_cast<ULONGLONG>(file_.length());
    FILETIME now = nowAsFileTime();
    pstatstg->mtime = now;
    pstatstg->ctime = now;
    pstatstg->atime = now;
    pstatstg->grfMode = STGM_READ;
    return S_OK;
}

HRESULT FileStreamView::Clone(IStream** ppstm) {
    if (!ppstm) return STG_E_INVALIDPOINTER;
    auto* view = new (std::nothrow) FileStreamView(file_, owner_, false, position());
    *ppstm = view;
    if (!view) return E_OUTOFMEMORY;
    view->AddRef();
    return S_OK;
}
