#pragma once
// The layerdeck-render command: reads a list file, renders the video area at the chosen
// times of the common time line into PNG files and, when asked, plays the list in real
// time into a WAV file. Every failure is one line on the error stream and exit code 1.
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

struct RenderOptions {
    std::string listPath;
    std::string outDir;
    std::vector<uint32_t> atMs;  // --at
    uint32_t fps = 0;            // --fps (0: not given)
    int64_t durationMs = -1;     // --duration in ms (-1: not given)
    std::string wavPath;         // --wav
    bool help = false;

    // False with a one-line reason.
    static bool parse(const std::vector<std::string>& args, RenderOptions* out, std::string* error);
};

// The frame times: the --at times and the --fps times below the duration (or below
// playLengthMs when no duration was given), sorted, each once. With neither option and
// no WAV, the single time 0.
std::vector<uint32_t> frameTimes(const RenderOptions& options, uint32_t playLengthMs);

// "frame_<ms>.png" with the milliseconds written as eight digits.
std::string frameFileName(uint32_t ms);

// The whole command; answers the process's exit code.
int runRenderCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

// The largest time a frame may be asked for (eight digits of milliseconds).
constexpr uint32_t kMaxFrameTimeMs = 99999999;
