#pragma once
// A libavformat I/O context over an upstream pin's pull interface: synchronous reads at a
// position of its own, seekable, bounded by the length the reader reports. Reads beyond
// the end give end of file; a raised abort flag ends any read (and so any blocking
// demuxer call) at once.
#include <atomic>
#include <cstdint>

#include "framework/InterfacePtr.h"
#include "framework/dshow/SampleInterfaces.h"
#include "platform/dshow/system/AvHandles.h"

class AsyncReaderIo {
public:
    static constexpr int kBufferSize = 64 * 1024;

    AsyncReaderIo() = default;
    AsyncReaderIo(const AsyncReaderIo&) = delete;
    AsyncReaderIo& operator=(const AsyncReaderIo&) = delete;
    ~AsyncReaderIo();

    // E_POINTER without reader, E_FAIL when the reader has no length, E_OUTOFMEMORY.
    HRESULT open(IAsyncReader* reader);
    void close();

    AVIOContext* context() { return io_; }
    int64_t length() const { return length_; }

    void setAborted(bool aborted) { aborted_.store(aborted); }
    bool aborted() const { return aborted_.load(); }
    // For AVFormatContext::interrupt_callback.
    static int interruptCallback(void* self);

private:
    static int readPacket(void* opaque, uint8_t* buffer, int size);
    static int64_t seek(void* opaque, int64_t offset, int whence);

    InterfacePtr<IAsyncReader> reader_;
    AVIOContext* io_ = nullptr;
    int64_t length_ = 0;
    int64_t position_ = 0;
    std::atomic<bool> aborted_{false};
};
