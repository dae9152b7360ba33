// Hostile media types and samples against the dump's two sinks, and hostile words
// against its command line: every type is refused cleanly or described within bounds,
// and no sample is read outside its buffer (the sanitizers watch the copies).
// Input: [subtype][format type][block length lo, hi][sample cut lo, hi][block...]
// [command-line words separated by 0 bytes...] after the block.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "framework/InterfacePtr.h"
#include "framework/dshow/CMediaSample.h"
#include "framework/dshow/CMediaType.h"
#include "framework/dshow/Dshow.h"
#include "tools/dump/DumpArguments.h"
#include "tools/dump/PcmSink.h"
#include "tools/dump/VideoSink.h"

namespace {

void requireAt(bool condition, int line) {
    if (condition) return;
    std::fprintf(stderr, "dump sink fuzz: check at line %d failed\n", line);
    std::abort();
}
#define require(c) requireAt((c), __LINE__)

const GUID* const kSubtypes[] = {&MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_ARGB32,     &MEDIASUBTYPE_RGB24,
                                 &MEDIASUBTYPE_PCM,   &MEDIASUBTYPE_IEEE_FLOAT, &GUID_NULL};
const GUID* const kFormats[] = {&FORMAT_VideoInfo, &FORMAT_VideoInfo2, &FORMAT_WaveFormatEx, &FORMAT_None};
constexpr size_t kHeader = 6;
constexpr size_t kMaxSample = 1 << 20;

InterfacePtr<IMediaSample> sampleOver(std::vector<uint8_t>& buffer) {
    buffer.reserve(1);  // a buffer even when empty
    HRESULT hr = S_OK;
    return InterfacePtr<IMediaSample>(new CMediaSample(u"fuzz", nullptr, &hr, buffer.data(), LONG(buffer.size())));
}

void video(const CMediaType& type, size_t cut) {
    HRESULT hr = S_OK;
    InterfacePtr<VideoSink> sink(new VideoSink(&hr));
    VideoSink::Layout expected;
    uint64_t delivered = 0;
    sink->setHandler([&](const VideoSink::Picture& p) {
        require(p.width == expected.width && p.height == expected.height && p.bgra);
        ++delivered;
        return true;
    });
    const bool accepted = sink->CheckMediaType(&type) == S_OK;
    require(accepted == (sink->SetMediaType(&type) == S_OK));
    if (!accepted) return;
    expected = sink->layout();
    require(expected.width >= 1 && expected.width <= uint32_t(VideoSink::kMaxDimension));
    require(expected.height >= 1 && expected.height <= uint32_t(VideoSink::kMaxDimension));
    require(expected.stride == size_t(expected.width) * 4);
    const size_t needed = expected.stride * expected.height;
    if (needed > kMaxSample) return;
    std::vector<uint8_t> buffer(needed - std::min(cut, needed), 0x5A);
    require(sink->DoRenderSample(sampleOver(buffer).get()) == S_OK);
    require(delivered == (cut == 0 ? 1u : 0u));
    require(sink->rejected() == (cut == 0 ? 0u : 1u));
}

void audio(const CMediaType& type, size_t length) {
    HRESULT hr = S_OK;
    InterfacePtr<PcmSink> sink(new PcmSink(&hr));
    size_t handed = 0;
    sink->setHandler([&](const AudioFormat& f, const uint8_t* data, size_t bytes) {
        require(f.valid() && data);
        handed += bytes;
        return true;
    });
    if (sink->SetMediaType(&type) != S_OK) {
        require(!sink->format());
        return;
    }
    require(sink->format() && sink->format()->valid());
    std::vector<uint8_t> buffer(std::min(length, kMaxSample), 0x11);
    InterfacePtr<IMediaSample> sample = sampleOver(buffer);
    // A data length the buffer cannot hold is cut to the buffer.
    sample->SetActualDataLength(LONG(buffer.size()));
    require(sink->DoRenderSample(sample.get()) == S_OK);
    require(handed == buffer.size() && sink->receivedBytes() == buffer.size());
}

void commandLine(const uint8_t* data, size_t size) {
    std::vector<std::string> words(1);
    for (size_t i = 0; i < size && words.size() < 16; ++i) {
        if (data[i] == 0)
            words.emplace_back();
        else
            words.back() += char(data[i]);
    }
    dump::Arguments arguments;
    std::string error;
    if (dump::parseArguments(words, arguments, error)) {
        require(error.empty());
        require(arguments.frames.selection.every >= 1 && arguments.frames.selection.count >= 1);
    } else {
        require(!error.empty() && error.find('\n') == std::string::npos);
    }
}

// Words separated by 0 bytes, as the input carries them.
template <size_t N>
std::string wordsOf(const char (&text)[N]) {
    return std::string(text, N - 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeader) return 0;
    const GUID& subtype = *kSubtypes[data[0] % std::size(kSubtypes)];
    const GUID& formatType = *kFormats[data[1] % std::size(kFormats)];
    const size_t blockLength = std::min<size_t>(data[2] | data[3] << 8, size - kHeader);
    const size_t cut = data[4] | data[5] << 8;
    CMediaType type;
    const bool isAudio =
        subtype == MEDIASUBTYPE_PCM || subtype == MEDIASUBTYPE_IEEE_FLOAT || formatType == FORMAT_WaveFormatEx;
    type.SetType(isAudio ? &MEDIATYPE_Audio : &MEDIATYPE_Video);
    type.SetSubtype(&subtype);
    type.SetFormatType(&formatType);
    if (blockLength) type.SetFormat(data + kHeader, ULONG(blockLength));
    video(type, cut);
    audio(type, cut);
    commandLine(data + kHeader + blockLength, size - kHeader - blockLength);
    return 0;
}

// Seeds: a bottom-up RGB32 picture, a top-down ARGB32 one, stereo 16-bit PCM, and a
// frames command line with every option.
extern "C" void LayerdeckFuzzSeeds(std::vector<std::vector<uint8_t>>* seeds) {
    auto seed = [&](uint8_t subtype, uint8_t format, const void* block, size_t length, uint16_t cut,
                    const std::string& words) {
        std::vector<uint8_t> s = {subtype,      format,           uint8_t(length), uint8_t(length >> 8),
                                  uint8_t(cut), uint8_t(cut >> 8)};
        const uint8_t* b = static_cast<const uint8_t*>(block);
        s.insert(s.end(), b, b + length);
        s.insert(s.end(), words.begin(), words.end());
        seeds->push_back(std::move(s));
    };
    VIDEOINFOHEADER vih{};
    vih.AvgTimePerFrame = 400000;
    vih.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    vih.bmiHeader.biWidth = 7;
    vih.bmiHeader.biHeight = 5;
    vih.bmiHeader.biBitCount = 32;
    seed(0, 0, &vih, sizeof vih, 0, wordsOf("frames\0a.mp4\0out\0--first\0003\0--every\0002"));
    VIDEOINFOHEADER2 vih2{};
    vih2.bmiHeader = vih.bmiHeader;
    vih2.bmiHeader.biHeight = -3;
    seed(1, 1, &vih2, sizeof vih2, 4, wordsOf("info\0x.mbc\0--decode\0--graph"));
    WAVEFORMATEX wf{};
    wf.wFormatTag = WAVE_FORMAT_PCM;
    wf.nChannels = 2;
    wf.nSamplesPerSec = 44100;
    wf.wBitsPerSample = 16;
    wf.nBlockAlign = 4;
    wf.nAvgBytesPerSec = 44100 * 4;
    seed(3, 2, &wf, sizeof wf, 4096, wordsOf("audio\0a.wav\0o.wav"));
}
