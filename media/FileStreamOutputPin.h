#pragma once
// The file source's one output pin, "Source Output": offers the announced byte-stream
// type and serves the file through the pull interface (IAsyncReader) and a read-only
// stream. A downstream pin must ask for IAsyncReader before it can connect.
//
// IAsyncReader's BeginFlush/EndFlush share their names with IPin's, so the reader is a
// separate interface object inside the pin, counted with the filter.
#include <atomic>

#include "framework/dshow/CBasePin.h"
#include "framework/dshow/SampleInterfaces.h"
#include "media/AsyncFileReader.h"
#include "media/FileStreamView.h"

class FileStreamFilter;

class FileStreamOutputPin : public CBasePin {
public:
    FileStreamOutputPin(FileStreamFilter* filter, CriticalSection* lock, CallbackFile& file, AsyncFileReader& reader,
                        HRESULT* phr);

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT GetMediaType(int iPosition, CMediaType* pMediaType) override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    HRESULT BreakConnect() override;
    // Stream calls never reach an output pin.
    HRESULT BeginFlush() override { return E_UNEXPECTED; }
    HRESULT EndFlush() override { return E_UNEXPECTED; }

    bool queriedForAsyncReader() const { return queriedForReader_.load(); }

protected:
    HRESULT queryOther(REFIID riid, void** ppv) override;

private:
    class Reader : public IAsyncReader {
    public:
        Reader(FileStreamOutputPin& pin, AsyncFileReader& reader, CallbackFile& file)
            : pin_(pin), reader_(reader), file_(file) {}
        HRESULT QueryInterface(REFIID riid, void** ppv) override;
        ULONG AddRef() override { return pin_.AddRef(); }
        ULONG Release() override { return pin_.Release(); }
        HRESULT RequestAllocator(IMemAllocator* pPreferred, ALLOCATOR_PROPERTIES* pProps,
                                 IMemAllocator** ppActual) override;
        HRESULT Request(IMediaSample* pSample, DWORD_PTR dwUser) override;
        HRESULT WaitForNext(DWORD dwTimeout, IMediaSample** ppSample, DWORD_PTR* pdwUser) override;
        HRESULT SyncReadAligned(IMediaSample* pSample) override;
        HRESULT SyncRead(LONGLONG llPosition, LONG lLength, BYTE* pBuffer) override;
        HRESULT Length(LONGLONG* pTotal, LONGLONG* pAvailable) override;
        HRESULT BeginFlush() override;
        HRESULT EndFlush() override;

    private:
        FileStreamOutputPin& pin_;
        AsyncFileReader& reader_;
        CallbackFile& file_;
    };

    FileStreamFilter* owner_;
    CallbackFile& file_;
    Reader reader_;
    FileStreamView stream_;
    std::atomic<bool> queriedForReader_{false};
};
