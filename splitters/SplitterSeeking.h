#pragma once
// A splitter's positions (IMediaSeeking, reached from either output pin) and its
// streaming thread, which asks the source for samples and delivers them.
//
// Thread states: 0 exited, 1 exit requested, 2 starting, 3 deliver one round, 4 waiting,
// 5 delivering. Seeks while delivering first park the thread and flush the outputs, so
// the source is never called from two threads at once. A paused filter delivers one
// round (after starting, and after a seek) so that its renderers hold a first picture
// and the pause completes; running then continues that segment.
#include <mutex>

#include "framework/CriticalSection.h"
#include "framework/Event.h"
#include "framework/Thread.h"
#include "framework/dshow/GraphInterfaces.h"
#include "framework/dshow/MediaGuids.h"
#include "framework/dshow/SourceSeekingBase.h"
#include "splitters/SplitterSource.h"

class SplitterFilter;

class SplitterSeeking : public SourceSeekingBase {
public:
    enum ThreadState : int { Exited = 0, ExitRequested = 1, Starting = 2, Restart = 3, Waiting = 4, Running = 5 };

    // Pause on a connected pin that cannot give a buffer yet.
    static constexpr uint32_t kBufferRetryMs = 3;
    // How long Stop lets the thread finish its round before asking it to exit.
    static constexpr uint32_t kStopGraceMs = 100;
    // How long Pause waits for a new thread to report in.
    static constexpr uint32_t kStartTimeoutMs = 5000;

    SplitterSeeking(SplitterFilter* filter, SplitterSource* source);
    virtual ~SplitterSeeking();

    HRESULT IsFormatSupported(const GUID* pFormat) override;
    HRESULT QueryPreferredFormat(GUID* pFormat) override;
    HRESULT GetTimeFormat(GUID* pFormat) override;
    HRESULT IsUsingTimeFormat(const GUID* pFormat) override;
    HRESULT SetTimeFormat(const GUID* pFormat) override;
    HRESULT GetDuration(LONGLONG* pDuration) override;
    HRESULT GetStopPosition(LONGLONG* pStop) override;
    HRESULT ConvertTimeFormat(LONGLONG* pTarget, const GUID* pTargetFormat, LONGLONG Source,
                              const GUID* pSourceFormat) override;
    HRESULT SetPositions(LONGLONG* pCurrent, DWORD dwCurrentFlags, LONGLONG* pStop, DWORD dwStopFlags) override;
    HRESULT GetPositions(LONGLONG* pCurrent, LONGLONG* pStop) override;
    HRESULT GetAvailable(LONGLONG* pEarliest, LONGLONG* pLatest) override;

    // Filter state changes (called with the filter's lock held).
    // Starts the thread and waits until it waits: E_OUTOFMEMORY, or E_FAIL when it never
    // reports in.
    HRESULT startStreaming();
    // Pause from stop: one round for the renderers to show.
    void prerollStreaming();
    // Run: delivery begins (or resumes); the next SetPositions always seeks.
    void runStreaming();
    // Stop: the thread ends.
    void stopStreaming();
    // The source is going away; every later call fails.
    void detach();

    int threadState();

private:
    static void threadEntry(Thread& thread, void* context);
    void threadMain(Thread& thread);
    // Delivers until the state leaves `state` (or after one round for Restart).
    void deliveryLoop(int state);
    // Moves 5/3 to 4 and waits until the thread is parked; true when it was delivering.
    bool parkThread(uint32_t timeoutMs);
    void setStateIf(int from, int to);
    void flushOutputs(bool begin);
    void endOfStream();

    bool frameFormat() const { return format_ == TIME_FORMAT_FRAME; }
    LONGLONG durationLocked();
    REFERENCE_TIME toMediaTimeLocked(LONGLONG value);
    HRESULT convert(LONGLONG* target, const GUID& to, LONGLONG value, const GUID& from);

    SplitterFilter* filter_;
    SplitterSource* source_;  // null once detached

    // Positions, in the current time format.
    CriticalSection lock_;
    GUID format_ = TIME_FORMAT_MEDIA_TIME;
    LONGLONG current_ = 0;
    LONGLONG stop_ = 0;
    LONGLONG lastCurrent_ = -1;
    LONGLONG lastStop_ = -1;

    // Thread state and the segment it delivers; the streaming thread takes only this.
    std::mutex stateMutex_;
    int state_ = Exited;
    bool parked_ = false;
    bool threadMade_ = false;
    REFERENCE_TIME segmentStart_ = 0;
    REFERENCE_TIME segmentStop_ = 0;
    // A round delivered while paused opened the segment; delivery goes on in it.
    bool segmentOpen_ = false;
    // The source was read since the last seek (a repeated seek is then not skipped).
    bool sourceMoved_ = false;
    bool pendingDiscontinuity_[2] = {true, true};  // streaming thread only
    Event ack_{Event::Reset::Manual};
    Thread thread_;
};
