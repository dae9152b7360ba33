#include "tools/mbcenc/WavFile.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace {

uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}
void put16(std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(static_cast<uint8_t>(x));
    v.push_back(static_cast<uint8_t>(x >> 8));
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
    put16(v, x & 0xFFFF);
    put16(v, x >> 16);
}

}  // namespace

bool parseWav(const uint8_t* data, size_t size, WavData& wav, std::string& error) {
    wav = WavData{};
    if (size < 12 || std::memcmp(data, "RIFF", 4) != 0 || std::memcmp(data + 8, "WAVE", 4) != 0) {
        error = "not a RIFF/WAVE file";
        return false;
    }
    uint16_t format = 0, channels = 0, bits = 0;
    uint32_t rate = 0;
    bool haveFormat = false;
    size_t pos = 12;
    while (pos + 8 <= size) {
        const uint8_t* chunk = data + pos;
        const uint64_t length = le32(chunk + 4);
        const size_t body = pos + 8;
        const size_t available = static_cast<size_t>(std::min<uint64_t>(length, size - body));
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (available < 16) break;
            format = le16(data + body);
            channels = le16(data + body + 2);
            rate = le32(data + body + 4);
            bits = le16(data + body + 14);
            if (format == 0xFFFE && available >= 26) format = le16(data + body + 24);  // extensible: sub-format
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) break;
            if (format != 1 || channels == 0 || rate == 0 || (bits != 8 && bits != 16 && bits != 24 && bits != 32)) {
                error = "only integer PCM of 8, 16, 24 or 32 bits is supported";
                return false;
            }
            const size_t bytes = bits / 8;
            const size_t count = available / bytes / channels * channels;
            wav.samples.resize(count);
            const uint8_t* p = data + body;
            for (size_t i = 0; i < count; ++i, p += bytes) {
                int32_t v;
                switch (bytes) {
                    case 1:
                        v = (int32_t(p[0]) - 128) << 8;
                        break;
                    case 2:
                        v = int16_t(le16(p));
                        break;
                    case 3:
                        v = int32_t(uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24) >> 16;
                        break;
                    default:
                        v = int32_t(le32(p)) >> 16;
                        break;
                }
                wav.samples[i] = static_cast<int16_t>(v);
            }
            wav.channels = channels;
            wav.sampleRate = rate;
            return true;
        }
        pos = body + static_cast<size_t>(std::min<uint64_t>(length + (length & 1), size - body));
    }
    error = haveFormat ? "no data chunk" : "no fmt chunk";
    return false;
}

bool readWav(const std::string& path, WavData& wav, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path;
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return parseWav(bytes.data(), bytes.size(), wav, error);
}

bool writeWav(const std::string& path, uint16_t channels, uint32_t sampleRate, const std::vector<int16_t>& samples) {
    const uint64_t dataBytes = uint64_t(samples.size()) * 2;
    if (dataBytes > 0xFFFFFFFFull - 36 || channels == 0) return false;
    std::vector<uint8_t> h;
    h.insert(h.end(), {'R', 'I', 'F', 'F'});
    put32(h, static_cast<uint32_t>(36 + dataBytes));
    h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put32(h, 16);
    put16(h, 1);
    put16(h, channels);
    put32(h, sampleRate);
    put32(h, sampleRate * channels * 2);
    put16(h, channels * 2);
    put16(h, 16);
    h.insert(h.end(), {'d', 'a', 't', 'a'});
    put32(h, static_cast<uint32_t>(dataBytes));
    std::ofstream out(path, std::ios::binary);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(h.data()), static_cast<std::streamsize>(h.size()));
    for (int16_t s : samples) {
        const char b[2] = {static_cast<char>(s & 0xFF), static_cast<char>((s >> 8) & 0xFF)};
        out.write(b, 2);
    }
    return static_cast<bool>(out);
}
