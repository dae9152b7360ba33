#include "framework/dshow/StreamCopy.h"

#include <algorithm>
#include <new>
#include <vector>

#include "framework/dshow/DshowErrors.h"

namespace {
constexpr ULONG kCopyChunk = 65536;
}

HRESULT copyStream(IStream& source, IStream* target, ULARGE_INTEGER cb, ULARGE_INTEGER* pcbRead,
                   ULARGE_INTEGER* pcbWritten) {
    if (pcbRead) pcbRead->QuadPart = 0;
    if (pcbWritten) pcbWritten->QuadPart = 0;
    if (!target) return STG_E_INVALIDPOINTER;
    std::vector<BYTE> chunk;
    try {
        chunk.resize(kCopyChunk);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    ULONGLONG totalRead = 0, totalWritten = 0;
    HRESULT result = S_OK;
    while (totalRead < cb.QuadPart) {
        ULONG want = static_cast<ULONG>(std::min<ULONGLONG>(kCopyChunk, cb.QuadPart - totalRead));
        ULONG got = 0;
        HRESULT hr = source.Read(chunk.data(), want, &got);
        if (FAILED(hr)) {
            result = hr;
            break;
        }
        if (got == 0) break;
        totalRead += got;
        ULONG written = 0;
        hr = target->Write(chunk.data(), got, &written);
        totalWritten += std::min(written, got);
        if (FAILED(hr) || written < got) {
            result = totalWritten == 0 || SUCCEEDED(hr) ? STG_E_MEDIUMFULL : hr;
            break;
        }
    }
    if (pcbRead) pcbRead->QuadPart = totalRead;
    if (pcbWritten) pcbWritten->QuadPart = totalWritten;
    return result;
}
