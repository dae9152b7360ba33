// layerdeck-mbcenc: writes .mbc movies from a sequence of pictures (and an optional WAV),
// or a .gbcf still from one picture.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/mbcenc/GbcfWriter.h"
#include "tools/mbcenc/MbcFileWriter.h"
#include "tools/mbcenc/PictureFile.h"
#include "tools/mbcenc/WavFile.h"

namespace {

const char kUsage[] =
    "usage: layerdeck-mbcenc [options] -o OUTPUT INPUT...\n"
    "\n"
    "Writes an MBC movie (OUTPUT ending in .mbc) from the INPUT pictures in order, or a\n"
    "GBCF still (OUTPUT ending in .gbcf, or --still) from the first picture.\n"
    "INPUT files are PNG (or BMP/GBCF) pictures, all of one size, or raw BGRA with --raw.\n"
    "\n"
    "options:\n"
    "  -o, --output FILE     the file to write\n"
    "  --raw WxH             inputs are raw top-down BGRA (W*4 bytes a row); a file may\n"
    "                        hold several pictures back to back\n"
    "  --still               write a GBCF still whatever the output's name\n"
    "  --layout N            1 (4:4:4), 2 (4:2:2), 3 (4:2:0, default) or 16 (RGB)\n"
    "  --alpha               code the alpha channel (output delivers ARGB)\n"
    "  --transform N         1 (lossless difference) or 2 (DCT, default)\n"
    "  -q, --quantiser N     1-63, default 8 (not used by transform 1)\n"
    "  --no-deblock          switch the deblocking filter off\n"
    "  --gop PATTERN         frame types, repeated: I intra, P predicted,\n"
    "                        B bidirectional, R repeat (default IPBB)\n"
    "  --search N            motion search range in full pixels, 0-60 (default 6)\n"
    "  --chunk N             frames per chunk (seek points), 1-4096 (default 30)\n"
    "  --ahead N             decode-ahead depth written to the header (default 8)\n"
    "  --rate NUM[/DEN]      frame rate (default 30/1)\n"
    "  --wav FILE            audio: integer PCM WAV, stored as WBCF\n"
    "  --audio-mode N        WBCF mode 0 (raw) or 1 (delta, default)\n"
    "  -h, --help            show this text\n"
    "\n"
    "Exit status 0 on success; otherwise one line on stderr and status 1.\n";

int fail(const std::string& message) {
    std::fprintf(stderr, "layerdeck-mbcenc: %s\n", message.c_str());
    return 1;
}

bool parseUint(const char* text, uint32_t& value) {
    if (!text || !*text) return false;
    char* end = nullptr;
    const unsigned long v = std::strtoul(text, &end, 10);
    if (*end || v > 0xFFFFFFFFul || text[0] == '-') return false;
    value = static_cast<uint32_t>(v);
    return true;
}

bool endsWith(const std::string& s, const char* suffix) {
    const size_t n = std::strlen(suffix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i]) return false;
    return true;
}

bool readBytes(const std::string& path, std::vector<uint8_t>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

bool writeBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char** argv) {
    MbcFileOptions options;
    std::string output, wavPath;
    std::vector<std::string> inputs;
    uint32_t rawWidth = 0, rawHeight = 0;
    bool still = false;
    WbcfEncoderOptions audioOptions;

    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                fail(std::string("missing value after ") + name);
                std::exit(1);
            }
            return argv[++i];
        };
        auto number = [&](const char* name, uint32_t lo, uint32_t hi) -> uint32_t {
            uint32_t v = 0;
            const char* text = value(name);
            if (!parseUint(text, v) || v < lo || v > hi) {
                fail(std::string("bad value for ") + name + ": " + text);
                std::exit(1);
            }
            return v;
        };
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "-o" || a == "--output") {
            output = value("--output");
        } else if (a == "--raw") {
            const std::string size = value("--raw");
            const size_t x = size.find('x');
            if (x == std::string::npos || !parseUint(size.substr(0, x).c_str(), rawWidth) ||
                !parseUint(size.substr(x + 1).c_str(), rawHeight) || !rawWidth || !rawHeight)
                return fail("bad size for --raw (want WxH): " + size);
        } else if (a == "--still") {
            still = true;
        } else if (a == "--layout") {
            const uint32_t v = number("--layout", 1, 16);
            if (v != 1 && v != 2 && v != 3 && v != 16) return fail("--layout must be 1, 2, 3 or 16");
            options.video.layout = v;
        } else if (a == "--alpha") {
            options.video.alpha = true;
        } else if (a == "--transform") {
            options.video.transform = static_cast<int>(number("--transform", 1, 2));
        } else if (a == "-q" || a == "--quantiser") {
            options.video.quantiser = static_cast<int>(number("--quantiser", 1, 63));
        } else if (a == "--no-deblock") {
            options.video.deblocking = false;
        } else if (a == "--gop") {
            options.pattern = value("--gop");
            if (options.pattern.empty() || options.pattern.find_first_not_of("IPBR") != std::string::npos)
                return fail("--gop takes the letters I, P, B and R");
        } else if (a == "--search") {
            options.video.searchRange = static_cast<int>(number("--search", 0, 60));
        } else if (a == "--chunk") {
            options.chunkLength = number("--chunk", 1, 4096);
        } else if (a == "--ahead") {
            options.aheadDepth = number("--ahead", 0, 1024);
        } else if (a == "--rate") {
            const std::string rate = value("--rate");
            const size_t slash = rate.find('/');
            uint32_t num = 0, den = 1;
            if (!parseUint(rate.substr(0, slash).c_str(), num) ||
                (slash != std::string::npos && !parseUint(rate.substr(slash + 1).c_str(), den)) || !num || !den)
                return fail("bad value for --rate (want NUM or NUM/DEN): " + rate);
            options.rateNumerator = num;
            options.rateDenominator = den;
        } else if (a == "--wav") {
            wavPath = value("--wav");
        } else if (a == "--audio-mode") {
            audioOptions.mode = static_cast<uint16_t>(number("--audio-mode", 0, 1));
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            return fail("unknown option " + a + " (see --help)");
        } else {
            inputs.push_back(a);
        }
    }
    if (output.empty()) return fail("no output file (-o); see --help");
    if (inputs.empty()) return fail("no input pictures; see --help");
    still = still || endsWith(output, ".gbcf");

    // Pictures are loaded one at a time and handed to sink, so long sequences need not
    // fit in memory. The first one fixes the size.
    uint32_t width = rawWidth, height = rawHeight;
    auto eachPicture = [&](auto&& sink) -> int {
        bool first = true;
        for (const std::string& path : inputs) {
            if (rawWidth) {
                std::vector<uint8_t> bytes;
                if (!readBytes(path, bytes)) return fail("cannot read " + path);
                const size_t frameBytes = size_t(rawWidth) * rawHeight * 4;
                if (bytes.empty() || bytes.size() % frameBytes)
                    return fail(path + ": size is not a whole number of " + std::to_string(rawWidth) + "x" +
                                std::to_string(rawHeight) + " BGRA pictures");
                for (size_t at = 0; at < bytes.size(); at += frameBytes) {
                    if (!sink(bytes.data() + at)) return 1;
                    if (still) return 0;
                }
                continue;
            }
            BgraPicture picture;
            std::string error;
            if (!loadPictureBgra(path, picture, error)) return fail(error);
            if (first) {
                width = picture.width;
                height = picture.height;
            } else if (picture.width != width || picture.height != height) {
                return fail(path + " is " + std::to_string(picture.width) + "x" + std::to_string(picture.height) +
                            ", the first picture " + std::to_string(width) + "x" + std::to_string(height));
            }
            first = false;
            if (!sink(picture.pixels.data())) return 1;
            if (still) return 0;
        }
        return 0;
    };

    std::vector<uint8_t> file;
    if (still) {
        const int status = eachPicture([&](const uint8_t* bgra) {
            options.video.width = width;
            options.video.height = height;
            if (writeGbcfStill(options.video, bgra, width * 4, file)) return true;
            fail("these settings cannot code a still (see --help)");
            return false;
        });
        if (status) return status;
    } else {
        MbcFileWriter writer;
        bool begun = false;
        const int status = eachPicture([&](const uint8_t* bgra) {
            if (!begun) {
                options.video.width = width;
                options.video.height = height;
                if (!writer.begin(options)) {
                    fail("these settings cannot code a movie (see --help)");
                    return false;
                }
                begun = true;
            }
            if (writer.addFrame(bgra, width * 4)) return true;
            fail("encoding failed");
            return false;
        });
        if (status) return status;
        if (!wavPath.empty()) {
            WavData wav;
            std::string error;
            if (!readWav(wavPath, wav, error)) return fail(wavPath + ": " + error);
            if (!writer.setAudio(wav.samples.data(), wav.samples.size() / wav.channels, wav.channels, wav.sampleRate,
                                 audioOptions))
                return fail(wavPath + ": audio cannot be coded (1-16 channels)");
        }
        if (!writer.finish(file)) return fail("encoding failed");
    }
    if (!writeBytes(output, file)) return fail("cannot write " + output);
    return 0;
}
