#include "tools/dump/DumpGraph.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <new>

#include "framework/ComUser.h"
#include "framework/StreamCallbacks.h"
#include "framework/WideString.h"
#include "framework/dshow/EventCodes.h"
#include "media/ContainerFormatTable.h"
#include "media/DirectShowMoviePlayer.h"
#include "media/FileGraphBuilder.h"
#include "media/FileStreamFilter.h"

namespace {

constexpr LONG kPollMs = 20;

InterfacePtr<IPin> onlyPin(IBaseFilter* filter, PIN_DIRECTION wanted) {
    InterfacePtr<IEnumPins> pins;
    if (FAILED(filter->EnumPins(pins.put())) || !pins) return {};
    for (;;) {
        InterfacePtr<IPin> pin;
        ULONG fetched = 0;
        if (pins->Next(1, pin.put(), &fetched) != S_OK || fetched != 1 || !pin) return {};
        PIN_DIRECTION direction;
        if (SUCCEEDED(pin->QueryDirection(&direction)) && direction == wanted) return pin;
    }
}

InterfacePtr<IPin> peerOf(IPin* pin) {
    InterfacePtr<IPin> peer;
    if (!pin || FAILED(pin->ConnectedTo(peer.put()))) return {};
    return peer;
}

std::string filterName(IBaseFilter* filter) {
    FILTER_INFO info{};
    if (FAILED(filter->QueryFilterInfo(&info))) return {};
    if (info.pGraph) info.pGraph->Release();
    return toUtf8(info.achName);
}

// The text after the last "." of the path's last component, or nothing.
std::u16string_view extensionOf(std::u16string_view path) {
    const size_t dot = path.find_last_of(u'.');
    const size_t slash = path.find_last_of(u"/\\");
    if (dot == std::u16string_view::npos || (slash != std::u16string_view::npos && slash > dot)) return {};
    return path.substr(dot + 1);
}

std::string resultText(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
    return text;
}

}  // namespace

DumpGraph::~DumpGraph() {
    release();
}

void DumpGraph::release() {
    if (InterfacePtr<IMediaControl> control = graph_.as<IMediaControl>()) control->Stop();
    graph_.reset();
    video_.reset();
    audio_.reset();
    hasVideo_ = hasAudio_ = false;
    duration_ = 0;
    format_ = "other";
    splitter_.clear();
}

VideoSink::Layout DumpGraph::videoLayout() const {
    return hasVideo_ ? video_->layout() : VideoSink::Layout{};
}

std::optional<AudioFormat> DumpGraph::audioFormat() const {
    return hasAudio_ ? audio_->format() : std::nullopt;
}

bool DumpGraph::open(const std::string& path, std::string& error) {
    release();
    {
        std::error_code ec;
        std::ifstream probe(path, std::ios::binary);
        if (!probe || std::filesystem::is_directory(path, ec)) {
            error = path + ": cannot be read";
            return false;
        }
    }
    const std::u16string name = fromUtf8(path);
    HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, graph_.put());
    if (FAILED(hr) || !graph_) {
        error = "no filter graph can be made (" + resultText(hr) + ")";
        return false;
    }
    // The player's order: the source first, then the renderers.
    hr = S_OK;
    InterfacePtr<FileStreamFilter> source(new (std::nothrow) FileStreamFilter(systemFileCallbacks(), &hr));
    video_ = InterfacePtr<VideoSink>(new (std::nothrow) VideoSink(&hr));
    audio_ = InterfacePtr<PcmSink>(new (std::nothrow) PcmSink(&hr));
    if (!source || !video_ || !audio_ || FAILED(hr) ||
        FAILED(hr = graph_->AddFilter(source.get(), FileStreamFilter::kName)) ||
        FAILED(hr = graph_->AddFilter(video_.get(), VideoSink::kName)) ||
        FAILED(hr = graph_->AddFilter(audio_.get(), PcmSink::kName))) {
        error = "the dump's filters cannot be made (" + resultText(hr) + ")";
        return false;
    }

    hr = FileGraphBuilder::loadAndRender(graph_.get(), source.get(), name.c_str(), nullptr);
    if (hr == REGDB_E_CLASSNOTREG) {
        error = path + ": the filters for this format are not part of this build";
        return false;
    }
    if (FAILED(hr)) {
        error = path + ": not a format the engine plays (" + resultText(hr) + ")";
        return false;
    }
    // As the player does for its own renderer: a partly rendered graph gets one more try
    // at the picture.
    if (hr != S_OK) DirectShowMoviePlayer::repairRenderer(graph_.get(), video_.get());

    hasVideo_ = static_cast<bool>(peerOf(onlyPin(video_.get(), PINDIR_INPUT).get()));
    hasAudio_ = static_cast<bool>(peerOf(onlyPin(audio_.get(), PINDIR_INPUT).get()));
    // A sink left unconnected would report its end at once and end the run early.
    if (!hasVideo_) graph_->RemoveFilter(video_.get());
    if (!hasAudio_) graph_->RemoveFilter(audio_.get());
    if (!hasVideo_ && !hasAudio_) {
        error = path + ": nothing in it the engine can decode";
        return false;
    }

    // The source announced the container by the file's extension; the row names it.
    const std::u16string_view extension = extensionOf(name);
    if (const ContainerFormat* row = ContainerFormatTable::findByExtension(extension)) format_ = toUtf8(row->extension);
    if (InterfacePtr<IPin> reader = peerOf(onlyPin(source.get(), PINDIR_OUTPUT).get())) {
        PIN_INFO info{};
        if (SUCCEEDED(reader->QueryPinInfo(&info)) && info.pFilter) {
            splitter_ = filterName(info.pFilter);
            info.pFilter->Release();
        }
    }
    InterfacePtr<IMediaSeeking> seeking = graph_.as<IMediaSeeking>();
    LONGLONG length = 0;
    if (seeking && SUCCEEDED(seeking->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME)) &&
        SUCCEEDED(seeking->GetDuration(&length)) && length > 0)
        duration_ = length;
    return true;
}

bool DumpGraph::run(std::string& error) {
    if (!graph_) {
        error = "no graph to run";
        return false;
    }
    InterfacePtr<IMediaFilter> timing = graph_.as<IMediaFilter>();
    InterfacePtr<IMediaControl> control = graph_.as<IMediaControl>();
    InterfacePtr<IMediaEventEx> events = graph_.as<IMediaEventEx>();
    if (!timing || !control || !events) {
        error = "the graph cannot be run";
        return false;
    }
    // No reference clock: every sample is handed on the moment it is decoded.
    HRESULT hr = timing->SetSyncSource(nullptr);
    if (SUCCEEDED(hr)) hr = control->Run();
    if (FAILED(hr)) {
        control->Stop();
        error = "the graph does not start (" + resultText(hr) + ")";
        return false;
    }
    auto progress = [&] { return (hasVideo_ ? video_->received() : 0) + (hasAudio_ ? audio_->receivedBytes() : 0); };
    auto allFinished = [&] { return (!hasVideo_ || video_->finished()) && (!hasAudio_ || audio_->finished()); };
    uint64_t seen = progress();
    auto lastProgress = std::chrono::steady_clock::now();
    bool ok = true;
    for (;;) {
        LONG code = 0;
        if (events->WaitForCompletion(kPollMs, &code) == S_OK) {
            if (code != EC_COMPLETE) {
                error = "decoding stopped with an error (event " + std::to_string(code) + ")";
                ok = false;
            }
            break;
        }
        if (allFinished()) break;
        const uint64_t now = progress();
        if (now != seen) {
            seen = now;
            lastProgress = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - lastProgress > std::chrono::milliseconds(kStallMs)) {
            error = "decoding stalled";
            ok = false;
            break;
        }
    }
    control->Stop();
    return ok;
}
