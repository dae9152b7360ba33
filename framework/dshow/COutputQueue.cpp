#include "framework/dshow/COutputQueue.h"

#include "framework/dshow/DshowErrors.h"

COutputQueue::COutputQueue(IPin* pInputPin, HRESULT* phr, BOOL bAuto, BOOL bQueue, LONG lBatchSize, BOOL bBatchExact,
                           LONG lListSize, DWORD dwPriority)
    : m_lBatchSize(lBatchSize < 1 ? 1 : lBatchSize), m_bBatchExact(bBatchExact != FALSE) {
    HRESULT hr = S_OK;
    if (!pInputPin) {
        hr = E_POINTER;
    } else {
        m_pPin = pInputPin;
        m_pPin->AddRef();
        hr = pInputPin->QueryInterface(IMemInputPin::iid, reinterpret_cast<void**>(&m_pInputPin));
    }
    if (SUCCEEDED(hr)) {
        m_bQueue = bAuto ? m_pInputPin->ReceiveCanBlock() == S_OK : bQueue != FALSE;
        m_batch.reserve(static_cast<size_t>(m_lBatchSize));
        if (m_bQueue) {
            (void)lListSize;
            m_thread.setContextFunction(&COutputQueue::threadProc, this);
            m_thread.setPriority(static_cast<int>(static_cast<int32_t>(dwPriority)));
            if (!m_thread.start()) hr = E_OUTOFMEMORY;
        }
    }
    if (phr && FAILED(hr)) *phr = hr;
}

COutputQueue::~COutputQueue() {
    if (m_bQueue) m_thread.stop();
    {
        ScopedLock lock(m_cs);
        freeQueued();
    }
    if (m_pInputPin) m_pInputPin->Release();
    if (m_pPin) m_pPin->Release();
}

void COutputQueue::threadProc(Thread& thread, void* context) {
    static_cast<COutputQueue*>(context)->serve(thread);
}

void COutputQueue::serve(Thread& thread) {
    std::vector<IMediaSample*> batch;
    batch.reserve(static_cast<size_t>(m_lBatchSize));
    for (;;) {
        thread.waitOrStop(INFINITE);
        if (!thread.isRunning()) break;
        for (;;) {
            Packet packet{};
            {
                ScopedLock lock(m_cs);
                // Hold back an exact batch until it is complete (or asked for).
                bool sampleAtHead = !m_queue.empty() && m_queue.front().kind == Kind::Sample;
                bool controlQueued = false;
                for (const Packet& p : m_queue)
                    if (p.kind != Kind::Sample) {
                        controlQueued = true;
                        break;
                    }
                if (m_queue.empty() || (sampleAtHead && m_bBatchExact && m_queuedSamples < m_lBatchSize &&
                                        !m_bSendAnyway && !controlQueued)) {
                    m_bSendAnyway = false;
                    m_bDelivering = false;
                    break;
                }
                m_bDelivering = true;
                if (sampleAtHead) {
                    while (!m_queue.empty() && m_queue.front().kind == Kind::Sample &&
                           static_cast<LONG>(batch.size()) < m_lBatchSize) {
                        batch.push_back(m_queue.front().sample);
                        m_queue.pop_front();
                        --m_queuedSamples;
                    }
                } else {
                    packet = m_queue.front();
                    m_queue.pop_front();
                }
            }
            if (!batch.empty()) {
                HRESULT failed;
                {
                    ScopedLock lock(m_cs);
                    failed = m_hr;
                }
                if (failed != S_OK) {
                    for (IMediaSample* s : batch) s->Release();
                    batch.clear();
                    continue;
                }
                HRESULT hr = deliverBatch(batch);
                if (hr != S_OK) {
                    ScopedLock lock(m_cs);
                    if (m_hr == S_OK) m_hr = hr;
                }
                continue;
            }
            switch (packet.kind) {
                case Kind::EndOfStream:
                    m_pPin->EndOfStream();
                    break;
                case Kind::NewSegment:
                    m_pPin->NewSegment(packet.tStart, packet.tStop, packet.rate);
                    break;
                case Kind::Reset: {
                    ScopedLock lock(m_cs);
                    m_hr = S_OK;
                    m_flushComplete.set();
                    break;
                }
                case Kind::Sample:
                    break;
            }
        }
    }
}

HRESULT COutputQueue::deliverBatch(std::vector<IMediaSample*>& batch) {
    LONG processed = 0;
    HRESULT hr = m_pInputPin->ReceiveMultiple(batch.data(), static_cast<LONG>(batch.size()), &processed);
    for (IMediaSample* s : batch) s->Release();
    batch.clear();
    return hr;
}

void COutputQueue::freeQueued() {
    for (Packet& p : m_queue)
        if (p.kind == Kind::Sample && p.sample) p.sample->Release();
    m_queue.clear();
    m_queuedSamples = 0;
    for (IMediaSample* s : m_batch) s->Release();
    m_batch.clear();
}

void COutputQueue::queuePacket(const Packet& packet) {
    {
        ScopedLock lock(m_cs);
        m_queue.push_back(packet);
    }
    m_thread.wake();
}

HRESULT COutputQueue::Receive(IMediaSample* pSample) {
    LONG processed = 0;
    return ReceiveMultiple(&pSample, 1, &processed);
}

HRESULT COutputQueue::ReceiveMultiple(IMediaSample** ppSamples, LONG nSamples, LONG* nSamplesProcessed) {
    if (!ppSamples || !nSamplesProcessed) return E_POINTER;
    *nSamplesProcessed = 0;
    if (nSamples <= 0) return S_OK;
    if (!m_bQueue) {
        HRESULT result = S_OK;
        for (LONG i = 0; i < nSamples; ++i) {
            IMediaSample* sample = ppSamples[i];
            {
                ScopedLock lock(m_cs);
                if (m_bFlushing || m_hr != S_OK) {
                    result = m_bFlushing ? S_FALSE : m_hr;
                    sample->Release();
                    continue;
                }
                m_batch.push_back(sample);
                if (static_cast<LONG>(m_batch.size()) < m_lBatchSize) {
                    ++*nSamplesProcessed;
                    continue;
                }
            }
            std::vector<IMediaSample*> batch;
            {
                ScopedLock lock(m_cs);
                batch.swap(m_batch);
            }
            HRESULT hr = deliverBatch(batch);
            if (hr != S_OK) {
                ScopedLock lock(m_cs);
                if (m_hr == S_OK) m_hr = hr;
                result = hr;
            } else {
                ++*nSamplesProcessed;
            }
        }
        return result;
    }

    HRESULT result;
    bool signal = false;
    {
        ScopedLock lock(m_cs);
        result = m_bFlushing ? S_FALSE : m_hr;
        if (result != S_OK) {
            for (LONG i = 0; i < nSamples; ++i) ppSamples[i]->Release();
            return result;
        }
        for (LONG i = 0; i < nSamples; ++i) m_queue.push_back(Packet{Kind::Sample, ppSamples[i], 0, 0, 0.0});
        m_queuedSamples += nSamples;
        *nSamplesProcessed = nSamples;
        signal = !m_bBatchExact || m_queuedSamples >= m_lBatchSize;
    }
    if (signal) m_thread.wake();
    return S_OK;
}

void COutputQueue::SendAnyway() {
    if (!m_bQueue) {
        std::vector<IMediaSample*> batch;
        {
            ScopedLock lock(m_cs);
            batch.swap(m_batch);
        }
        if (!batch.empty()) {
            HRESULT hr = deliverBatch(batch);
            ScopedLock lock(m_cs);
            if (hr != S_OK && m_hr == S_OK) m_hr = hr;
        }
        return;
    }
    {
        ScopedLock lock(m_cs);
        m_bSendAnyway = true;
    }
    m_thread.wake();
}

void COutputQueue::EOS() {
    if (!m_bQueue) {
        SendAnyway();
        {
            ScopedLock lock(m_cs);
            if (m_bFlushing) return;
        }
        m_pPin->EndOfStream();
        return;
    }
    {
        ScopedLock lock(m_cs);
        if (m_bFlushing) return;
    }
    queuePacket(Packet{Kind::EndOfStream, nullptr, 0, 0, 0.0});
}

void COutputQueue::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    if (!m_bQueue) {
        SendAnyway();
        m_pPin->NewSegment(tStart, tStop, dRate);
        return;
    }
    queuePacket(Packet{Kind::NewSegment, nullptr, tStart, tStop, dRate});
}

void COutputQueue::BeginFlush() {
    {
        ScopedLock lock(m_cs);
        m_bFlushing = true;
        // Queued samples and stream calls belong to the data being thrown away.
        freeQueued();
    }
    // At once, not through the queue: it must release a thread blocked downstream.
    m_pPin->BeginFlush();
}

void COutputQueue::EndFlush() {
    if (m_bQueue) {
        // Let the thread finish what it was delivering before the flush ends downstream.
        m_flushComplete.reset();
        queuePacket(Packet{Kind::Reset, nullptr, 0, 0, 0.0});
        while (!m_flushComplete.wait(100)) {
            if (!m_thread.isRunning() && !m_thread.isCurrentThread()) break;
        }
    }
    {
        ScopedLock lock(m_cs);
        m_bFlushing = false;
        m_hr = S_OK;
    }
    m_pPin->EndFlush();
}

void COutputQueue::Reset() {
    ScopedLock lock(m_cs);
    m_hr = S_OK;
}

bool COutputQueue::IsIdle() {
    ScopedLock lock(m_cs);
    return m_queue.empty() && m_batch.empty() && !m_bDelivering;
}
