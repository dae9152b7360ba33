#pragma once
// Real media files for end-to-end tests, made at test time with the ffmpeg command into a
// temporary folder that goes with the process: an MPEG-1/MP2 program stream, an H.264/AAC
// MP4, a PCM WAV and PNG pictures; and, from the very same pictures and tone, an .mbc made
// with the project's encoder. Every movie shows known pictures (smooth gradients that shift
// with the frame number, and a moving square) over a 1 kHz stereo tone.
//
// References: ffmpeg decodes a file to its YUV planes, which are turned into pixels by the
// engine's colour rule (BT.709 studio range, nearest chroma, 12-bit fixed point), written
// here once more from the rule itself; an .mbc is decoded by the project's reader.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "framework/WideString.h"
#include "splitters/MbcReader.h"
#include "tests/support/TestSupport.h"
#include "tools/mbcenc/MbcFileWriter.h"

namespace ffmpegfiles {

constexpr int kWidth = 160, kHeight = 120;
constexpr int kRate = 25, kFrames = 25;  // one second
constexpr int kSampleRate = 48000;
constexpr double kToneHz = 1000;
constexpr double kToneAmplitude = 0.25;

// Whether the ffmpeg command runs here (looked up once).
inline bool available() {
    static const bool runs = std::system("ffmpeg -nostdin -hide_banner -loglevel quiet -version >/dev/null 2>&1") == 0;
    return runs;
}

#define SKIP_WITHOUT_FFMPEG() \
    if (!ffmpegfiles::available()) GTEST_SKIP() << "the ffmpeg command is not installed"

inline std::string quoted(const std::filesystem::path& path) {
    std::string out = "'";
    for (char c : path.string()) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// Runs ffmpeg with the arguments; false when it fails (its complaint goes to the log).
inline bool ffmpeg(const std::string& arguments) {
    const std::string command = "ffmpeg -nostdin -hide_banner -loglevel error -y " + arguments + " 1>&2";
    const int code = std::system(command.c_str());
    if (code != 0) ADD_FAILURE() << "ffmpeg failed (" << code << "): " << arguments;
    return code == 0;
}

// Source picture n, top-down BGRA.
inline std::vector<uint8_t> sourcePicture(int n) {
    std::vector<uint8_t> p(size_t(kWidth) * kHeight * 4);
    const int squareX = 4 + n * 4, squareY = 44;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            uint8_t* q = &p[(size_t(y) * kWidth + x) * 4];
            const bool inSquare = x >= squareX && x < squareX + 32 && y >= squareY && y < squareY + 32;
            q[0] = uint8_t(20 + x / 4 + n * 8);
            q[1] = uint8_t(40 + y);
            q[2] = uint8_t(inSquare ? 230 : 60 + x / 2);
            q[3] = 255;
        }
    return p;
}

// The tone, interleaved stereo 16-bit, equal on both sides.
inline std::vector<int16_t> tone(size_t frames) {
    std::vector<int16_t> pcm(frames * 2);
    for (size_t i = 0; i < frames; ++i)
        pcm[2 * i] = pcm[2 * i + 1] =
            int16_t(std::lround(32767 * kToneAmplitude * std::sin(2 * M_PI * kToneHz * double(i) / kSampleRate)));
    return pcm;
}

enum class Kind { Mpeg1, H264, Wav, Mbc };

inline const char* nameOf(Kind kind) {
    switch (kind) {
        case Kind::Mpeg1:
            return "Mpeg1";
        case Kind::H264:
            return "H264";
        case Kind::Wav:
            return "Wav";
        case Kind::Mbc:
            return "Mbc";
    }
    return "?";
}
inline bool hasVideo(Kind kind) {
    return kind != Kind::Wav;
}

class Folder {
public:
    static const std::filesystem::path& path() {
        static testsupport::TempDir dir;
        return dir.path();
    }
};

inline bool writeBytes(const std::filesystem::path& path, const void* data, size_t bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool wrote = std::fwrite(data, 1, bytes, f) == bytes;
    return std::fclose(f) == 0 && wrote;
}

// The raw inputs ffmpeg encodes from: every picture, and the tone as PCM.
inline bool writeSources(const std::filesystem::path& pictures, const std::filesystem::path& sound) {
    std::vector<uint8_t> all;
    for (int n = 0; n < kFrames; ++n) {
        const std::vector<uint8_t> p = sourcePicture(n);
        all.insert(all.end(), p.begin(), p.end());
    }
    const std::vector<int16_t> pcm = tone(size_t(kSampleRate) * kFrames / kRate);
    return writeBytes(pictures, all.data(), all.size()) && writeBytes(sound, pcm.data(), pcm.size() * 2);
}

inline bool makeMbc(const std::filesystem::path& path) {
    MbcFileOptions options;
    options.video.width = kWidth;
    options.video.height = kHeight;
    options.video.quantiser = 6;  // lossy: the decoder, not the source, is the reference
    options.pattern = "IPBB";
    options.chunkLength = 10;
    options.rateNumerator = kRate;
    options.rateDenominator = 1;
    MbcFileWriter writer;
    if (!writer.begin(options)) return false;
    for (int n = 0; n < kFrames; ++n)
        if (!writer.addFrame(sourcePicture(n).data(), kWidth * 4)) return false;
    const size_t frames = size_t(kSampleRate) * kFrames / kRate;
    const std::vector<int16_t> pcm = tone(frames);
    if (!writer.setAudio(pcm.data(), frames, 2, kSampleRate, WbcfEncoderOptions{})) return false;
    std::vector<uint8_t> file;
    return writer.finish(file) && writeBytes(path, file.data(), file.size());
}

inline std::filesystem::path make(Kind kind) {
    const std::filesystem::path& dir = Folder::path();
    const auto pictures = dir / "pictures.bgra", sound = dir / "tone.s16";
    if (!std::filesystem::exists(sound) && !writeSources(pictures, sound)) return {};
    const std::string videoIn = "-f rawvideo -pix_fmt bgra -s " + std::to_string(kWidth) + "x" +
                                std::to_string(kHeight) + " -r " + std::to_string(kRate) + " -i " + quoted(pictures);
    const std::string audioIn = "-f s16le -ar " + std::to_string(kSampleRate) + " -ac 2 -i " + quoted(sound);
    std::filesystem::path out;
    bool made = false;
    switch (kind) {
        case Kind::Mpeg1:
            out = dir / "movie.mpg";
            made = ffmpeg(videoIn + " " + audioIn + " -c:v mpeg1video -q:v 3 -g 12 -c:a mp2 -b:a 192k -f mpeg " +
                          quoted(out));
            break;
        case Kind::H264:
            out = dir / "movie.mp4";
            made = ffmpeg(videoIn + " " + audioIn +
                          " -c:v libx264 -preset veryfast -crf 20 -g 10 -pix_fmt yuv420p -c:a aac -b:a 128k " +
                          quoted(out));
            break;
        case Kind::Wav:
            out = dir / "tone.wav";
            made = ffmpeg(audioIn + " -c:a pcm_s16le " + quoted(out));
            break;
        case Kind::Mbc:
            out = dir / "movie.mbc";
            made = makeMbc(out);
            break;
    }
    return made ? out : std::filesystem::path();
}

// Each file is made once per process; an empty path when it could not be made.
inline std::filesystem::path file(Kind kind) {
    static std::mutex mutex;
    static std::map<Kind, std::filesystem::path> made;
    std::lock_guard<std::mutex> hold(mutex);
    auto it = made.find(kind);
    if (it == made.end()) it = made.emplace(kind, make(kind)).first;
    return it->second;
}

// A PNG of one 0xRRGGBB colour, exactly (made in RGB, never passing through YUV).
inline bool makePicture(const std::filesystem::path& path, int width, int height, uint32_t rgb) {
    char colour[16];
    std::snprintf(colour, sizeof colour, "0x%06X", rgb & 0xFFFFFF);
    return ffmpeg("-f lavfi -i color=c=" + std::string(colour) + ":s=" + std::to_string(width) + "x" +
                  std::to_string(height) + ",format=rgb24 -frames:v 1 -pix_fmt rgb24 " + quoted(path));
}

// ---- References ----

// One picture as 0x00RRGGBB words, rows top first.
using Picture = std::vector<uint32_t>;

// The engine's YUV rule (BT.709 studio range).
inline uint32_t yuvToRgb(int y, int u, int v) {
    const int yy = (y - 16) * 4769, uu = u - 128, vv = v - 128;
    auto clamp = [](int x) { return uint32_t(std::clamp(x >> 12, 0, 255)); };
    return clamp(yy + 7343 * vv) << 16 | clamp(yy - 2183 * vv - 873 * uu) << 8 | clamp(yy + 8652 * uu);
}

// Every picture of a movie as ffmpeg decodes it, in presentation order, as pixels: the
// planes turned into pixels by the engine's rule, or, with `ownConversion`, as ffmpeg
// converts them itself (BT.601 for pictures of this size), which is what a decoder that
// delivers RGB does.
inline std::vector<Picture> decodedPictures(const std::filesystem::path& movie, bool ownConversion = false) {
    const std::filesystem::path out = Folder::path() / (movie.filename().string() + (ownConversion ? ".bgra" : ".yuv"));
    std::vector<Picture> pictures;
    if (!ffmpeg("-i " + quoted(movie) + " -map 0:v -fps_mode passthrough -sws_flags bilinear -f rawvideo -pix_fmt " +
                (ownConversion ? "bgra " : "yuv420p ") + quoted(out)))
        return pictures;
    const std::vector<uint8_t> bytes = testsupport::readFile(out);
    const size_t pixels = size_t(kWidth) * kHeight;
    if (ownConversion) {
        for (size_t at = 0; at + pixels * 4 <= bytes.size(); at += pixels * 4) {
            Picture p(pixels);
            for (size_t i = 0; i < pixels; ++i) {
                std::memcpy(&p[i], &bytes[at + i * 4], 4);
                p[i] &= 0x00FFFFFF;
            }
            pictures.push_back(std::move(p));
        }
        return pictures;
    }
    const size_t chromaSize = pixels / 4;
    for (size_t at = 0; at + pixels + 2 * chromaSize <= bytes.size(); at += pixels + 2 * chromaSize) {
        const uint8_t* y = &bytes[at];
        const uint8_t* u = y + pixels;
        const uint8_t* v = u + chromaSize;
        Picture p(pixels);
        for (int r = 0; r < kHeight; ++r)
            for (int c = 0; c < kWidth; ++c) {
                const size_t chroma = size_t(r / 2) * (kWidth / 2) + c / 2;
                p[size_t(r) * kWidth + c] = yuvToRgb(y[size_t(r) * kWidth + c], u[chroma], v[chroma]);
            }
        pictures.push_back(std::move(p));
    }
    return pictures;
}

// Every picture of an .mbc as the project's own reader decodes it.
inline std::vector<Picture> readerPictures(const std::filesystem::path& movie) {
    std::vector<Picture> out;
    MbcReader reader;
    const std::u16string name = fromUtf8(movie.string());
    if (!reader.open(name.c_str()) || !reader.start(MbcReader::kOutputOpaque)) return out;
    const MbcReader::VideoInfo info = reader.videoInfo();
    std::vector<uint32_t> bgra(size_t(info.width) * info.height);
    for (uint32_t n = 0; n < reader.frameCount(); ++n) {
        if (!reader.seekToFrame(n) || !reader.waitForFrame(10000) ||
            !reader.copyVideoFrame(reinterpret_cast<uint8_t*>(bgra.data()), ptrdiff_t(info.width) * 4))
            return {};
        Picture p(bgra.size());
        for (size_t i = 0; i < p.size(); ++i) p[i] = bgra[i] & 0x00FFFFFF;
        out.push_back(std::move(p));
    }
    return out;
}

// Largest difference of one channel between two pictures of the same size.
inline int largestDifference(const Picture& a, const Picture& b) {
    if (a.size() != b.size()) return 256;
    int most = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (int shift = 0; shift < 24; shift += 8)
            most = std::max(most, std::abs(int(a[i] >> shift & 0xFF) - int(b[i] >> shift & 0xFF)));
    return most;
}

// Mean absolute difference over all channels.
inline double meanDifference(const Picture& a, const Picture& b) {
    if (a.size() != b.size() || a.empty()) return 256;
    uint64_t sum = 0;
    for (size_t i = 0; i < a.size(); ++i)
        for (int shift = 0; shift < 24; shift += 8)
            sum += uint64_t(std::abs(int(a[i] >> shift & 0xFF) - int(b[i] >> shift & 0xFF)));
    return double(sum) / double(a.size() * 3);
}

// The reference picture closest to p, or -1 for none.
inline int closestPicture(const std::vector<Picture>& references, const Picture& p) {
    int best = -1;
    double bestDifference = 1e9;
    for (size_t i = 0; i < references.size(); ++i) {
        const double d = meanDifference(references[i], p);
        if (d < bestDifference) bestDifference = d, best = int(i);
    }
    return best;
}

// The float samples of a WAV capture's data chunk (32-bit float stereo).
inline std::vector<float> readCapture(const std::filesystem::path& path) {
    const std::vector<uint8_t> bytes = testsupport::readFile(path);
    for (size_t at = 12; at + 8 <= bytes.size();) {
        uint32_t size = 0;
        std::memcpy(&size, &bytes[at + 4], 4);
        if (std::memcmp(&bytes[at], "data", 4) == 0) {
            const size_t n = std::min<size_t>(size, bytes.size() - at - 8) / 4;
            std::vector<float> samples(n);
            std::memcpy(samples.data(), &bytes[at + 8], n * 4);
            return samples;
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

// Levels of a stretch of stereo capture: the median over 10 ms windows of each side's
// RMS, leaving out windows where both sides are silent (the output ran dry there).
struct Levels {
    double left = 0, right = 0;
    size_t windows = 0;
};
inline Levels levelsOf(const std::vector<float>& stereo, size_t firstFrame, size_t endFrame) {
    constexpr size_t kWindow = 480;
    endFrame = std::min(endFrame, stereo.size() / 2);
    std::vector<double> left, right;
    for (size_t at = firstFrame; at + kWindow <= endFrame; at += kWindow) {
        double l = 0, r = 0;
        for (size_t i = at; i < at + kWindow; ++i) {
            l += double(stereo[2 * i]) * stereo[2 * i];
            r += double(stereo[2 * i + 1]) * stereo[2 * i + 1];
        }
        if (l == 0 && r == 0) continue;
        left.push_back(std::sqrt(l / kWindow));
        right.push_back(std::sqrt(r / kWindow));
    }
    Levels out;
    out.windows = left.size();
    if (left.empty()) return out;
    std::nth_element(left.begin(), left.begin() + left.size() / 2, left.end());
    std::nth_element(right.begin(), right.begin() + right.size() / 2, right.end());
    out.left = left[left.size() / 2];
    out.right = right[right.size() / 2];
    return out;
}

}  // namespace ffmpegfiles
