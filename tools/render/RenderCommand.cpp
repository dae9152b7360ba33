#include "tools/render/RenderCommand.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <ostream>
#include <set>

#include "tools/dump/PngWriter.h"
#include "tools/render/HeadlessStage.h"
#include "tools/render/RenderList.h"

namespace {

constexpr const char kUsage[] =
    "usage: layerdeck-render LIST.json --out DIR [--at T1,T2,...] [--fps N [--duration SECONDS]]\n"
    "                        [--wav FILE.wav]\n"
    "\n"
    "Plays a list of files through the player's engine without a screen and writes what the\n"
    "video area shows.\n"
    "\n"
    "LIST.json    {\"size\": [w, h], \"background\": [r, g, b],\n"
    "              \"items\": [{\"path\": \"...\", \"source\": [l, t, r, b], \"dest\": [l, t, r, b],\n"
    "                         \"opacity\": 0-255, \"volume\": 0-1000, \"pan\": -1000..1000,\n"
    "                         \"offsetMs\": n}, ...]}\n"
    "             The first item is the top layer. Left-out fields take the player's defaults\n"
    "             (the whole picture, 255, 1000, 0, 0, black, and the largest item's size,\n"
    "             at least 336 wide, as the player fits its window); size is at most\n"
    "             16384 x 16384.\n"
    "             Relative paths start at the list file's folder.\n"
    "--out DIR    where DIR/frame_<ms>.png go; <ms> is the common-time-line millisecond,\n"
    "             written with eight digits (frame_00001500.png is 1.5 s).\n"
    "--at T,...   frames at these milliseconds (0 to 99999999).\n"
    "--fps N      frames at 0, 1000/N, 2000/N, ... ms (rounded down) below the duration.\n"
    "--duration S seconds (decimals allowed); without it, the list's play length.\n"
    "--wav FILE   plays the list in real time for the duration and writes the mix\n"
    "             (48 kHz stereo 32-bit float).\n"
    "With neither --at nor --fps nor --wav, one frame at 0 ms is written.\n"
    "\n"
    "Each frame is made by seeking every movie to its own time (T - offset) and pausing it,\n"
    "so the same list gives the same pictures on every run. An item shows what the player\n"
    "shows at that time of its first play after loading: before its start a movie shows its\n"
    "cleared picture and a still nothing; after its end a movie keeps its last picture.\n"
    "Exit code 0 on success, 1 with one line on stderr on any failure.\n";

bool parseUnsigned(const std::string& text, uint64_t max, uint64_t* out) {
    if (text.empty() || text.size() > 12) return false;
    uint64_t v = 0;
    auto r = std::from_chars(text.data(), text.data() + text.size(), v);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size() || v > max) return false;
    *out = v;
    return true;
}

// Decimal seconds ("2", "2.5", "0.04") to whole milliseconds, rounded down.
bool parseSeconds(const std::string& text, int64_t* ms) {
    const size_t dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    std::string fraction = dot == std::string::npos ? "" : text.substr(dot + 1);
    if (whole.empty() && fraction.empty()) return false;
    uint64_t seconds = 0;
    if (!whole.empty() && !parseUnsigned(whole, kMaxFrameTimeMs / 1000, &seconds)) return false;
    if (dot != std::string::npos && fraction.empty()) return false;
    for (char c : fraction)
        if (c < '0' || c > '9') return false;
    fraction.resize(3, '0');
    uint64_t millis = 0;
    if (!parseUnsigned(fraction.substr(0, 3), 999, &millis)) return false;
    *ms = int64_t(seconds * 1000 + millis);
    return true;
}

bool fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

}  // namespace

bool RenderOptions::parse(const std::vector<std::string>& args, RenderOptions* out, std::string* error) {
    RenderOptions o;
    bool haveDuration = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto next = [&](std::string* value) {
            if (i + 1 >= args.size()) return fail(error, a + " needs a value");
            *value = args[++i];
            return true;
        };
        std::string value;
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--out") {
            if (!next(&o.outDir)) return false;
            if (o.outDir.empty()) return fail(error, "--out needs a folder");
        } else if (a == "--at") {
            if (!next(&value)) return false;
            size_t start = 0;
            for (;;) {
                const size_t comma = value.find(',', start);
                const std::string one = value.substr(start, comma == std::string::npos ? comma : comma - start);
                uint64_t ms = 0;
                if (!parseUnsigned(one, kMaxFrameTimeMs, &ms))
                    return fail(error, "--at takes milliseconds from 0 to 99999999, separated by commas");
                o.atMs.push_back(uint32_t(ms));
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
        } else if (a == "--fps") {
            if (!next(&value)) return false;
            uint64_t fps = 0;
            if (!parseUnsigned(value, 1000, &fps) || fps == 0)
                return fail(error, "--fps takes a whole number, 1 to 1000");
            o.fps = uint32_t(fps);
        } else if (a == "--duration") {
            if (!next(&value)) return false;
            if (!parseSeconds(value, &o.durationMs) || o.durationMs <= 0)
                return fail(error, "--duration takes a positive number of seconds");
            haveDuration = true;
        } else if (a == "--wav") {
            if (!next(&o.wavPath)) return false;
            if (o.wavPath.empty()) return fail(error, "--wav needs a file name");
        } else if (!a.empty() && a[0] == '-') {
            return fail(error, "unknown option " + a);
        } else if (o.listPath.empty()) {
            o.listPath = a;
        } else {
            return fail(error, "more than one list file given");
        }
    }
    if (o.help) {
        *out = std::move(o);
        return true;
    }
    if (o.listPath.empty()) return fail(error, "no list file given (see --help)");
    if (o.outDir.empty()) return fail(error, "--out DIR is required");
    if (haveDuration && o.fps == 0 && o.wavPath.empty()) return fail(error, "--duration goes with --fps or --wav");
    *out = std::move(o);
    return true;
}

std::vector<uint32_t> frameTimes(const RenderOptions& options, uint32_t playLengthMs) {
    std::set<uint32_t> times(options.atMs.begin(), options.atMs.end());
    if (options.fps > 0) {
        const int64_t end = std::min<int64_t>(options.durationMs >= 0 ? options.durationMs : playLengthMs,
                                              int64_t(kMaxFrameTimeMs) + 1);
        // A list with nothing that plays still has its first picture.
        if (end == 0) times.insert(0);
        for (uint64_t k = 0;; ++k) {
            const uint64_t t = k * 1000 / options.fps;
            if (int64_t(t) >= end) break;
            times.insert(uint32_t(t));
        }
    }
    if (times.empty() && options.fps == 0 && options.wavPath.empty()) times.insert(0);
    return std::vector<uint32_t>(times.begin(), times.end());
}

std::string frameFileName(uint32_t ms) {
    char name[32];
    std::snprintf(name, sizeof name, "frame_%08u.png", ms);
    return name;
}

int runRenderCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    auto failed = [&err](const std::string& reason) {
        err << "layerdeck-render: " << reason << '\n';
        return 1;
    };
    RenderOptions options;
    std::string error;
    if (!RenderOptions::parse(args, &options, &error)) return failed(error);
    if (options.help) {
        out << kUsage;
        return 0;
    }

    RenderList list;
    if (!RenderList::load(options.listPath, &list, &error)) return failed(error);
    std::error_code ec;
    std::filesystem::create_directories(options.outDir, ec);
    if (!std::filesystem::is_directory(options.outDir, ec)) return failed("cannot make the folder " + options.outDir);

    HeadlessStage stage;
    if (!stage.start(list.options, &error) || !stage.open(list.items, &error)) return failed(error);
    const uint32_t length = stage.playLength();

    std::vector<uint8_t> picture;
    for (uint32_t ms : frameTimes(options, length)) {
        if (!stage.renderAt(ms, &picture, &error)) return failed(error);
        const std::string file = (std::filesystem::path(options.outDir) / frameFileName(ms)).string();
        if (!writePng(file, picture.data(), stage.width(), stage.height(), false))
            return failed("cannot write " + file);
        out << file << '\n';
    }

    if (!options.wavPath.empty()) {
        const int64_t playMs = options.durationMs >= 0 ? options.durationMs : int64_t(length);
        if (playMs <= 0) return failed("the list has nothing to play into " + options.wavPath);
        if (!stage.captureAudioTo(options.wavPath, &error)) return failed(error);
        const bool played = stage.playFor(uint32_t(std::min<int64_t>(playMs, kMaxFrameTimeMs)), &error);
        stage.endAudioCapture();
        if (!played) return failed(error);
        out << options.wavPath << '\n';
    }
    return 0;
}
