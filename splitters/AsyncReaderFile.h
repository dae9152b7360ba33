#pragma once
// A StreamCallbacks table over an upstream pin's pull interface: synchronous reads at a
// position remembered here. The object itself is the "name" handed to open and the handle
// it returns; close leaves it to its owner.
#include <mutex>

#include "framework/InterfacePtr.h"
#include "framework/StreamCallbacks.h"
#include "framework/dshow/SampleInterfaces.h"

class AsyncReaderFile {
public:
    explicit AsyncReaderFile(IAsyncReader* reader);
    AsyncReaderFile(const AsyncReaderFile&) = delete;
    AsyncReaderFile& operator=(const AsyncReaderFile&) = delete;

    static const StreamCallbacks& callbacks();
    // What to pass to callbacks().open.
    LPCWSTR name() { return reinterpret_cast<LPCWSTR>(this); }

    bool read(void* buffer, uint32_t count, uint32_t* bytesRead);
    // Positions past the end are allowed (reads there give nothing); negative ones are not.
    bool seek(int64_t position, uint32_t origin);
    bool size(int64_t* size);
    int64_t position();

private:
    InterfacePtr<IAsyncReader> reader_;
    std::mutex mutex_;
    int64_t position_ = 0;
};
