#include "media/AsyncFileReader.h"

#include "framework/dshow/DshowErrors.h"

AsyncFileReader::AsyncFileReader(CallbackFile& file) : file_(file) {
    worker_.setContextFunction(&AsyncFileReader::workerEntry, this);
}

AsyncFileReader::~AsyncFileReader() {
    beginFlush();
    bool started;
    {
        ScopedLock lock(lock_);
        started = workerStarted_;
    }
    if (started) {
        stop_.set();
        worker_.stop();
    }
    ScopedLock lock(lock_);
    for (ReadRequest& r : done_)
        if (r.sample) r.sample->Release();
    done_.clear();
}

void AsyncFileReader::workerEntry(Thread&, void* context) {
    static_cast<AsyncFileReader*>(context)->work();
}

void AsyncFileReader::work() {
    for (;;) {
        int which = Event::waitAny({&stop_, &workAvailable_}, INFINITE);
        if (which != 1) return;
        ReadRequest request;
        {
            ScopedLock lock(lock_);
            if (work_.empty()) {
                workAvailable_.reset();
                continue;
            }
            request = work_.front();
            work_.pop_front();
            if (work_.empty()) workAvailable_.reset();
            ++inProgress_;
        }
        perform(request);
        ScopedLock lock(lock_);
        done_.push_back(request);
        doneAvailable_.set();
        if (--inProgress_ == 0 && flushing_) allDone_.set();
    }
}

HRESULT AsyncFileReader::prepare(IMediaSample* sample, ReadRequest* request) {
    REFERENCE_TIME start = 0, stop = 0;
    HRESULT hr = sample->GetTime(&start, &stop);
    if (FAILED(hr)) return hr;
    int64_t position = start / UNITS;
    int64_t end = stop / UNITS;
    if (position < 0 || end < position) return E_INVALIDARG;
    int64_t total = file_.length();
    if (position > total || (position == total && end > position)) return HRESULT_FROM_WIN32(ERROR_HANDLE_EOF);
    if (end > total) {
        // Cut at the end of the file, rounded up to the alignment, and tell the caller.
        end = (total + CallbackFile::kAlignment - 1) / CallbackFile::kAlignment * CallbackFile::kAlignment;
        REFERENCE_TIME newStart = position * UNITS, newStop = end * UNITS;
        sample->SetTime(&newStart, &newStop);
    }
    BYTE* buffer = nullptr;
    hr = sample->GetPointer(&buffer);
    if (FAILED(hr)) return hr;
    // A range the sample cannot hold would be written past its buffer.
    if (end - position > sample->GetSize()) return VFW_E_BUFFER_OVERFLOW;
    request->position = position;
    request->length = static_cast<int32_t>(end - position);
    request->buffer = buffer;
    return S_OK;
}

void AsyncFileReader::perform(ReadRequest& request) {
    uint32_t got = 0;
    bool ok = file_.readAt(request.position, static_cast<uint32_t>(request.length), request.buffer, &got);
    request.bytesRead = got;
    request.result = ok ? S_OK : E_FAIL;
}

HRESULT AsyncFileReader::finish(ReadRequest& request) {
    if (FAILED(request.result)) return request.result;
    if (request.sample) request.sample->SetActualDataLength(static_cast<LONG>(request.bytesRead));
    if (request.aligned && request.bytesRead != static_cast<uint32_t>(request.length)) {
        // Short is only acceptable when the read stopped at the end of the file.
        if (request.position + request.bytesRead != file_.length()) return E_FAIL;
    }
    return request.bytesRead == static_cast<uint32_t>(request.length) ? S_OK : S_FALSE;
}

HRESULT AsyncFileReader::request(IMediaSample* sample, DWORD_PTR context) {
    if (!sample) return E_POINTER;
    ReadRequest request;
    HRESULT hr = prepare(sample, &request);
    if (FAILED(hr)) return hr;
    request.sample = sample;
    request.context = context;
    request.aligned = true;
    ScopedLock lock(lock_);
    if (flushing_) return VFW_E_WRONG_STATE;
    if (!workerStarted_) {
        if (!worker_.start()) return E_OUTOFMEMORY;
        workerStarted_ = true;
    }
    sample->AddRef();
    work_.push_back(request);
    workAvailable_.set();
    return S_OK;
}

HRESULT AsyncFileReader::waitForNext(DWORD timeout, IMediaSample** sample, DWORD_PTR* context) {
    if (!sample || !context) return E_POINTER;
    *sample = nullptr;
    *context = 0;
    for (;;) {
        if (!doneAvailable_.wait(timeout)) return VFW_E_TIMEOUT;
        ScopedLock lock(lock_);
        if (!done_.empty()) {
            ReadRequest request = done_.front();
            done_.pop_front();
            // While flushing the event stays set so that every waiting caller wakes up.
            if (done_.empty() && !flushing_) doneAvailable_.reset();
            *sample = request.sample;  // the queue's reference passes to the caller
            *context = request.context;
            return finish(request);
        }
        if (flushing_) {
            if (inProgress_ == 0) return VFW_E_WRONG_STATE;
            // A read still running will land in the done list shortly.
            lock_.unlock();
            bool finished = allDone_.wait(timeout);
            lock_.lock();
            if (!finished) return VFW_E_TIMEOUT;
            continue;
        }
        // Another caller took the last one.
        doneAvailable_.reset();
        if (timeout == 0) return VFW_E_TIMEOUT;
    }
}

HRESULT AsyncFileReader::syncReadAligned(IMediaSample* sample) {
    if (!sample) return E_POINTER;
    ReadRequest request;
    HRESULT hr = prepare(sample, &request);
    if (FAILED(hr)) return hr;
    request.aligned = true;
    request.sample = sample;
    perform(request);
    return finish(request);
}

HRESULT AsyncFileReader::syncRead(LONGLONG position, LONG length, BYTE* buffer) {
    if (!buffer && length > 0) return E_POINTER;
    if (position < 0 || length < 0) return E_INVALIDARG;
    // A read that starts past the end finds nothing: a short read.
    if (position > file_.length()) return S_FALSE;
    ReadRequest request;
    request.position = position;
    request.length = length;
    request.buffer = buffer;
    perform(request);
    return finish(request);
}

void AsyncFileReader::beginFlush() {
    ScopedLock lock(lock_);
    flushing_ = true;
    while (!work_.empty()) {
        ReadRequest r = work_.front();
        work_.pop_front();
        r.result = VFW_E_WRONG_STATE;
        done_.push_back(r);
    }
    workAvailable_.reset();
    doneAvailable_.set();
    while (inProgress_ > 0) {
        allDone_.reset();
        lock_.unlock();
        allDone_.wait(INFINITE);
        lock_.lock();
    }
    doneAvailable_.set();
}

void AsyncFileReader::endFlush() {
    ScopedLock lock(lock_);
    flushing_ = false;
    if (done_.empty()) doneAvailable_.reset();
}

size_t AsyncFileReader::pendingCount() {
    ScopedLock lock(lock_);
    return work_.size() + static_cast<size_t>(inProgress_);
}
