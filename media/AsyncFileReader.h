#pragma once
// The request queue behind the file source's pull interface: requests are read in
// arrival order by one worker thread (made on the first request) and handed back through
// WaitForNext. Flushing completes every queued request unread and waits for the read in
// progress.
#include <deque>

#include "framework/CriticalSection.h"
#include "framework/Event.h"
#include "framework/Thread.h"
#include "framework/dshow/SampleInterfaces.h"
#include "media/CallbackFile.h"

struct ReadRequest {
    int64_t position = 0;
    int32_t length = 0;
    BYTE* buffer = nullptr;
    IMediaSample* sample = nullptr;  // held while the request is queued
    DWORD_PTR context = 0;
    bool aligned = false;
    HRESULT result = S_OK;
    uint32_t bytesRead = 0;
};

class AsyncFileReader {
public:
    explicit AsyncFileReader(CallbackFile& file);
    ~AsyncFileReader();
    AsyncFileReader(const AsyncFileReader&) = delete;
    AsyncFileReader& operator=(const AsyncFileReader&) = delete;

    // Queues a read of the sample's byte range (its times / 10,000,000).
    HRESULT request(IMediaSample* sample, DWORD_PTR context);
    HRESULT waitForNext(DWORD timeout, IMediaSample** sample, DWORD_PTR* context);
    HRESULT syncReadAligned(IMediaSample* sample);
    HRESULT syncRead(LONGLONG position, LONG length, BYTE* buffer);
    void beginFlush();
    void endFlush();

    // Requests queued or being read (for tests and diagnostics).
    size_t pendingCount();

private:
    static void workerEntry(Thread& thread, void* context);
    void work();
    // Computes the byte range of a sample, cutting it at the end of the file.
    HRESULT prepare(IMediaSample* sample, ReadRequest* request);
    void perform(ReadRequest& request);
    // The outcome a caller sees for a completed request.
    HRESULT finish(ReadRequest& request);

    CallbackFile& file_;
    CriticalSection lock_;
    Event workAvailable_{Event::Reset::Manual};
    Event allDone_{Event::Reset::Manual};
    Event stop_{Event::Reset::Manual};
    Event doneAvailable_{Event::Reset::Manual};
    std::deque<ReadRequest> work_;
    std::deque<ReadRequest> done_;
    int inProgress_ = 0;
    bool flushing_ = false;
    bool workerStarted_ = false;
    Thread worker_;
};
