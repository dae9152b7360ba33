// End-to-end layer playback: how many simultaneous 30 fps movies the player composes at
// 60 fps on the software device without losing a picture, next to ffmpeg and GStreamer
// overlaying the same files.
//
// Each run plays N copies of one generated movie (a moving test pattern, 30 pictures a
// second, video only) through the player's own items and engine (the headless stage of
// tools/render). The layers overlap at full size: every one at (0, 0) in a video area of
// the movie's size, the bottom one opaque and each one above it at opacity 128, so every
// composed frame blends all N layers over the whole area. The transport starts them
// together; this thread composes at 60 fps with the player's pacing (a frame the pacer
// finds late is skipped, as the player's render loop does).
//
// Per N it reports the pictures in the files; those shown in a composed frame; those
// drawn into the layers' textures; dropped by the renderers as too late; overwritten
// before any composed frame showed them ("not shown"); missing (never reached a renderer:
// passed over by the splitter or decoder, or still in flight when the run ended; one per
// layer is allowed for that); composed frames, late slots skipped (the pacer found them
// late) and compositions longer than a frame; processor time (getrusage) as % of one core
// and of the whole machine, and per layer-picture. N doubles from 1 until a run loses
// a picture (or reaches --max-layers).
//
// ffmpeg (-re on every input, an overlay chain at the same opacity to a null output)
// and GStreamer (compositor into fakesink sync=true) play the MP4 files for the same N:
// whether they keep real time (ffmpeg's speed=; GStreamer's wall time against the length)
// and their processor time from wait4. They compose at the movies' 30 fps (ffmpeg in YUV);
// we compose at 60 fps in RGB. GStreamer comes from `./scripts/install-deps.sh bench`.
// bench/layer-playback.sh builds and runs it.
//
// Options:
//   --sizes 720,1080     picture heights: 1280x720 and 1920x1080
//   --formats mbc,mp4    the system's own format, and H.264 MP4 through the generic decoders
//   --max-layers 16      the largest N tried
//   --seconds 10         length of the generated movies and of each run
//   --media DIR          where the movies are made and kept for later runs
//                        (default $TMPDIR/layerdeck-layer-bench)
//   --all-n              keep doubling after a run lost pictures
//   --no-ffmpeg          skip the ffmpeg runs
//   --no-gstreamer       skip the GStreamer runs
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/MovieItem.h"
#include "app/PlayList.h"
#include "framework/FramePacer.h"
#include "framework/WideString.h"
#include "media/VideoFrameSource.h"
#include "tools/mbcenc/MbcFileWriter.h"
#include "tools/render/HeadlessStage.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kPictureRate = 30;
constexpr uint32_t kComposeRate = 60;
constexpr uint8_t kUpperOpacity = 128;

struct Options {
    std::vector<uint32_t> heights{720, 1080};
    std::vector<std::string> formats{"mbc", "mp4"};
    uint32_t maxLayers = 16;
    uint32_t seconds = 10;
    fs::path media;
    bool allN = false;
    bool ffmpeg = true;
    bool gstreamer = true;
};

uint32_t widthFor(uint32_t height) {
    return height * 16 / 9;
}

double secondsSince(Clock::time_point t) {
    return std::chrono::duration<double>(Clock::now() - t).count();
}

double seconds(const timeval& t) {
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

double processorSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return seconds(u.ru_utime) + seconds(u.ru_stime);
}

// ---- child processes ----

struct ChildRun {
    bool started = false;
    int exitCode = -1;
    double wall = 0;
    double cpu = 0;
    std::string errors;  // what it wrote to stderr
};

// Runs argv with stdout discarded and stderr kept; the child's own processor time comes
// from wait4, not from the whole family.
ChildRun runChild(const std::vector<std::string>& argv, const fs::path& errorFile) {
    ChildRun run;
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    const auto began = Clock::now();
    const int spawned = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) return run;
    run.started = true;
    int status = 0;
    rusage usage{};
    while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    run.wall = secondsSince(began);
    run.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::ifstream in(errorFile, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    run.errors = text.str();
    return run;
}

bool onPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (!dir.empty() && access((fs::path(dir) / program).c_str(), X_OK) == 0) return true;
    return false;
}

// ---- the movies ----

std::string lavfiSource(uint32_t w, uint32_t h, uint32_t secs) {
    return "testsrc2=size=" + std::to_string(w) + "x" + std::to_string(h) + ":rate=" + std::to_string(kPictureRate) +
           ":duration=" + std::to_string(secs);
}

bool makeMp4(const fs::path& out, uint32_t w, uint32_t h, uint32_t secs) {
    const fs::path partial = out.string() + ".part.mp4";
    ChildRun run = runChild(
        {"ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i", lavfiSource(w, h, secs), "-c:v",
         "libx264", "-preset", "fast", "-pix_fmt", "yuv420p", "-g", std::to_string(kPictureRate), partial.string()},
        out.string() + ".log");
    if (run.exitCode != 0) {
        std::fprintf(stderr, "ffmpeg could not make %s: %s\n", out.c_str(), run.errors.c_str());
        return false;
    }
    fs::rename(partial, out);
    return true;
}

// The same pattern through our own encoder: ffmpeg hands over BGRA pictures.
bool makeMbc(const fs::path& out, uint32_t w, uint32_t h, uint32_t secs) {
    MbcFileOptions o;
    o.video.width = w;
    o.video.height = h;
    o.video.quantiser = 10;
    o.video.searchRange = 0;
    o.pattern = "IBBPBBPBBPBB";
    o.chunkLength = kPictureRate;
    o.rateNumerator = kPictureRate;
    o.rateDenominator = 1;
    MbcFileWriter writer;
    if (!writer.begin(o)) {
        std::fprintf(stderr, "the encoder refuses %ux%u\n", w, h);
        return false;
    }
    const std::string command =
        "ffmpeg -hide_banner -loglevel error -f lavfi -i " + lavfiSource(w, h, secs) + " -f rawvideo -pix_fmt bgra -";
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return false;
    std::vector<uint8_t> picture(size_t(w) * h * 4);
    bool ok = true;
    while (ok && std::fread(picture.data(), 1, picture.size(), pipe) == picture.size())
        ok = writer.addFrame(picture.data(), ptrdiff_t(w) * 4);
    const int status = pclose(pipe);
    std::vector<uint8_t> file;
    if (!ok || status != 0 || writer.framesAdded() != secs * kPictureRate || !writer.finish(file)) {
        std::fprintf(stderr, "could not encode %s\n", out.c_str());
        return false;
    }
    const fs::path partial = out.string() + ".part";
    std::ofstream f(partial, std::ios::binary);
    f.write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    f.close();
    if (!f) return false;
    fs::rename(partial, out);
    return true;
}

// The movie of that size and format, made once and kept.
std::optional<fs::path> movieFor(const Options& o, uint32_t height, const std::string& format) {
    const uint32_t width = widthFor(height);
    const fs::path path = o.media / ("pattern-" + std::to_string(width) + "x" + std::to_string(height) + "-" +
                                     std::to_string(o.seconds) + "s." + format);
    if (fs::exists(path)) return path;
    std::error_code ignored;
    fs::create_directories(o.media, ignored);
    std::printf("making %s ...\n", path.c_str());
    std::fflush(stdout);
    const auto began = Clock::now();
    const bool made =
        format == "mbc" ? makeMbc(path, width, height, o.seconds) : makeMp4(path, width, height, o.seconds);
    if (!made) return std::nullopt;
    std::printf("  made in %.1f s\n", secondsSince(began));
    return path;
}

// ---- our player ----

struct LayerRun {
    bool ok = false;
    std::string error;
    uint32_t layers = 0;
    uint64_t pictures = 0;  // in the files
    uint64_t drawn = 0, dropped = 0, notShown = 0, missing = 0;
    uint64_t composed = 0, skipped = 0, overlong = 0;
    double composeP50 = 0, composeP99 = 0;  // ms
    double wall = 0, cpu = 0;

    // Pictures lost beyond the one per layer that may still be in flight at the end.
    uint64_t lost() const {
        const uint64_t inFlight = std::min<uint64_t>(missing, layers);
        return dropped + notShown + (missing - inFlight);
    }
};

double percentile(std::vector<double> v, double q) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[size_t(q * double(v.size() - 1))];
}

std::vector<VideoFrameSource*> frameSources(PlayList& list) {
    std::vector<VideoFrameSource*> sources;
    for (SharedRef<PlayItem>& item : list.items())
        if (auto* movie = dynamic_cast<MovieItem*>(item.get()))
            if (movie->renderer()) sources.push_back(movie->renderer());
    return sources;
}

VideoFrameSource::Statistics total(const std::vector<VideoFrameSource*>& sources) {
    VideoFrameSource::Statistics sum;
    for (VideoFrameSource* s : sources) {
        const VideoFrameSource::Statistics one = s->statistics();
        sum.drawn += one.drawn;
        sum.dropped += one.dropped;
        sum.notShown += one.notShown;
        sum.composed += one.composed;
    }
    return sum;
}

LayerRun playLayers(const fs::path& movie, uint32_t layers, uint32_t secs) {
    LayerRun run;
    run.layers = layers;
    run.pictures = uint64_t(layers) * secs * kPictureRate;
    HeadlessStage stage;
    StageOptions options;
    options.patienceMs = 60000;
    if (!stage.start(options, &run.error)) return run;
    std::vector<StageItem> items(layers);
    for (uint32_t i = 0; i < layers; ++i) {
        items[i].path = fromUtf8(movie.string());
        // The first entry is the top layer; the last one is the opaque bottom.
        items[i].opacity = i + 1 == layers ? 255 : kUpperOpacity;
    }
    if (!stage.open(items, &run.error)) return run;
    const std::vector<VideoFrameSource*> sources = frameSources(stage.playList());
    if (sources.size() != layers) {
        run.error = "not every layer has a picture";
        return run;
    }
    const uint32_t length = stage.playLength();
    std::vector<uint8_t> frame;
    // Each movie item notes its composed frames itself, under its lock.
    auto composeAndCount = [&] { return stage.compose(&frame); };
    // Pictures delivered while loading are not part of the run.
    composeAndCount();
    const VideoFrameSource::Statistics before = total(sources);

    FramePacer pacer;
    pacer.setRate(kComposeRate);
    const double period = 1000.0 / kComposeRate;
    std::vector<double> composeMs;
    composeMs.reserve(size_t(secs) * kComposeRate + 16);
    const double cpu0 = processorSeconds();
    const auto began = Clock::now();
    if (!stage.play()) {
        run.error = "the list does not play";
        return run;
    }
    pacer.reset();
    while (stage.clockMs() < length) {
        if (!pacer.isLate()) {
            const auto t = Clock::now();
            if (!composeAndCount()) {
                run.error = "a frame could not be composed";
                stage.stop();
                return run;
            }
            const double ms = secondsSince(t) * 1000;
            composeMs.push_back(ms);
            run.overlong += ms > period;
        } else {
            ++run.skipped;
        }
        pacer.waitNextFrame();
        stage.pumpMessages(0);
    }
    // The last pictures written get their frame, then the counts are read before stop
    // shows the first picture again.
    composeAndCount();
    run.wall = secondsSince(began);
    run.cpu = processorSeconds() - cpu0;
    const VideoFrameSource::Statistics after = total(sources);
    stage.stop();

    run.drawn = after.drawn - before.drawn;
    run.dropped = after.dropped - before.dropped;
    run.notShown = after.notShown - before.notShown;
    run.composed = composeMs.size();
    const uint64_t reached = run.drawn + run.dropped;
    run.missing = run.pictures > reached ? run.pictures - reached : 0;
    run.composeP50 = percentile(composeMs, 0.5);
    run.composeP99 = percentile(composeMs, 0.99);
    run.ok = true;
    return run;
}

// ---- ffmpeg and GStreamer ----

struct ReferenceRun {
    std::string status;  // "" when it ran
    double wall = 0, cpu = 0, speed = 0;
    bool realTime = false;
};

// The last speed=...x ffmpeg printed.
double lastSpeed(const std::string& text) {
    const size_t at = text.rfind("speed=");
    if (at == std::string::npos) return 0;
    return std::atof(text.c_str() + at + 6);
}

// GStreamer prints no rate of its own: it keeps real time when it ends within 2% of the
// length, plus a second for probing the files and building the pipeline.
bool keepsRealTime(double wall, uint32_t secs) {
    return wall <= secs * 1.02 + 1.0;
}

ReferenceRun runFfmpeg(const fs::path& movie, uint32_t layers, const fs::path& scratch) {
    ReferenceRun r;
    std::vector<std::string> argv{"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-stats"};
    for (uint32_t i = 0; i < layers; ++i) argv.insert(argv.end(), {"-re", "-i", movie.string()});
    // Input 0 is the bottom; each one above gets a constant alpha plane of our opacity and
    // is laid over the result so far.
    std::string graph = "[0:v]null[l0]";
    for (uint32_t i = 1; i < layers; ++i) {
        const std::string a = std::to_string(i);
        graph += ";[" + a + ":v]format=yuva420p,lut=a=" + std::to_string(kUpperOpacity) + "[a" + a + "];[l" +
                 std::to_string(i - 1) + "][a" + a + "]overlay=format=yuv420[l" + a + "]";
    }
    argv.insert(argv.end(),
                {"-filter_complex", graph, "-map", "[l" + std::to_string(layers - 1) + "]", "-f", "null", "-"});
    ChildRun run = runChild(argv, scratch / "ffmpeg.err");
    if (!run.started) return {"not installed"};
    if (run.exitCode != 0) return {"failed (exit " + std::to_string(run.exitCode) + ")"};
    r.wall = run.wall;
    r.cpu = run.cpu;
    // speed= is media time over wall time once the inputs are open.
    r.speed = lastSpeed(run.errors);
    r.realTime = r.speed >= 0.98;
    return r;
}

ReferenceRun runGstreamer(const fs::path& movie, uint32_t layers, uint32_t secs, const fs::path& scratch) {
    if (!onPath("gst-launch-1.0")) return {"not installed"};
    ReferenceRun r;
    std::vector<std::string> argv{"gst-launch-1.0", "-q", "compositor", "name=mix"};
    // sink_0 is the bottom (pads are stacked in order).
    for (uint32_t i = 1; i < layers; ++i)
        argv.push_back("sink_" + std::to_string(i) + "::alpha=" + std::to_string(kUpperOpacity / 255.0));
    argv.insert(argv.end(), {"!", "fakesink", "sync=true"});
    for (uint32_t i = 0; i < layers; ++i)
        argv.insert(argv.end(), {"filesrc", "location=" + movie.string(), "!", "qtdemux", "!", "avdec_h264", "!",
                                 "queue", "!", "mix.sink_" + std::to_string(i)});
    ChildRun run = runChild(argv, scratch / "gst.err");
    if (!run.started) return {"not installed"};
    if (run.exitCode != 0) return {"failed (exit " + std::to_string(run.exitCode) + ")"};
    r.wall = run.wall;
    r.cpu = run.cpu;
    r.realTime = keepsRealTime(run.wall, secs);
    return r;
}

// ---- the report ----

struct Row {
    uint32_t height = 0;
    std::string format;
    LayerRun ours;
    std::optional<ReferenceRun> ffmpeg, gstreamer;
};

double cores() {
    const long n = sysconf(_SC_NPROCESSORS_ONLN);
    return n > 0 ? double(n) : 1.0;
}

std::string loadAverage() {
    double load[3] = {0, 0, 0};
    if (getloadavg(load, 3) != 3) return "unknown";
    char text[64];
    std::snprintf(text, sizeof text, "%.2f %.2f %.2f", load[0], load[1], load[2]);
    return text;
}

// Processor milliseconds per layer-picture.
double perPicture(double cpu, uint32_t layers, uint32_t secs) {
    return cpu * 1000 / (double(layers) * secs * kPictureRate);
}

std::string referenceCell(const std::optional<ReferenceRun>& r, uint32_t layers, uint32_t secs, bool withSpeed) {
    if (!r) return "-";
    if (!r->status.empty()) return r->status;
    char text[160];
    if (withSpeed)
        std::snprintf(text, sizeof text, "%s %.1fs speed %.2fx cpu %.0f%% %.2fms/pic", r->realTime ? "RT" : "behind",
                      r->wall, r->speed, 100 * r->cpu / r->wall, perPicture(r->cpu, layers, secs));
    else
        std::snprintf(text, sizeof text, "%s %.1fs cpu %.0f%% %.2fms/pic", r->realTime ? "RT" : "behind", r->wall,
                      100 * r->cpu / r->wall, perPicture(r->cpu, layers, secs));
    return text;
}

void printRow(const Row& row, uint32_t secs) {
    const LayerRun& o = row.ours;
    if (!o.ok) {
        std::printf("| %ux%u | %s | %u | failed: %s |\n", widthFor(row.height), row.height, row.format.c_str(),
                    o.layers, o.error.c_str());
        return;
    }
    std::printf(
        "| %ux%u | %s | %u | %llu | %llu | %llu | %llu | %llu | %llu | %llu | %llu | %llu | %.1f/%.1f | %.0f%% | "
        "%.0f%% | %.2f | %s | %s | %s |\n",
        widthFor(row.height), row.height, row.format.c_str(), o.layers, (unsigned long long)o.pictures,
        (unsigned long long)(o.drawn - std::min(o.drawn, o.notShown)), (unsigned long long)o.drawn,
        (unsigned long long)o.dropped, (unsigned long long)o.notShown, (unsigned long long)o.missing,
        (unsigned long long)o.composed, (unsigned long long)o.skipped, (unsigned long long)o.overlong, o.composeP50,
        o.composeP99, 100 * o.cpu / o.wall, 100 * o.cpu / o.wall / cores(), perPicture(o.cpu, o.layers, secs),
        o.lost() == 0 ? "yes" : "no", referenceCell(row.ffmpeg, o.layers, secs, true).c_str(),
        referenceCell(row.gstreamer, o.layers, secs, false).c_str());
}

void printHeader() {
    std::printf(
        "| size | format | N | pictures | shown | drawn | dropped | not shown | missing | composed | late (skipped) | "
        "over 16.7ms | "
        "compose p50/p99 ms | cpu %% core | cpu %% machine | cpu ms/pic | no loss | ffmpeg (same mp4) | GStreamer "
        "(same mp4) |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|\n");
}

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');)
        if (!part.empty()) parts.push_back(part);
    return parts;
}

bool parseOptions(int argc, char** argv, Options* o) {
    const char* tmp = std::getenv("TMPDIR");
    o->media = fs::path(tmp && *tmp ? tmp : "/tmp") / "layerdeck-layer-bench";
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (a == "--sizes") {
            o->heights.clear();
            for (const std::string& s : splitList(value())) {
                const long h = std::atol(s.c_str());
                if (h != 720 && h != 1080) return false;
                o->heights.push_back(uint32_t(h));
            }
        } else if (a == "--formats") {
            o->formats = splitList(value());
            for (const std::string& f : o->formats)
                if (f != "mbc" && f != "mp4") return false;
        } else if (a == "--max-layers") {
            o->maxLayers = uint32_t(std::max(1L, std::atol(value().c_str())));
        } else if (a == "--seconds") {
            o->seconds = uint32_t(std::clamp(std::atol(value().c_str()), 1L, 600L));
        } else if (a == "--media") {
            o->media = value();
        } else if (a == "--all-n") {
            o->allN = true;
        } else if (a == "--no-ffmpeg") {
            o->ffmpeg = false;
        } else if (a == "--no-gstreamer") {
            o->gstreamer = false;
        } else {
            return false;
        }
    }
    return !o->heights.empty() && !o->formats.empty() && !o->media.empty();
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parseOptions(argc, argv, &o)) {
        std::fprintf(stderr,
                     "usage: %s [--sizes 720,1080] [--formats mbc,mp4] [--max-layers N] [--seconds S] [--media DIR] "
                     "[--all-n] [--no-ffmpeg] [--no-gstreamer]\n",
                     argv[0]);
        return 2;
    }
    if (!onPath("ffmpeg")) {
        std::fprintf(stderr, "the movies are made with the ffmpeg command, which is not installed\n");
        return 1;
    }
    std::printf(
        "layer playback: %u s movies at %u fps, overlapping full-size layers (bottom opaque, others at "
        "opacity %u), composed at %u fps on the software device; %.0f cores; load average at start %s\n",
        o.seconds, kPictureRate, kUpperOpacity, kComposeRate, cores(), loadAverage().c_str());
    std::fflush(stdout);

    std::vector<Row> rows;
    struct Best {
        uint32_t height;
        std::string format;
        uint32_t layers;
    };
    std::vector<Best> best;
    for (uint32_t height : o.heights) {
        for (const std::string& format : o.formats) {
            const std::optional<fs::path> movie = movieFor(o, height, format);
            if (!movie) return 1;
            std::optional<fs::path> mp4;
            if (o.ffmpeg || o.gstreamer) mp4 = movieFor(o, height, "mp4");
            uint32_t largest = 0;
            for (uint32_t n = 1; n <= o.maxLayers; n *= 2) {
                Row row;
                row.height = height;
                row.format = format;
                row.ours = playLayers(*movie, n, o.seconds);
                // The references once per size and N, with the MP4 row (or the only format asked for).
                const bool referenceRow =
                    format == "mp4" || std::find(o.formats.begin(), o.formats.end(), "mp4") == o.formats.end();
                if (mp4 && referenceRow) {
                    if (o.ffmpeg) row.ffmpeg = runFfmpeg(*mp4, n, o.media);
                    if (o.gstreamer) row.gstreamer = runGstreamer(*mp4, n, o.seconds, o.media);
                }
                if (rows.empty()) printHeader();
                printRow(row, o.seconds);
                std::fflush(stdout);
                rows.push_back(row);
                const bool clean = row.ours.ok && row.ours.lost() == 0;
                if (clean && largest == n / 2) largest = n;
                if (!clean && !o.allN) break;
            }
            best.push_back({height, format, largest});
        }
    }

    std::printf("\nlargest N without a lost picture:\n");
    for (const Best& b : best)
        std::printf("  %ux%u %s: %u\n", widthFor(b.height), b.height, b.format.c_str(), b.layers);
    // Our processor time per layer-picture against ffmpeg's on the same files and N.
    std::printf("cpu per layer-picture, ours / ffmpeg's (same size and N):\n");
    for (const Row& r : rows) {
        if (!r.ours.ok) continue;
        for (const Row& ref : rows) {
            if (ref.height != r.height || ref.ours.layers != r.ours.layers || !ref.ffmpeg ||
                !ref.ffmpeg->status.empty() || ref.ffmpeg->cpu <= 0)
                continue;
            std::printf("  %ux%u %s N=%u: %.2f\n", widthFor(r.height), r.height, r.format.c_str(), r.ours.layers,
                        r.ours.cpu / ref.ffmpeg->cpu);
            break;
        }
    }
    std::printf("load average at end %s\n", loadAverage().c_str());
    return 0;
}
