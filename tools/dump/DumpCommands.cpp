#include "tools/dump/DumpCommands.h"

#include <cctype>
#include <cinttypes>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <vector>

#include "framework/WideString.h"
#include "graphics/GbcfDecoder.h"
#include "media/MediaClasses.h"
#include "platform/dshow/PipelineClasses.h"
#include "splitters/GbcfPayload.h"
#include "splitters/MbcReader.h"
#include "tools/dump/DumpGraph.h"
#include "tools/dump/PngWriter.h"
#include "tools/dump/WavWriter.h"
#include "tools/mbcenc/PictureFile.h"
#include "tools/mbcenc/WavFile.h"

namespace dump {
namespace {

enum class FileKind { Unreadable, Mbc, Still, Movie };

// What the first bytes say. The still formats are told by their signatures here so that
// a large movie is never read whole by the picture codec.
FileKind kindOf(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) return FileKind::Unreadable;
    std::ifstream in(path, std::ios::binary);
    if (!in) return FileKind::Unreadable;
    unsigned char head[8] = {};
    in.read(reinterpret_cast<char*>(head), sizeof head);
    const size_t got = size_t(in.gcount());
    static const unsigned char kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (got == 8 && std::memcmp(head, MbcHeader::kMagic, 8) == 0) return FileKind::Mbc;
    if (got == 8 && std::memcmp(head, kPng, 8) == 0) return FileKind::Still;
    if (got >= 4 && std::memcmp(head, "GBCF", 4) == 0) return FileKind::Still;
    if (got >= 2 && head[0] == 'B' && head[1] == 'M') return FileKind::Still;
    return FileKind::Movie;
}

bool openMbc(const std::string& path, MbcReader& reader, std::string& error) {
    const std::u16string name = fromUtf8(path);
    if (!reader.open(name.c_str())) {
        error = path + ": not a readable MBC file";
        return false;
    }
    return true;
}

std::string frameName(const std::string& dir, uint64_t n, const char* extension) {
    char name[32];
    std::snprintf(name, sizeof name, "%05" PRIu64 ".%s", n, extension);
    return (std::filesystem::path(dir) / name).string();
}

bool writeRaw(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(out);
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

const char* sampleFormatName(SampleType type) {
    switch (type) {
        case SampleType::U8:
            return "u8";
        case SampleType::S16:
            return "s16";
        case SampleType::F32:
            return "f32";
    }
    return "";
}

// Writes one picture as PNG or raw BGRA; the name carries its number.
class FrameWriter {
public:
    FrameWriter(const std::string& dir, bool raw) : dir_(dir), raw_(raw) {}
    bool save(uint64_t n, const uint8_t* bgra, uint32_t w, uint32_t h, bool alpha, std::string& error) {
        const std::string name = frameName(dir_, n, raw_ ? "bgra" : "png");
        const bool ok = raw_ ? writeRaw(name, bgra, size_t(w) * h * 4) : writePng(name, bgra, w, h, alpha);
        if (!ok) error = "cannot write " + name;
        if (ok) ++written_;
        return ok;
    }
    uint64_t written() const { return written_; }

private:
    std::string dir_;
    bool raw_;
    uint64_t written_ = 0;
};

int mbcInfo(const std::string& path, std::FILE* out, std::string& error) {
    MbcReader reader;
    if (!openMbc(path, reader, error)) return 1;
    const MbcReader::VideoInfo v = reader.videoInfo();
    const MbcReader::AudioFormat a = reader.audioFormat();
    const bool audio = reader.hasAudio();
    std::fprintf(out,
                 "{\"format\":\"mbc\",\"width\":%u,\"height\":%u,\"frameCount\":%u,\"durationHundredNs\":%" PRId64
                 ",\"hasVideo\":%s,\"hasAudio\":%s,\"channels\":%u,\"sampleRate\":%u,\"bitsPerSample\":%u}\n",
                 v.width, v.height, reader.frameCount(), reader.duration(), reader.hasVideo() ? "true" : "false",
                 audio ? "true" : "false", audio ? a.channels : 0u, audio ? a.sampleRate : 0u,
                 audio ? a.bitsPerSample : 0u);
    return 0;
}

int stillInfo(const std::string& path, std::FILE* out, std::string& error) {
    BgraPicture picture;
    if (!loadPictureBgra(path, picture, error)) return 1;
    std::fprintf(out,
                 "{\"format\":\"%s\",\"width\":%u,\"height\":%u,\"frameCount\":1,\"durationHundredNs\":0,"
                 "\"hasVideo\":true,\"hasAudio\":false,\"channels\":0,\"sampleRate\":0,\"bitsPerSample\":0}\n",
                 lower(picture.format).c_str(), picture.width, picture.height);
    return 0;
}

int graphInfo(const std::string& path, bool decode, std::FILE* out, std::string& error) {
    DumpGraph graph;
    if (!graph.open(path, error)) return 1;
    const VideoSink::Layout v = graph.videoLayout();
    const std::optional<AudioFormat> a = graph.audioFormat();
    uint64_t frames = 0;
    uint64_t audioFrames = 0;
    if (decode) {
        // Handlers that want everything, so that the run goes to the end of both branches.
        if (graph.hasVideo()) graph.video().setHandler([](const VideoSink::Picture&) { return true; });
        if (graph.hasAudio()) graph.audio().setHandler([](const AudioFormat&, const uint8_t*, size_t) { return true; });
        if (!graph.run(error)) {
            error = path + ": " + error;
            return 1;
        }
        frames = graph.hasVideo() ? graph.video().received() : 0;
        audioFrames = a ? graph.audio().receivedBytes() / a->bytesPerFrame() : 0;
    } else if (graph.hasVideo() && v.frameDuration > 0) {
        frames = uint64_t(std::llround(double(graph.duration()) / double(v.frameDuration)));
    }
    const double rate = v.frameDuration > 0 ? 1e7 / double(v.frameDuration) : 0.0;
    std::fprintf(out,
                 "{\"format\":%s,\"container\":%s,\"width\":%u,\"height\":%u,\"frameCount\":%" PRIu64
                 ",\"frameCountExact\":%s,\"durationHundredNs\":%" PRId64
                 ",\"frameRate\":%.6g,\"hasVideo\":%s,\"hasAudio\":%s,\"channels\":%u,\"sampleRate\":%u,"
                 "\"bitsPerSample\":%u,\"sampleFormat\":%s",
                 jsonString(graph.format()).c_str(), jsonString(graph.splitter()).c_str(), v.width, v.height, frames,
                 decode ? "true" : "false", graph.duration(), rate, graph.hasVideo() ? "true" : "false",
                 graph.hasAudio() ? "true" : "false", a ? a->channels : 0u, a ? a->rate : 0u,
                 a ? a->bytesPerSample() * 8 : 0u, jsonString(a ? sampleFormatName(a->type) : "").c_str());
    if (decode) std::fprintf(out, ",\"audioFrames\":%" PRIu64, audioFrames);
    std::fputs("}\n", out);
    return 0;
}

int mbcFrames(const std::string& path, FrameWriter& writer, const FrameSelection& selection, std::string& error) {
    MbcReader reader;
    if (!openMbc(path, reader, error)) return 1;
    if (!reader.hasVideo()) {
        error = path + ": no video";
        return 1;
    }
    const uint32_t mode = reader.preferredOutputMode();
    if (!reader.start(mode)) {
        error = path + ": the video cannot be decoded (bad size or codec flags)";
        return 1;
    }
    const MbcReader::VideoInfo v = reader.videoInfo();
    std::vector<uint8_t> picture(size_t(v.width) * v.height * 4);
    const uint64_t count = reader.frameCount();
    for (uint64_t n = 0; n < count && !selection.doneBefore(n); ++n) {
        // A frame that will not be decoded is not delivered, as in playback.
        if (reader.waitForFrame(INFINITE) && selection.wants(n) &&
            reader.copyVideoFrame(picture.data(), ptrdiff_t(v.width) * 4)) {
            if (!writer.save(n, picture.data(), v.width, v.height, mode == MbcReader::kOutputAlpha, error)) return 1;
        }
        reader.advance(1);
    }
    return 0;
}

int graphFrames(const std::string& path, FrameWriter& writer, const FrameSelection& selection, std::string& error) {
    DumpGraph graph;
    if (!graph.open(path, error)) return 1;
    if (!graph.hasVideo()) {
        error = path + ": no video";
        return 1;
    }
    // The handler runs on the streaming thread.
    std::mutex mutex;
    std::string saveError;
    graph.video().setHandler([&](const VideoSink::Picture& p) {
        if (selection.wants(p.index)) {
            std::lock_guard hold(mutex);
            if (!writer.save(p.index, p.bgra, p.width, p.height, p.alpha, saveError)) return false;
        }
        return !selection.doneBefore(p.index + 1);
    });
    const bool ran = graph.run(error);
    std::lock_guard hold(mutex);
    if (!saveError.empty()) {
        error = saveError;
        return 1;
    }
    if (!ran) {
        error = path + ": " + error;
        return 1;
    }
    if (graph.video().rejected()) {
        error = path + ": " + std::to_string(graph.video().rejected()) + " pictures came in samples too small for them";
        return 1;
    }
    return 0;
}

int mbcAudio(const std::string& path, const std::string& wavPath, std::string& error) {
    MbcReader reader;
    if (!openMbc(path, reader, error)) return 1;
    if (!reader.hasAudio()) {
        error = path + ": no audio this reader can decode";
        return 1;
    }
    if (!reader.start(reader.preferredOutputMode())) {
        error = path + ": cannot start decoding";
        return 1;
    }
    const MbcReader::AudioFormat format = reader.audioFormat();
    std::vector<int16_t> samples;
    auto drain = [&] {
        while (reader.waitForAudio(INFINITE)) {
            const uint8_t* data = nullptr;
            uint32_t bytes = 0;
            if (!reader.readAudio(&data, &bytes)) break;
            const size_t at = samples.size();
            samples.resize(at + bytes / 2);
            std::memcpy(samples.data() + at, data, bytes / 2 * 2);
            reader.releaseAudio(data);
        }
    };
    const uint64_t count = reader.frameCount();
    for (uint64_t n = 0; n < count; ++n) {
        drain();
        reader.advance(1);
    }
    drain();
    if (!writeWav(wavPath, format.channels, format.sampleRate, samples)) {
        error = "cannot write " + wavPath;
        return 1;
    }
    return 0;
}

int graphAudio(const std::string& path, const std::string& wavPath, std::string& error) {
    DumpGraph graph;
    if (!graph.open(path, error)) return 1;
    const std::optional<AudioFormat> format = graph.audioFormat();
    if (!graph.hasAudio() || !format) {
        error = path + ": no audio";
        return 1;
    }
    WavWriter wav;
    if (!wav.open(wavPath, *format, error)) return 1;
    std::mutex mutex;
    std::string writeError;
    graph.audio().setHandler([&](const AudioFormat& f, const uint8_t* data, size_t bytes) {
        std::lock_guard hold(mutex);
        if (f != *format) {
            writeError = path + ": the sound changed its format in mid-stream";
            return false;
        }
        return wav.write(data, bytes, writeError);
    });
    const bool ran = graph.run(error);
    std::lock_guard hold(mutex);
    std::string finishError;
    const bool finished = wav.finish(finishError);
    if (ran && writeError.empty() && finished) return 0;
    if (!writeError.empty())
        error = writeError;
    else if (!ran)
        error = path + ": " + error;
    else
        error = finishError;
    std::error_code ec;
    std::filesystem::remove(wavPath, ec);
    return 1;
}

}  // namespace

bool FrameSelection::wants(uint64_t n) const {
    if (n < first || every == 0) return false;
    const uint64_t offset = n - first;
    return offset % every == 0 && offset / every < count;
}

bool FrameSelection::doneBefore(uint64_t n) const {
    if (n <= first || every == 0) return every == 0 || count == 0;
    // Pictures first .. n-1 hold ceil((n - first) / every) wanted ones.
    const uint64_t offset = n - first;
    const uint64_t before = offset / every + (offset % every ? 1 : 0);
    return before >= count;
}

void registerEngine() {
    registerPipelineClasses();
    registerMediaClasses();
    setGbcfPayloadDecoder(&decodeGbcfPayload);
}

int info(const std::string& path, const InfoOptions& options, std::FILE* out, std::string& error) {
    switch (kindOf(path)) {
        case FileKind::Unreadable:
            error = path + ": cannot be read";
            return 1;
        case FileKind::Mbc:
            if (options.route == Route::Graph) return graphInfo(path, options.decode, out, error);
            return mbcInfo(path, out, error);
        case FileKind::Still:
            if (stillInfo(path, out, error) == 0) return 0;
            // A file that only looks like a picture may still be a movie.
            return graphInfo(path, options.decode, out, error);
        case FileKind::Movie:
            return graphInfo(path, options.decode, out, error);
    }
    return 1;
}

int frames(const std::string& path, const std::string& outDir, const FrameOptions& options, std::string& error) {
    const FileKind kind = kindOf(path);
    if (kind == FileKind::Unreadable) {
        error = path + ": cannot be read";
        return 1;
    }
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (!std::filesystem::is_directory(outDir, ec)) {
        error = "cannot create " + outDir;
        return 1;
    }
    FrameWriter writer(outDir, options.raw);
    int status = 1;
    if (kind == FileKind::Mbc && options.route != Route::Graph) {
        status = mbcFrames(path, writer, options.selection, error);
    } else if (kind == FileKind::Still) {
        BgraPicture picture;
        std::string stillError;
        if (loadPictureBgra(path, picture, stillError)) {
            // A picture is one frame, number 0.
            if (!options.selection.wants(0)) {
                error = path + ": a still picture has only frame 0";
                return 1;
            }
            return writer.save(0, picture.pixels.data(), picture.width, picture.height, picture.hasAlpha, error) ? 0
                                                                                                                 : 1;
        }
        status = graphFrames(path, writer, options.selection, error);
        if (status) error = stillError;
    } else {
        status = graphFrames(path, writer, options.selection, error);
    }
    if (status == 0 && writer.written() == 0) {
        error = path + ": no picture in the chosen range";
        status = 1;
    }
    return status;
}

int audio(const std::string& path, const std::string& wavPath, Route route, std::string& error) {
    switch (kindOf(path)) {
        case FileKind::Unreadable:
            error = path + ": cannot be read";
            return 1;
        case FileKind::Mbc:
            return route == Route::Graph ? graphAudio(path, wavPath, error) : mbcAudio(path, wavPath, error);
        case FileKind::Still: {
            BgraPicture picture;
            std::string stillError;
            if (!loadPictureBgra(path, picture, stillError)) return graphAudio(path, wavPath, error);
            error = path + ": no audio (a still picture)";
            return 1;
        }
        case FileKind::Movie:
            return graphAudio(path, wavPath, error);
    }
    return 1;
}

}  // namespace dump
