#pragma once
// "Audio Renderer": plays PCM (8-bit, 16-bit) and IEEE float audio of any rate and
// channel count through the process mixer. Exposes IBasicAudio (volume and balance in
// hundredths of a decibel) and a reference clock driven by the samples the mixer has
// consumed. Receive blocks while the mixer input is full (this paces the upstream) and,
// once a sample is held, while paused; end of stream is reported after the last sample
// was played.
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "framework/InterfacePtr.h"
#include "framework/dshow/CBaseFilter.h"
#include "framework/dshow/CBaseInputPin.h"
#include "framework/dshow/CPosPassThru.h"
#include "platform/audio/Mixer.h"
#include "platform/dshow/AudioRendererClock.h"
#include "platform/dshow/FilterRegistry.h"

class AudioRenderer;

class AudioRendererInputPin : public CBaseInputPin {
public:
    AudioRendererInputPin(AudioRenderer* renderer, CriticalSection* lock, HRESULT* phr);

    HRESULT CheckMediaType(const CMediaType* pmt) override;
    HRESULT CompleteConnect(IPin* pReceivePin) override;
    HRESULT BreakConnect() override;
    HRESULT Receive(IMediaSample* pSample) override;
    HRESULT EndOfStream() override;
    HRESULT BeginFlush() override;
    HRESULT EndFlush() override;
    HRESULT NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) override;

private:
    AudioRenderer* renderer_;
};

class AudioRenderer : public CBaseFilter, public IBasicAudio {
public:
    // CLSID_DSoundRender, the system's default audio renderer.
    static const CLSID& classId();
    // The registry entry: a rendering input for audio PCM and IEEE float.
    static FilterRegistration registration();
    // Adds the registration to the process's filter registry (idempotent).
    static bool registerClass();

    // Plays into `mixer` (the process mixer by default).
    explicit AudioRenderer(Mixer& mixer = Mixer::instance(), HRESULT* phr = nullptr);
    ~AudioRenderer() override;

    HRESULT QueryInterface(REFIID riid, void** ppv) override { return CBaseFilter::QueryInterface(riid, ppv); }
    ULONG AddRef() override { return CBaseFilter::AddRef(); }
    ULONG Release() override { return CBaseFilter::Release(); }

    HRESULT Stop() override;
    HRESULT Pause() override;
    HRESULT Run(REFERENCE_TIME tStart) override;
    // Paused without a sample (or end of stream) yet: VFW_S_STATE_INTERMEDIATE after the wait.
    HRESULT GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) override;

    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? &pin_ : nullptr; }

    // IBasicAudio: volume -10000 (silent) ... 0, balance -10000 (left only) ... 10000.
    HRESULT put_Volume(LONG lVolume) override;
    HRESULT get_Volume(LONG* plVolume) override;
    HRESULT put_Balance(LONG lBalance) override;
    HRESULT get_Balance(LONG* plBalance) override;

    // The mixer input of the current connection (null when not connected).
    std::shared_ptr<MixerInput> mixerInput();
    AudioRendererClock* clock() { return clock_.get(); }

    // Differences from a sample's time smaller than this are played as they come.
    static constexpr REFERENCE_TIME kTolerance = 20 * 10000;
    // Holes longer than this are not filled with silence.
    static constexpr REFERENCE_TIME kMaxGap = 10 * UNITS;
    // Audio held ahead of the mixer. A second lets a paused graph preroll files whose
    // audio runs well ahead of their video without the upstream stalling.
    static constexpr uint32_t kQueueMs = 1000;

protected:
    HRESULT queryOther(REFIID riid, void** ppv) override;

private:
    friend class AudioRendererInputPin;

    // Pin side.
    HRESULT connect(const CMediaType& type);
    void disconnect();
    HRESULT receive(IMediaSample* sample, const AM_SAMPLE2_PROPERTIES& props, uint64_t generation);
    HRESULT endOfStream();
    void beginFlush();
    void endFlush();
    void newSegment();

    // With mutex_ held.
    void cancelStartLocked();
    void scheduleStartLocked(REFERENCE_TIME tStart);
    REFERENCE_TIME expectedTimeLocked() const;

    // Writes all frames, waiting for room; false when a flush or stop came first.
    bool writeAll(MixerInput& input, const uint8_t* data, size_t frames, uint64_t generation);
    bool writeSilence(MixerInput& input, size_t frames, uint64_t generation);
    // Lets the current input play out, then replaces it with one for `format`.
    bool changeFormat(const AudioFormat& format, uint64_t generation);
    bool aborted(uint64_t generation);
    void watch();

    CriticalSection stateLock_;
    Mixer& mixer_;
    AudioRendererInputPin pin_;
    CRendererPosPassThru seeking_;  // seeking goes upstream; the position is the last sample's
    InterfacePtr<AudioRendererClock> clock_;

    std::mutex mutex_;
    std::shared_ptr<MixerInput> input_;
    AudioFormat format_;
    std::atomic<LONG> volume_{0};
    std::atomic<LONG> balance_{0};
    std::atomic<uint64_t> generation_{0};    // moves on every flush and stop
    Event abort_{Event::Reset::Manual};      // wakes a blocked Receive for a flush or stop
    Event prerolled_{Event::Reset::Manual};  // a sample or end of stream arrived since pause
    bool endOfStream_ = false;               // reported once played out
    // Stream time just past the last frame written: anchor + frames at the input rate.
    bool expectedValid_ = false;
    REFERENCE_TIME expectedAnchor_ = 0;
    uint64_t expectedFrames_ = 0;
    // The mixer input starts at the run's start time, on the graph's clock.
    bool startPending_ = false;
    Event startEvent_{Event::Reset::Manual};
    InterfacePtr<IReferenceClock> startClock_;
    DWORD_PTR startCookie_ = 0;

    Event wake_{Event::Reset::Auto};
    bool quit_ = false;
    std::thread watcher_;
};
