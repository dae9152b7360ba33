#pragma once
// One movie file in the graph the player builds for it: the engine's file stream source,
// the container table's preparation and the graph's own search for splitters and
// decoders, with the dump's two sinks standing where the player has its texture renderer
// and the system audio renderer. It runs without a clock, as fast as the decoders go.
#include <cstdint>
#include <optional>
#include <string>

#include "framework/InterfacePtr.h"
#include "framework/dshow/Dshow.h"
#include "platform/audio/AudioFormat.h"
#include "tools/dump/PcmSink.h"
#include "tools/dump/VideoSink.h"

class FileStreamFilter;

class DumpGraph {
public:
    // A run in which no sample arrives for this long is given up rather than waited on.
    static constexpr uint32_t kStallMs = 60000;

    DumpGraph() = default;
    ~DumpGraph();
    DumpGraph(const DumpGraph&) = delete;
    DumpGraph& operator=(const DumpGraph&) = delete;

    // Builds the graph for the file; false with a one-line reason. The engine's classes
    // must be registered (see dump::registerEngine).
    bool open(const std::string& path, std::string& error);

    bool hasVideo() const { return hasVideo_; }
    bool hasAudio() const { return hasAudio_; }
    VideoSink::Layout videoLayout() const;
    std::optional<AudioFormat> audioFormat() const;
    // Length in 100 ns units; 0 when the graph cannot tell.
    int64_t duration() const { return duration_; }
    // The container table's name for the file (its row's extension), or "other".
    const std::string& format() const { return format_; }
    // The registered name of the filter that reads the file's stream.
    const std::string& splitter() const { return splitter_; }

    // Handlers go in before run; a branch without one is decoded and let go.
    VideoSink& video() { return *video_; }
    PcmSink& audio() { return *audio_; }

    // Runs until every branch reached its end or every handler declined more; false
    // with a reason when the graph reports an error or stalls.
    bool run(std::string& error);

private:
    void release();

    InterfacePtr<IGraphBuilder> graph_;
    InterfacePtr<VideoSink> video_;
    InterfacePtr<PcmSink> audio_;
    bool hasVideo_ = false;
    bool hasAudio_ = false;
    int64_t duration_ = 0;
    std::string format_ = "other";
    std::string splitter_;
};
