#include "tools/dump/DumpCommands.h"

#include <cctype>
#include <cinttypes>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "framework/WideString.h"
#include "splitters/MbcReader.h"
#include "tools/dump/PngWriter.h"
#include "tools/mbcenc/PictureFile.h"
#include "tools/mbcenc/WavFile.h"

namespace dump {
namespace {

bool isMbc(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char magic[8] = {};
    return in.read(magic, sizeof magic) && std::memcmp(magic, MbcHeader::kMagic, 8) == 0;
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

}  // namespace

int info(const std::string& path, std::FILE* out, std::string& error) {
    if (isMbc(path)) {
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
    BgraPicture picture;
    if (!loadPictureBgra(path, picture, error)) return 1;
    std::fprintf(out,
                 "{\"format\":\"%s\",\"width\":%u,\"height\":%u,\"frameCount\":1,\"durationHundredNs\":0,"
                 "\"hasVideo\":true,\"hasAudio\":false,\"channels\":0,\"sampleRate\":0,\"bitsPerSample\":0}\n",
                 lower(picture.format).c_str(), picture.width, picture.height);
    return 0;
}

int frames(const std::string& path, const std::string& outDir, bool raw, std::string& error) {
    std::error_code ec;
    std::filesystem::create_directories(outDir, ec);
    if (!std::filesystem::is_directory(outDir)) {
        error = "cannot create " + outDir;
        return 1;
    }
    const char* extension = raw ? "bgra" : "png";
    auto save = [&](uint64_t n, const uint8_t* bgra, uint32_t w, uint32_t h, bool alpha) {
        const std::string name = frameName(outDir, n, extension);
        const bool ok = raw ? writeRaw(name, bgra, size_t(w) * h * 4) : writePng(name, bgra, w, h, alpha);
        if (!ok) error = "cannot write " + name;
        return ok;
    };
    if (!isMbc(path)) {
        BgraPicture picture;
        if (!loadPictureBgra(path, picture, error)) return 1;
        return save(0, picture.pixels.data(), picture.width, picture.height, picture.hasAlpha) ? 0 : 1;
    }
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
    for (uint64_t n = 0; n < count; ++n) {
        // A frame that will not be decoded is not delivered, as in playback.
        if (reader.waitForFrame(INFINITE) && reader.copyVideoFrame(picture.data(), ptrdiff_t(v.width) * 4)) {
            if (!save(n, picture.data(), v.width, v.height, mode == MbcReader::kOutputAlpha)) return 1;
        }
        reader.advance(1);
    }
    return 0;
}

int audio(const std::string& path, const std::string& wavPath, std::string& error) {
    if (!isMbc(path)) {
        error = path + ": no audio";
        return 1;
    }
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

}  // namespace dump
