#pragma once
// Delivers samples and stream calls to one input pin, in order, either directly on the
// caller's thread or through a queue served by its own thread (so the caller never blocks
// on a downstream renderer). Samples may be batched into ReceiveMultiple calls.
//
// Receive and ReceiveMultiple take over the caller's reference on each sample (as on the
// platform): a caller that goes on using a sample AddRefs it first.
//
// Flushing: BeginFlush drops everything queued and passes BeginFlush downstream at once;
// EndFlush waits until the thread has finished any delivery in progress, then passes
// EndFlush downstream, so no stale sample arrives after it.
#include <atomic>
#include <deque>
#include <vector>

#include "framework/CriticalSection.h"
#include "framework/Event.h"
#include "framework/Thread.h"
#include "framework/dshow/FilterInterfaces.h"
#include "framework/dshow/SampleInterfaces.h"

constexpr LONG DEFAULTCACHE = 10;
constexpr DWORD THREAD_PRIORITY_NORMAL = 0;

class COutputQueue {
public:
    // bAuto: queue only when the input pin's ReceiveCanBlock says it may block (else as
    // bQueue says). lListSize is a capacity hint.
    COutputQueue(IPin* pInputPin, HRESULT* phr, BOOL bAuto = TRUE, BOOL bQueue = TRUE, LONG lBatchSize = 1,
                 BOOL bBatchExact = FALSE, LONG lListSize = DEFAULTCACHE, DWORD dwPriority = THREAD_PRIORITY_NORMAL);
    ~COutputQueue();
    COutputQueue(const COutputQueue&) = delete;
    COutputQueue& operator=(const COutputQueue&) = delete;

    void BeginFlush();
    void EndFlush();
    void EOS();
    // Delivers a partial batch now.
    void SendAnyway();
    void NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate);

    // S_OK, S_FALSE while flushing, or the first delivery failure since the last flush
    // or Reset (the samples are then released undelivered).
    HRESULT Receive(IMediaSample* pSample);
    HRESULT ReceiveMultiple(IMediaSample** ppSamples, LONG nSamples, LONG* nSamplesProcessed);

    // Forgets a delivery failure.
    void Reset();
    // Nothing queued and nothing being delivered.
    bool IsIdle();
    bool IsQueued() const { return m_bQueue; }

private:
    enum class Kind { Sample, EndOfStream, NewSegment, Reset };
    struct Packet {
        Kind kind;
        IMediaSample* sample;
        REFERENCE_TIME tStart;
        REFERENCE_TIME tStop;
        double rate;
    };

    static void threadProc(Thread& thread, void* context);
    void serve(Thread& thread);
    // Delivers a batch directly, releasing the samples; returns the pin's answer.
    HRESULT deliverBatch(std::vector<IMediaSample*>& batch);
    void freeQueued();  // lock held
    void queuePacket(const Packet& packet);

    IPin* m_pPin = nullptr;               // held
    IMemInputPin* m_pInputPin = nullptr;  // held
    bool m_bQueue = false;
    LONG m_lBatchSize;
    bool m_bBatchExact;

    CriticalSection m_cs;
    std::deque<Packet> m_queue;          // thread mode
    std::vector<IMediaSample*> m_batch;  // direct mode
    LONG m_queuedSamples = 0;
    bool m_bSendAnyway = false;
    bool m_bFlushing = false;
    bool m_bDelivering = false;
    HRESULT m_hr = S_OK;

    Thread m_thread;
    Event m_flushComplete{Event::Reset::Auto};
};
