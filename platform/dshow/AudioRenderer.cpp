#include "platform/dshow/AudioRenderer.h"

#include <algorithm>
#include <vector>

#include "framework/dshow/MediaGuids.h"
#include "framework/dshow/MediaType.h"
#include "platform/dshow/AudioRendererFormat.h"

namespace {

REFERENCE_TIME framesToTime(uint64_t frames, uint32_t rate) {
    return static_cast<REFERENCE_TIME>(static_cast<__int128>(frames) * UNITS / rate);
}

uint64_t timeToFrames(REFERENCE_TIME t, uint32_t rate) {
    return t <= 0 ? 0 : static_cast<uint64_t>(static_cast<__int128>(t) * rate / UNITS);
}

}  // namespace

// ---- Input pin ----

AudioRendererInputPin::AudioRendererInputPin(AudioRenderer* renderer, CriticalSection* lock, HRESULT* phr)
    : CBaseInputPin(u"Audio Renderer input", renderer, lock, phr, u"Input"), renderer_(renderer) {}

HRESULT AudioRendererInputPin::CheckMediaType(const CMediaType* pmt) {
    if (!pmt) return E_POINTER;
    return audioFormatFromMediaType(*pmt) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT AudioRendererInputPin::CompleteConnect(IPin* pReceivePin) {
    HRESULT hr = CBaseInputPin::CompleteConnect(pReceivePin);
    if (FAILED(hr)) return hr;
    return renderer_->connect(m_mt);
}

HRESULT AudioRendererInputPin::BreakConnect() {
    renderer_->disconnect();
    return CBaseInputPin::BreakConnect();
}

HRESULT AudioRendererInputPin::Receive(IMediaSample* pSample) {
    // Taken before the streaming checks: a flush from here on discards this sample.
    uint64_t generation = renderer_->generation_.load();
    HRESULT hr = CBaseInputPin::Receive(pSample);
    if (hr != S_OK) return hr;
    return renderer_->receive(pSample, m_SampleProps, generation);
}

HRESULT AudioRendererInputPin::EndOfStream() {
    HRESULT hr = CheckStreaming();
    if (hr != S_OK) return hr == S_FALSE ? S_OK : hr;  // ignored while flushing
    return renderer_->endOfStream();
}

HRESULT AudioRendererInputPin::BeginFlush() {
    CBaseInputPin::BeginFlush();
    renderer_->beginFlush();
    return S_OK;
}

HRESULT AudioRendererInputPin::EndFlush() {
    renderer_->endFlush();
    return CBaseInputPin::EndFlush();
}

HRESULT AudioRendererInputPin::NewSegment(REFERENCE_TIME tStart, REFERENCE_TIME tStop, double dRate) {
    CBaseInputPin::NewSegment(tStart, tStop, dRate);
    renderer_->newSegment();
    return S_OK;
}

// ---- Filter ----

const CLSID& AudioRenderer::classId() {
    return CLSID_DSoundRender;
}

FilterRegistration AudioRenderer::registration() {
    FilterRegistration r;
    r.clsid = CLSID_DSoundRender;
    r.name = u"Audio Renderer";
    r.merit = MERIT_PREFERRED;
    r.create = [](REFIID riid, void** out) -> HRESULT {
        if (!out) return E_POINTER;
        *out = nullptr;
        HRESULT hr = S_OK;
        auto* renderer = new (std::nothrow) AudioRenderer(Mixer::instance(), &hr);
        if (!renderer) return E_OUTOFMEMORY;
        renderer->AddRef();
        if (SUCCEEDED(hr)) hr = renderer->QueryInterface(riid, out);
        renderer->Release();
        return hr;
    };
    RegisteredPin input;
    input.rendered = true;
    input.types = {{MEDIATYPE_Audio, MEDIASUBTYPE_PCM}, {MEDIATYPE_Audio, MEDIASUBTYPE_IEEE_FLOAT}};
    r.pins.push_back(input);
    return r;
}

bool AudioRenderer::registerClass() {
    return FilterRegistry::instance().registerFilter(registration());
}

AudioRenderer::AudioRenderer(Mixer& mixer, HRESULT* phr)
    : CBaseFilter(u"Audio Renderer", &stateLock_, CLSID_DSoundRender, phr),
      mixer_(mixer),
      pin_(this, &stateLock_, phr),
      seeking_(u"Audio Renderer seeking", static_cast<IBaseFilter*>(this), phr, static_cast<IPin*>(&pin_)),
      clock_(new AudioRendererClock()) {
    prerolled_.set();
    watcher_ = std::thread([this] { watch(); });
}

AudioRenderer::~AudioRenderer() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        cancelStartLocked();
    }
    wake_.set();
    watcher_.join();
    disconnect();
}

HRESULT AudioRenderer::queryOther(REFIID riid, void** ppv) {
    if (riid == IBasicAudio::iid) {
        *ppv = static_cast<IBasicAudio*>(this);
        AddRef();
        return S_OK;
    }
    if (riid == IReferenceClock::iid) return clock_->QueryInterface(riid, ppv);
    if (riid == IMediaSeeking::iid) {
        *ppv = static_cast<IMediaSeeking*>(&seeking_);
        AddRef();
        return S_OK;
    }
    return CBaseFilter::queryOther(riid, ppv);
}

std::shared_ptr<MixerInput> AudioRenderer::mixerInput() {
    std::lock_guard lock(mutex_);
    return input_;
}

HRESULT AudioRenderer::connect(const CMediaType& type) {
    auto format = audioFormatFromMediaType(type);
    if (!format) return VFW_E_TYPE_NOT_ACCEPTED;
    auto input = mixer_.createInput(*format);
    if (!input) return E_FAIL;
    input->setPaused(true);
    input->setCapacityMs(kQueueMs);
    input->setVolume(volume_.load());
    input->setBalance(balance_.load());
    std::shared_ptr<MixerInput> old;
    {
        std::lock_guard lock(mutex_);
        old = std::exchange(input_, input);
        format_ = *format;
    }
    if (old) mixer_.removeInput(old);
    clock_->setInput(input);
    return S_OK;
}

void AudioRenderer::disconnect() {
    std::shared_ptr<MixerInput> old;
    {
        std::lock_guard lock(mutex_);
        old = std::move(input_);
        input_.reset();
    }
    clock_->setInput(nullptr);
    if (old) mixer_.removeInput(old);
}

// ---- State ----

HRESULT AudioRenderer::Stop() {
    // Free a Receive blocked on a full queue first; it holds no lock of ours.
    ++generation_;
    abort_.set();
    ScopedLock state(stateLock_);
    HRESULT hr = CBaseFilter::Stop();
    seeking_.ResetMediaTime();
    {
        std::lock_guard lock(mutex_);
        cancelStartLocked();
        if (input_) {
            input_->setPaused(true);
            input_->flush();
        }
        endOfStream_ = false;
        expectedValid_ = false;
        prerolled_.set();
    }
    wake_.set();
    return hr;
}

HRESULT AudioRenderer::Pause() {
    ScopedLock state(stateLock_);
    FILTER_STATE was = m_State.load();
    {
        std::lock_guard lock(mutex_);
        if (was == State_Stopped) {
            abort_.reset();
            endOfStream_ = false;
            expectedValid_ = false;
            // Pausing completes when the first sample (or the end) arrives.
            if (pin_.IsConnected())
                prerolled_.reset();
            else
                prerolled_.set();
        } else if (was == State_Running) {
            cancelStartLocked();
            if (input_) input_->setPaused(true);
        }
    }
    HRESULT hr = CBaseFilter::Pause();
    wake_.set();
    return hr;
}

HRESULT AudioRenderer::Run(REFERENCE_TIME tStart) {
    ScopedLock state(stateLock_);
    FILTER_STATE was = m_State.load();
    HRESULT hr = CBaseFilter::Run(tStart);  // pauses first when stopped
    if (FAILED(hr)) return hr;
    if (was != State_Running) {
        std::lock_guard lock(mutex_);
        scheduleStartLocked(tStart);
    }
    wake_.set();
    return hr;
}

HRESULT AudioRenderer::GetState(DWORD dwMilliSecsTimeout, FILTER_STATE* State) {
    if (!State) return E_POINTER;
    *State = m_State.load();
    if (*State != State_Paused) return S_OK;
    if (prerolled_.isSet() || prerolled_.wait(dwMilliSecsTimeout)) return S_OK;
    return VFW_S_STATE_INTERMEDIATE;
}

REFERENCE_TIME AudioRenderer::expectedTimeLocked() const {
    return expectedAnchor_ + framesToTime(expectedFrames_, format_.rate);
}

void AudioRenderer::scheduleStartLocked(REFERENCE_TIME tStart) {
    cancelStartLocked();
    if (!input_) return;
    // The next frame to play belongs at stream time `next`: start the input when the
    // graph's clock reaches tStart + next.
    REFERENCE_TIME next = 0;
    if (expectedValid_) {
        REFERENCE_TIME queued = framesToTime(input_->queuedFrames(), MixFormat::kRate);
        next = std::max<REFERENCE_TIME>(0, expectedTimeLocked() - queued);
    }
    // A device plays what it takes one buffer later: hand the audio over that much early.
    REFERENCE_TIME when = tStart + next - framesToTime(mixer_.outputLatencyFrames(), MixFormat::kRate);
    startClock_ = m_pClock;
    if (startClock_ && when > 0) {
        startEvent_.reset();
        DWORD_PTR cookie = 0;
        if (SUCCEEDED(startClock_->AdviseTime(when, 0, &startEvent_, &cookie)) && cookie) {
            startCookie_ = cookie;
            startPending_ = true;
            return;
        }
        startClock_.reset();
    }
    input_->setPaused(false);
}

void AudioRenderer::cancelStartLocked() {
    if (startClock_ && startCookie_) startClock_->Unadvise(startCookie_);
    startClock_.reset();
    startCookie_ = 0;
    startPending_ = false;
    startEvent_.reset();
}

// The watcher starts the input at its time and reports the end once it has played out.
void AudioRenderer::watch() {
    for (;;) {
        bool complete = false;
        std::vector<Event*> waits{&wake_};
        std::shared_ptr<MixerInput> input;
        {
            std::lock_guard lock(mutex_);
            if (quit_) return;
            bool running = m_State.load() == State_Running;
            if (startPending_ && startEvent_.isSet()) {
                startPending_ = false;
                startCookie_ = 0;
                startClock_.reset();
                if (running && input_) input_->setPaused(false);
            }
            if (endOfStream_ && running && !startPending_ && (!input_ || input_->drained())) {
                endOfStream_ = false;
                complete = true;
            } else {
                if (startPending_) waits.push_back(&startEvent_);
                if (endOfStream_ && running && input_) {
                    input = input_;  // keeps the event alive while waiting
                    waits.push_back(&input->drainedEvent());
                }
            }
        }
        if (complete) {
            NotifyEvent(EC_COMPLETE, S_OK, 0);
            continue;
        }
        Event::waitAny(waits, INFINITE);
    }
}

// ---- Streaming ----

bool AudioRenderer::aborted(uint64_t generation) {
    return generation_.load() != generation;
}

bool AudioRenderer::writeAll(MixerInput& input, const uint8_t* data, size_t frames, uint64_t generation) {
    const size_t frameBytes = input.format().bytesPerFrame();
    while (frames > 0) {
        size_t n;
        {
            // Under our lock, so a flush either comes first and stops us or discards this.
            std::lock_guard lock(mutex_);
            if (aborted(generation)) return false;
            n = input.write(data, frames);
        }
        data += n * frameBytes;
        frames -= n;
        if (frames == 0) break;
        if (aborted(generation)) return false;
        // A bounded wait as well, in case the input was replaced under us.
        Event::waitAny({&input.spaceEvent(), &abort_}, 50);
        if (aborted(generation)) return false;
    }
    return true;
}

bool AudioRenderer::writeSilence(MixerInput& input, size_t frames, uint64_t generation) {
    const AudioFormat& f = input.format();
    constexpr size_t kBlock = 4096;
    std::vector<uint8_t> zeros(std::min(frames, kBlock) * f.bytesPerFrame(), f.type == SampleType::U8 ? 128 : 0);
    while (frames > 0) {
        size_t n = std::min(frames, kBlock);
        if (!writeAll(input, zeros.data(), n, generation)) return false;
        frames -= n;
    }
    return true;
}

bool AudioRenderer::changeFormat(const AudioFormat& format, uint64_t generation) {
    std::shared_ptr<MixerInput> old = mixerInput();
    if (old && old->format() == format) return true;
    if (old) {
        // What is queued plays out in the old format first.
        old->endOfStream();
        while (!old->drained() && !aborted(generation)) Event::waitAny({&old->drainedEvent(), &abort_}, 50);
    }
    auto input = mixer_.createInput(format);
    if (!input) return false;
    input->setCapacityMs(kQueueMs);
    input->setVolume(volume_.load());
    input->setBalance(balance_.load());
    {
        std::lock_guard lock(mutex_);
        bool playing = m_State.load() == State_Running && !startPending_;
        input->setPaused(!playing);
        expectedAnchor_ = expectedTimeLocked();  // at the old rate
        expectedFrames_ = 0;
        input_ = input;
        format_ = format;
    }
    clock_->setInput(input);
    if (old) mixer_.removeInput(old);
    return true;
}

HRESULT AudioRenderer::receive(IMediaSample* sample, const AM_SAMPLE2_PROPERTIES& props, uint64_t generation) {
    if (props.dwSampleFlags & AM_SAMPLE_TYPECHANGED) {
        AM_MEDIA_TYPE* type = nullptr;
        std::optional<AudioFormat> format;
        if (sample->GetMediaType(&type) == S_OK && type) {
            format = audioFormatFromMediaType(*type);
            DeleteMediaType(type);
        }
        // The base pin has already refused a type it cannot take.
        prerolled_.set();
        if (!format || !changeFormat(*format, generation)) return VFW_E_INVALIDMEDIATYPE;
    }
    if (props.dwSampleFlags & AM_SAMPLE_PREROLL) {
        prerolled_.set();
        return S_OK;
    }

    BYTE* data = nullptr;
    if (FAILED(sample->GetPointer(&data)) || !data) return E_POINTER;
    LONG size = sample->GetSize();
    LONG actual = std::clamp<LONG>(sample->GetActualDataLength(), 0, std::max<LONG>(size, 0));

    // The stream time is read before our lock: it takes the filter's state lock.
    REFERENCE_TIME now = 0;
    bool haveNow = m_State.load() == State_Running && SUCCEEDED(StreamTime(now));

    std::shared_ptr<MixerInput> input;
    size_t frames = 0, skip = 0, silence = 0;
    {
        std::lock_guard lock(mutex_);
        if (aborted(generation)) return S_FALSE;  // flushed (or stopped) meanwhile
        input = input_;
        if (!input) return VFW_E_NOT_CONNECTED;
        const uint32_t rate = format_.rate;
        frames = static_cast<size_t>(actual) / format_.bytesPerFrame();  // a partial frame is dropped
        if (props.dwSampleFlags & AM_SAMPLE_TIMEVALID) {
            REFERENCE_TIME start = props.tStart;
            // While running dry, "now" is where the next frame would be heard.
            if (haveNow && !startPending_ && input->queuedFrames() == 0) {
                if (!expectedValid_ || expectedTimeLocked() < now) {
                    expectedValid_ = true;
                    expectedAnchor_ = now;
                    expectedFrames_ = 0;
                }
            }
            if (!expectedValid_) {
                expectedValid_ = true;
                expectedAnchor_ = start;
                expectedFrames_ = 0;
            }
            REFERENCE_TIME gap = start - expectedTimeLocked();
            if (gap > kMaxGap) {
                // A jump this far is a damaged time stamp, not a pause in the sound: take
                // the new time as it is rather than hold the stream for that long.
                expectedAnchor_ = start;
                expectedFrames_ = 0;
            } else if (gap > kTolerance) {
                // A hole in the stream is heard as silence, so what follows keeps its time.
                silence = timeToFrames(gap, rate);
            } else if (gap < -kTolerance) {
                // Late or overlapping: what should already have been heard is dropped.
                skip = std::min<size_t>(frames, timeToFrames(-gap, rate));
            }
        }
        expectedFrames_ += silence + (frames - skip);
    }
    seeking_.RegisterMediaTime(sample);
    prerolled_.set();
    if (silence && !writeSilence(*input, silence, generation)) return S_FALSE;
    if (!writeAll(*input, data + skip * input->format().bytesPerFrame(), frames - skip, generation))
        return m_State.load() == State_Stopped ? VFW_E_WRONG_STATE : S_FALSE;
    return S_OK;
}

HRESULT AudioRenderer::endOfStream() {
    {
        std::lock_guard lock(mutex_);
        if (input_) input_->endOfStream();
        endOfStream_ = true;
    }
    seeking_.EOS();
    prerolled_.set();
    wake_.set();
    return S_OK;
}

void AudioRenderer::beginFlush() {
    ++generation_;
    abort_.set();
    seeking_.ResetMediaTime();
    std::lock_guard lock(mutex_);
    if (input_) input_->flush();
    endOfStream_ = false;
    expectedValid_ = false;
    // A paused renderer needs a new sample to complete the pause again.
    if (m_State.load() == State_Paused) prerolled_.reset();
}

void AudioRenderer::endFlush() {
    std::lock_guard lock(mutex_);
    abort_.reset();
}

void AudioRenderer::newSegment() {
    std::lock_guard lock(mutex_);
    expectedValid_ = false;
}

// ---- IBasicAudio ----

HRESULT AudioRenderer::put_Volume(LONG lVolume) {
    if (lVolume < kLevelSilent || lVolume > kLevelFull) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    volume_ = lVolume;
    if (input_) input_->setVolume(lVolume);
    return S_OK;
}

HRESULT AudioRenderer::get_Volume(LONG* plVolume) {
    if (!plVolume) return E_POINTER;
    *plVolume = volume_.load();
    return S_OK;
}

HRESULT AudioRenderer::put_Balance(LONG lBalance) {
    if (lBalance < kBalanceLeftOnly || lBalance > kBalanceRightOnly) return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    balance_ = lBalance;
    if (input_) input_->setBalance(lBalance);
    return S_OK;
}

HRESULT AudioRenderer::get_Balance(LONG* plBalance) {
    if (!plBalance) return E_POINTER;
    *plBalance = balance_.load();
    return S_OK;
}
