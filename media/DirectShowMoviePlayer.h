#pragma once
// The player of one movie over a filter graph: builds the graph for the file (own file
// source or the graph's own choice, the container's filters, the engine's renderers or
// the system's video window) and drives it with the transport and audio operations.
#include <cstdint>

#include "framework/InterfacePtr.h"
#include "framework/WinTypes.h"
#include "framework/dshow/Dshow.h"
#include "media/MoviePlayer.h"
#include "media/OpenParameters.h"

class DirectShowPlayerFactory;
class VideoFrameSource;

class DirectShowMoviePlayer : public MoviePlayer {
public:
    // Delay before a looping graph restarts after its end.
    static constexpr uint32_t kLoopRestartDelayMs = 33;
    // WS_CHILD | WS_CLIPSIBLINGS for the system video window.
    static constexpr LONG kChildVideoStyle = 0x44000000;

    // width and height: the factory's video area, the size a reset placement takes.
    DirectShowMoviePlayer(DirectShowPlayerFactory* factory, HWND window, int width, int height);

    // Builds the graph. Posts the completion message (result, cookie) in every case but a
    // null file name, which answers E_POINTER at once.
    HRESULT open(const OpenParameters& parameters, const char16_t* fileName);
    // The graph-event message: drains the events, handles the end of the stream. 1.
    LRESULT processGraphEvents();
    // The factory is going: stop the graph, let go of everything and of the factory.
    void shutdown();

    void close() override;
    int play(int loop) override;
    int stop() override;
    bool isPlaying() const override;
    uint32_t positionMs() override;
    int64_t position() override;
    int togglePause() override;
    int seekForwardMs(uint32_t ms) override;
    int seekBackMs(uint32_t ms) override;
    int seekToMs(uint32_t ms) override;
    int setPan(int pan) override;
    int setVolume(int volume) override;
    uint32_t durationMs() const override;
    int64_t duration() const override;
    int videoSize(uint32_t* width, uint32_t* height) const override;
    bool hasVideo() const override;
    bool hasAudio() const override;
    int setVideoRect(int reset, const POINT* position, const SIZE* size) override;
    int toggleFullScreen(int toFullScreen) override;
    int seekRelative(int64_t delta) override;
    int seekTo(int64_t position) override;
    int setRate(double rate) override;
    int setPanRaw(int32_t balance) override;
    int setVolumeRaw(int32_t volume) override;
    void suspend() override;
    void resume() override;
    VideoFrameSource* frameSource() override;

    // The graph, for callers that inspect what the open built.
    IGraphBuilder* graph() const { return graph_.get(); }

    // Connects one unconnected output pin of the graph to the renderer's input: S_OK on
    // the first that connects, 1 when the input is connected already, else E_FAIL.
    static HRESULT repairRenderer(IGraphBuilder* graph, IBaseFilter* renderer);

protected:
    ~DirectShowMoviePlayer() override;

private:
    struct EngineRenderer;
    HRESULT build(const OpenParameters& p, const char16_t* fileName, EngineRenderer* renderers);
    HRESULT prepareGraph(const GUID* subtype, const char16_t* fileName, const OpenParameters& p, IBaseFilter* source);
    int setAudio(bool balance, int32_t level);
    void releaseAll();

    DirectShowPlayerFactory* factory_;
    HWND window_;
    int areaWidth_;
    int areaHeight_;
    uint32_t videoWidth_ = 0;
    uint32_t videoHeight_ = 0;
    int64_t duration_ = 0;
    OAHWND savedDrain_ = 0;

    InterfacePtr<IGraphBuilder> graph_;
    InterfacePtr<IMediaControl> control_;
    InterfacePtr<IMediaEventEx> events_;
    InterfacePtr<IMediaSeeking> seeking_;
    InterfacePtr<IBasicAudio> audio_;
    InterfacePtr<IVideoWindow> videoWindow_;
    InterfacePtr<IBasicVideo> basicVideo_;
    // The renderer that carries the frame source, held so the frame source stays alive.
    InterfacePtr<IBaseFilter> videoRenderer_;
    VideoFrameSource* frameSource_ = nullptr;
};
