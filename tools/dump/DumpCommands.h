#pragma once
// The commands of layerdeck-dump, callable from tests: each writes its result (JSON on
// out for info, files for frames and audio) and returns 0, or returns 1 with a one-line
// reason in error.
//
// An .mbc movie is read by the project's own reader and decoder, bit for bit; PNG, GBCF
// and BMP pictures go through the still-image codec; every other file goes through the
// graph the player builds for it (see DumpGraph). Route::Graph sends an .mbc movie
// through its graph as well (the MBC splitter).
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

namespace dump {

enum class Route { Auto, Graph };

// Which pictures frames writes, by their number in display order (the first is 0):
// first, first + every, first + 2 * every, ... count of them at most.
struct FrameSelection {
    uint64_t first = 0;
    uint64_t count = std::numeric_limits<uint64_t>::max();
    uint64_t every = 1;

    bool wants(uint64_t n) const;
    // True when no picture from n on is wanted.
    bool doneBefore(uint64_t n) const;
};

struct FrameOptions {
    bool raw = false;  // NNNNN.bgra instead of NNNNN.png
    FrameSelection selection;
    Route route = Route::Auto;
};

struct InfoOptions {
    Route route = Route::Auto;
    // Decode a movie that goes through its graph to the end and count what comes out,
    // instead of working the frame count out from the length and the frame rate.
    bool decode = false;
};

// Makes the engine's filters and the GBCF payload decoder available, as the player does
// at start-up. Safe to call more than once.
void registerEngine();

int info(const std::string& path, const InfoOptions& options, std::FILE* out, std::string& error);
int frames(const std::string& path, const std::string& outDir, const FrameOptions& options, std::string& error);
int audio(const std::string& path, const std::string& wavPath, Route route, std::string& error);

// The plain forms.
inline int info(const std::string& path, std::FILE* out, std::string& error) {
    return info(path, InfoOptions{}, out, error);
}
inline int frames(const std::string& path, const std::string& outDir, bool raw, std::string& error) {
    FrameOptions options;
    options.raw = raw;
    return frames(path, outDir, options, error);
}
inline int audio(const std::string& path, const std::string& wavPath, std::string& error) {
    return audio(path, wavPath, Route::Auto, error);
}

}  // namespace dump
