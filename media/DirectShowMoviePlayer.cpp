#include "media/DirectShowMoviePlayer.h"

#include <chrono>
#include <new>
#include <thread>

#include "framework/ComUser.h"
#include "framework/WindowApi.h"
#include "graphics/DrawBase.h"
#include "media/AudioLevels.h"
#include "media/DirectShowPlayerFactory.h"
#include "media/EngineRenderers.h"
#include "media/FileGraphBuilder.h"
#include "media/FileStreamFilter.h"
#include "media/VideoFrameSource.h"

namespace {

constexpr int32_t kMaxVolume = 1000;
constexpr int32_t kMaxPan = 1000;
constexpr int32_t kMaxBalance = 10000;

bool isConnected(IPin* pin) {
    InterfacePtr<IPin> peer;
    return SUCCEEDED(pin->ConnectedTo(peer.put())) && peer;
}

}  // namespace

// One engine renderer the open adds: the filter (local reference) and its frame source.
struct DirectShowMoviePlayer::EngineRenderer {
    EngineRendererKind kind;
    InterfacePtr<IBaseFilter> filter;
    VideoFrameSource* frameSource = nullptr;
};

DirectShowMoviePlayer::DirectShowMoviePlayer(DirectShowPlayerFactory* factory, HWND window, int width, int height)
    : factory_(factory), window_(window), areaWidth_(width), areaHeight_(height) {}

DirectShowMoviePlayer::~DirectShowMoviePlayer() {
    releaseAll();
}

HRESULT DirectShowMoviePlayer::open(const OpenParameters& p, const char16_t* fileName) {
    if (!fileName) return E_POINTER;
    flags_ = 0;
    HRESULT hr;
    {
        // Local references to the source and renderers end here; the graph keeps its own.
        EngineRenderer renderers[2] = {{EngineRendererKind::Surface, nullptr, nullptr},
                                       {EngineRendererKind::Texture, nullptr, nullptr}};
        hr = build(p, fileName, renderers);
    }
    PostMessageW(window_, DirectShowPlayerFactory::kMediaReadyMessage, static_cast<WPARAM>(hr),
                 static_cast<LPARAM>(p.cookie));
    return hr;
}

HRESULT DirectShowMoviePlayer::prepareGraph(const GUID* subtype, const char16_t* fileName, const OpenParameters& p,
                                            IBaseFilter* source) {
    return FileGraphBuilder::prepare(graph_.get(), subtype, fileName, p.decodeFilterHook, source);
}

HRESULT DirectShowMoviePlayer::build(const OpenParameters& p, const char16_t* fileName, EngineRenderer* renderers) {
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, graph_.put());
    if (FAILED(hr)) return hr;
    if (!graph_) return E_FAIL;

    InterfacePtr<FileStreamFilter> fileSource;
    if (p.flags & MoviePlayerFactory::OpenFileStreamSource) {
        if (!p.streamCallbacks) return E_POINTER;
        hr = S_OK;
        fileSource = new (std::nothrow) FileStreamFilter(*p.streamCallbacks, &hr);
        if (!fileSource) return E_OUTOFMEMORY;
        if (FAILED(hr)) return hr;
        hr = graph_->AddFilter(fileSource.get(), FileStreamFilter::kName);
        if (FAILED(hr)) return hr;
    }

    TextureFactory* textureFactory = p.compositor ? &p.compositor->textureFactory() : nullptr;
    for (int i = 0; i < 2; ++i) {
        EngineRenderer& r = renderers[i];
        uint32_t flag = r.kind == EngineRendererKind::Surface ? MoviePlayerFactory::OpenSurfaceRenderer
                                                              : MoviePlayerFactory::OpenTextureRenderer;
        if (!(p.flags & flag)) continue;
        hr = createEngineRenderer(r.kind, p.device, textureFactory, r.filter.put(), &r.frameSource);
        if (FAILED(hr)) return hr;
        hr = graph_->AddFilter(r.filter.get(), engineRendererName(r.kind));
        if (FAILED(hr)) return hr;
    }

    if (fileSource) {
        hr = FileGraphBuilder::loadAndRender(graph_.get(), fileSource.get(), fileName, p.decodeFilterHook);
    } else {
        hr = prepareGraph(nullptr, fileName, p, nullptr);
        if (FAILED(hr)) return hr;
        hr = graph_->RenderFile(fileName, nullptr);
    }
    if (FAILED(hr)) return hr;
    if (hr != S_OK)
        for (int i = 0; i < 2; ++i)
            if (renderers[i].filter) repairRenderer(graph_.get(), renderers[i].filter.get());

    if (FAILED(hr = graph_.as(control_))) return hr;
    if (FAILED(hr = graph_.as(events_))) return hr;
    if (FAILED(hr = graph_.as(seeking_))) return hr;

    for (int i = 0; i < 2; ++i) {
        EngineRenderer& r = renderers[i];
        if (!r.filter) continue;
        InterfacePtr<IPin> input;
        if (!videoRenderer_ && FileGraphBuilder::firstPin(r.filter.get(), PINDIR_INPUT, input) &&
            isConnected(input.get())) {
            videoRenderer_ = r.filter;
            frameSource_ = r.frameSource;
        } else {
            graph_->RemoveFilter(r.filter.get());
        }
    }
    if (!videoRenderer_) {
        if (FAILED(hr = graph_.as(basicVideo_))) return hr;
        if (FAILED(hr = graph_.as(videoWindow_))) return hr;
    }

    if (SUCCEEDED(graph_.as(audio_)) && SUCCEEDED(audio_->put_Volume(0))) flags_ |= HasAudio;
    LONG visible = 0;
    if (videoRenderer_ || (videoWindow_ && SUCCEEDED(videoWindow_->get_Visible(&visible)))) flags_ |= HasVideo;

    if (p.flags & MoviePlayerFactory::OpenAudioOnly) {
        if (!(flags_ & HasAudio)) return E_INVALIDARG;
        if (videoWindow_) {
            videoWindow_->put_AutoShow(OAFALSE);
            videoWindow_->put_Visible(OAFALSE);
        }
        flags_ &= ~HasVideo;
    } else if (p.flags & MoviePlayerFactory::OpenVideoOnly) {
        if (!(flags_ & HasVideo)) return E_INVALIDARG;
        if (audio_) {
            audio_->put_Balance(0);
            audio_->put_Volume(kSilentLevel);
        }
        flags_ &= ~HasAudio;
    }

    if (flags_ & HasVideo) {
        if (frameSource_) {
            frameSource_->size(&videoWidth_, &videoHeight_);
            if (p.compositor) frameSource_->setLock(&p.compositor->sceneLock());
        } else {
            OAHWND owner = reinterpret_cast<OAHWND>(window_);
            videoWindow_->put_Owner(owner);
            videoWindow_->put_MessageDrain(owner);
            videoWindow_->put_WindowStyle(kChildVideoStyle);
            LONG width = 0, height = 0;
            if (FAILED(basicVideo_->GetVideoSize(&width, &height)) || width < 1 || height < 1) return E_FAIL;
            videoWidth_ = static_cast<uint32_t>(width);
            videoHeight_ = static_cast<uint32_t>(height);
        }
    }

    events_->SetNotifyWindow(reinterpret_cast<OAHWND>(window_),
                             static_cast<LONG>(DirectShowPlayerFactory::kGraphEventMessage),
                             reinterpret_cast<LONG_PTR>(this));
    seeking_->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME);
    LONGLONG length = 0;
    if (SUCCEEDED(seeking_->GetDuration(&length))) duration_ = length;

    UpdateWindow(window_);
    flags_ |= Opened;
    return S_OK;
}

HRESULT DirectShowMoviePlayer::repairRenderer(IGraphBuilder* graph, IBaseFilter* renderer) {
    if (!graph || !renderer) return E_POINTER;
    InterfacePtr<IPin> input;
    if (!FileGraphBuilder::firstPin(renderer, PINDIR_INPUT, input)) return E_FAIL;
    if (isConnected(input.get())) return 1;
    InterfacePtr<IEnumFilters> filters;
    if (FAILED(graph->EnumFilters(filters.put())) || !filters) return E_FAIL;
    for (;;) {
        InterfacePtr<IBaseFilter> filter;
        ULONG fetched = 0;
        HRESULT hr = filters->Next(1, filter.put(), &fetched);
        if (hr == VFW_E_ENUM_OUT_OF_SYNC) return E_FAIL;
        if (hr != S_OK || fetched != 1 || !filter) return E_FAIL;
        InterfacePtr<IEnumPins> pins;
        if (FAILED(filter->EnumPins(pins.put())) || !pins) continue;
        for (;;) {
            InterfacePtr<IPin> pin;
            hr = pins->Next(1, pin.put(), &fetched);
            if (hr != S_OK || fetched != 1 || !pin) break;  // out of sync skips the rest too
            PIN_DIRECTION direction;
            if (isConnected(pin.get()) || FAILED(pin->QueryDirection(&direction)) || direction != PINDIR_OUTPUT)
                continue;
            if (SUCCEEDED(graph->Connect(pin.get(), input.get()))) return S_OK;
        }
    }
}

LRESULT DirectShowMoviePlayer::processGraphEvents() {
    if (!events_) return 1;
    bool complete = false;
    LONG code;
    LONG_PTR param1, param2;
    while (SUCCEEDED(events_->GetEvent(&code, &param1, &param2, 0))) {
        if (code == EC_COMPLETE) complete = true;
        events_->FreeEventParams(code, param1, param2);
    }
    if (!complete || !control_) return 1;
    control_->Stop();
    if (flags_ & Looping) {
        std::this_thread::sleep_for(std::chrono::milliseconds(kLoopRestartDelayMs));
        seekTo(0);
        // A pause taken while the end was on its way stays in force.
        if (flags_ & Paused)
            control_->Pause();
        else
            control_->Run();
    } else {
        flags_ &= ~(Playing | Paused);
    }
    return 1;
}

void DirectShowMoviePlayer::releaseAll() {
    if (control_) control_->Stop();
    if (events_) events_->SetNotifyWindow(0, 0, 0);
    if (videoWindow_) {
        videoWindow_->put_Visible(OAFALSE);
        videoWindow_->put_Owner(0);
    }
    frameSource_ = nullptr;
    videoRenderer_.reset();
    audio_.reset();
    basicVideo_.reset();
    videoWindow_.reset();
    seeking_.reset();
    events_.reset();
    control_.reset();
    graph_.reset();
}

void DirectShowMoviePlayer::shutdown() {
    releaseAll();
    factory_ = nullptr;
    flags_ &= ~(Opened | Playing | Paused);
}

void DirectShowMoviePlayer::close() {
    DirectShowPlayerFactory* factory = factory_;
    factory_ = nullptr;
    if (factory) factory->removePlayer(this);
}

int DirectShowMoviePlayer::play(int loop) {
    if (!(flags_ & Opened)) return 0;
    if (flags_ & Paused) return 1;
    control_->Run();
    if (loop) flags_ |= Looping;
    flags_ = (flags_ | Playing) & ~Paused;
    return 1;
}

int DirectShowMoviePlayer::stop() {
    if (!(flags_ & Playing)) return 1;
    control_->Stop();
    flags_ &= ~(Playing | Paused);
    seekTo(0);
    // Paused rather than stopped, so that the first picture is shown.
    control_->Pause();
    return 1;
}

bool DirectShowMoviePlayer::isPlaying() const {
    return (flags_ & Playing) != 0;
}

uint32_t DirectShowMoviePlayer::positionMs() {
    return static_cast<uint32_t>(static_cast<uint64_t>(position()) / 10000u);
}

int64_t DirectShowMoviePlayer::position() {
    LONGLONG current = 0;
    if (!seeking_ || FAILED(seeking_->GetCurrentPosition(&current))) return 0;
    return current;
}

int DirectShowMoviePlayer::togglePause() {
    if (flags_ & Paused) {
        control_->Run();
        flags_ &= ~Paused;
    } else if (flags_ & Playing) {
        control_->Pause();
        flags_ |= Paused;
    }
    return 1;
}

int DirectShowMoviePlayer::seekForwardMs(uint32_t ms) {
    return seekRelative(static_cast<int64_t>(ms) * MILLISECONDS);
}

int DirectShowMoviePlayer::seekBackMs(uint32_t ms) {
    return seekRelative(-(static_cast<int64_t>(ms) * MILLISECONDS));
}

int DirectShowMoviePlayer::seekToMs(uint32_t ms) {
    return seekTo(static_cast<int64_t>(ms) * MILLISECONDS);
}

int DirectShowMoviePlayer::setAudio(bool balance, int32_t level) {
    if (!(flags_ & Opened) || !(flags_ & HasAudio) || !audio_) return 0;
    HRESULT hr = balance ? audio_->put_Balance(level) : audio_->put_Volume(level);
    return SUCCEEDED(hr) ? 1 : 0;
}

int DirectShowMoviePlayer::setPan(int pan) {
    if (pan < -kMaxPan || pan > kMaxPan) return 0;
    return setAudio(true, panToBalance(pan));
}

int DirectShowMoviePlayer::setVolume(int volume) {
    if (volume < 0 || volume > kMaxVolume) return 0;
    return setAudio(false, toDecibels(volume));
}

int DirectShowMoviePlayer::setPanRaw(int32_t balance) {
    if (balance < -kMaxBalance || balance > kMaxBalance) return 0;
    return setAudio(true, balance);
}

int DirectShowMoviePlayer::setVolumeRaw(int32_t volume) {
    if (volume < kSilentLevel || volume > 0) return 0;
    return setAudio(false, volume);
}

uint32_t DirectShowMoviePlayer::durationMs() const {
    return static_cast<uint32_t>(duration_ / MILLISECONDS);
}

int64_t DirectShowMoviePlayer::duration() const {
    return duration_;
}

int DirectShowMoviePlayer::videoSize(uint32_t* width, uint32_t* height) const {
    if (!width || !height) return 0;
    *width = videoWidth_;
    *height = videoHeight_;
    return 1;
}

bool DirectShowMoviePlayer::hasVideo() const {
    return (flags_ & HasVideo) != 0;
}

bool DirectShowMoviePlayer::hasAudio() const {
    return (flags_ & HasAudio) != 0;
}

int DirectShowMoviePlayer::setVideoRect(int reset, const POINT* position, const SIZE* size) {
    if (!(flags_ & Opened) || !(flags_ & HasVideo)) return 0;
    if ((flags_ & FullScreen) || (!videoWindow_ && !frameSource_)) return 1;
    RECT rect;
    if (reset) {
        rect = {0, 0, areaWidth_, areaHeight_};
    } else {
        LONG left = position ? position->x : 0, top = position ? position->y : 0;
        LONG width = size ? size->cx : static_cast<LONG>(videoWidth_);
        LONG height = size ? size->cy : static_cast<LONG>(videoHeight_);
        rect = {left, top, left + width, top + height};
    }
    if (frameSource_) return frameSource_->setDestination(&rect) >= 0 ? 1 : 0;
    HRESULT hr = videoWindow_->SetWindowPosition(rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
    return SUCCEEDED(hr) ? 1 : 0;
}

int DirectShowMoviePlayer::toggleFullScreen(int toFullScreen) {
    if (!(flags_ & Opened) || !(flags_ & HasVideo) || !videoWindow_) return 0;
    LONG mode = OAFALSE;
    if (FAILED(videoWindow_->get_FullScreenMode(&mode))) return 0;
    bool inFullScreen = mode != OAFALSE;
    if (toFullScreen) {
        if (inFullScreen) return 1;
        OAHWND drain = 0;
        if (FAILED(videoWindow_->get_MessageDrain(&drain))) return 0;
        if (FAILED(videoWindow_->put_MessageDrain(reinterpret_cast<OAHWND>(window_)))) return 0;
        if (FAILED(videoWindow_->put_FullScreenMode(OATRUE))) {
            videoWindow_->put_MessageDrain(drain);
            return 0;
        }
        savedDrain_ = drain;
        flags_ |= FullScreen;
        return 1;
    }
    if (!inFullScreen) return 1;
    if (FAILED(videoWindow_->put_FullScreenMode(OAFALSE))) return 0;
    videoWindow_->put_MessageDrain(savedDrain_);
    videoWindow_->SetWindowForeground(OATRUE);
    flags_ &= ~FullScreen;
    return 1;
}

int DirectShowMoviePlayer::seekRelative(int64_t delta) {
    if (!(flags_ & Opened) || !seeking_) return 0;
    LONGLONG current = 0, stopAt = 0;
    if (FAILED(seeking_->GetPositions(&current, &stopAt))) return 0;
    current += delta;
    // A step back past the start lands on the start.
    if (current < 0) current = 0;
    HRESULT hr = seeking_->SetPositions(&current, AM_SEEKING_AbsolutePositioning, &stopAt, AM_SEEKING_NoPositioning);
    return SUCCEEDED(hr) ? 1 : 0;
}

int DirectShowMoviePlayer::seekTo(int64_t target) {
    if (!(flags_ & Opened) || !seeking_) return 0;
    LONGLONG t = target;
    HRESULT hr = seeking_->SetPositions(&t, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning);
    return SUCCEEDED(hr) ? 1 : 0;
}

int DirectShowMoviePlayer::setRate(double rate) {
    if (!(rate > 0) || !(flags_ & Opened) || !seeking_) return 0;
    return SUCCEEDED(seeking_->SetRate(rate)) ? 1 : 0;
}

void DirectShowMoviePlayer::suspend() {
    if ((flags_ & Playing) && control_) control_->Stop();
}

void DirectShowMoviePlayer::resume() {
    if (!(flags_ & Playing) || !control_) return;
    control_->Run();
    if (flags_ & Paused) control_->Pause();
}

VideoFrameSource* DirectShowMoviePlayer::frameSource() {
    return frameSource_;
}
