#include "tools/dump/DumpArguments.h"

#include <charconv>

namespace dump {

const char kUsage[] =
    "usage: layerdeck-dump info FILE [--graph] [--decode]\n"
    "       layerdeck-dump frames FILE OUTDIR [--raw] [--first N] [--count K] [--every N] [--graph]\n"
    "       layerdeck-dump audio FILE OUT.wav [--graph]\n"
    "\n"
    "info    prints one JSON object: format, width, height, frameCount, durationHundredNs,\n"
    "        hasVideo, hasAudio, channels, sampleRate, bitsPerSample; for movies that play\n"
    "        through a filter graph also container (the splitter's name), frameRate,\n"
    "        sampleFormat (u8, s16, f32) and frameCountExact. The frame count comes from\n"
    "        the length and the frame rate unless --decode decodes the whole movie and\n"
    "        counts the pictures (then audioFrames counts the sound's sample frames too).\n"
    "frames  writes the delivered pictures in display order as OUTDIR/NNNNN.png, NNNNN\n"
    "        being the picture's number from 0, or with --raw as NNNNN.bgra (top-down rows\n"
    "        of width*4 bytes). --first N starts at picture N, --every N keeps every Nth\n"
    "        picture from there, --count K stops after K written pictures.\n"
    "audio   writes the sound the movie's audio stream delivers as a WAV file (16-bit\n"
    "        PCM for .mbc; otherwise the decoder's own format: 8 or 16-bit PCM, or float).\n"
    "        Through the graph, the MBC splitter hands over its sound only as fast as its\n"
    "        pictures go, so without a clock the end may be missing; the reader's is whole.\n"
    "\n"
    "FILE is anything the player plays: an .mbc movie (read by the MBC reader and decoder,\n"
    "or with --graph through the player's graph), a .png, .gbcf or .bmp picture, or a\n"
    "movie or sound file (.mpg, .mp4, .avi, .mkv, .wav ...) decoded through the graph the\n"
    "player builds for it, without waiting for a clock. On failure one line goes to\n"
    "stderr and the exit status is 1.\n";

namespace {

// A word as it may appear inside a one-line message.
std::string printable(const std::string& word) {
    std::string out = word;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return out;
}

bool parseCount(const std::string& word, uint64_t* value) {
    const char* end = word.data() + word.size();
    auto [at, ec] = std::from_chars(word.data(), end, *value);
    return ec == std::errc() && at == end && !word.empty();
}

}  // namespace

bool parseArguments(const std::vector<std::string>& words, Arguments& out, std::string& error) {
    out = Arguments{};
    if (words.size() == 1 && (words[0] == "--help" || words[0] == "-h")) return true;
    if (words.empty()) {
        error = "no command (see --help)";
        return false;
    }
    const std::string& command = words[0];
    size_t positional = 0;
    if (command == "info") {
        out.command = Arguments::Command::Info;
        positional = 1;
    } else if (command == "frames") {
        out.command = Arguments::Command::Frames;
        positional = 2;
    } else if (command == "audio") {
        out.command = Arguments::Command::Audio;
        positional = 2;
    } else {
        error = "unknown command '" + printable(command) + "' (see --help)";
        return false;
    }
    std::vector<std::string> names;
    bool first = false, count = false, every = false;
    for (size_t i = 1; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w.size() < 2 || w.compare(0, 2, "--") != 0) {
            names.push_back(w);
            continue;
        }
        const bool frames = out.command == Arguments::Command::Frames;
        if (w == "--graph") {
            out.route = Route::Graph;
        } else if (w == "--decode" && out.command == Arguments::Command::Info) {
            out.info.decode = true;
        } else if (w == "--raw" && frames) {
            out.frames.raw = true;
        } else if (frames && (w == "--first" || w == "--count" || w == "--every")) {
            uint64_t value = 0;
            if (i + 1 >= words.size() || !parseCount(words[i + 1], &value)) {
                error = w + " wants a whole number";
                return false;
            }
            ++i;
            bool& seen = w == "--first" ? first : w == "--count" ? count : every;
            if (seen) {
                error = w + " given twice";
                return false;
            }
            seen = true;
            if (w != "--first" && value == 0) {
                error = w + " must be at least 1";
                return false;
            }
            (w == "--first"   ? out.frames.selection.first
             : w == "--count" ? out.frames.selection.count
                              : out.frames.selection.every) = value;
        } else {
            error = "unknown option " + printable(w) + " for " + command + " (see --help)";
            return false;
        }
    }
    if (names.size() != positional) {
        error = command + (positional == 1 ? " wants FILE" : " wants FILE and an output") + " (see --help)";
        return false;
    }
    out.file = names[0];
    if (positional == 2) out.output = names[1];
    out.info.route = out.route;
    out.frames.route = out.route;
    return true;
}

}  // namespace dump
