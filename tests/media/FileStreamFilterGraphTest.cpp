// A whole graph on the real engine: the file source reading a file from disk, a splitter
// whose source reads the file through the pull interface, and two recording renderers.
// Plays to the end, then seeks back through the graph and plays again.
#include <gtest/gtest.h>

#include <unistd.h>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "framework/InterfacePtr.h"
#include "framework/StreamCallbacks.h"
#include "framework/WideString.h"
#include "framework/dshow/CBaseRenderer.h"
#include "framework/dshow/Dshow.h"
#include "media/ContainerFormatTable.h"
#include "media/FileStreamFilter.h"
#include "platform/dshow/FilterGraph.h"
#include "splitters/AsyncReaderFile.h"
#include "splitters/SplitterFilter.h"

namespace {

constexpr REFERENCE_TIME kFrame = 20 * MILLISECONDS;
constexpr int kFrames = 10;
constexpr uint32_t kMagic = 0x4D424346;
constexpr GUID kVideoSubtype = guidOf("{7C1D0102-55AA-4E11-8B3D-0A1B2C3D4E5F}");
constexpr GUID kAudioSubtype = guidOf("{7C1D0103-55AA-4E11-8B3D-0A1B2C3D4E5F}");

// Each record of the file: frame number, magic. The source reads them through the
// callbacks over the upstream reader, as the container sources do.
class RecordSource : public SplitterSource {
public:
    HRESULT open(IAsyncReader* reader) override {
        file_ = std::make_unique<AsyncReaderFile>(reader);
        const StreamCallbacks& cb = AsyncReaderFile::callbacks();
        handle_ = cb.open(file_->name(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
        int64_t size = 0;
        if (!handle_ || !cb.size(handle_, &size) || size % 8 != 0) return E_FAIL;
        frameCount_ = size / 8;
        duration_ = frameCount_ * kFrame;
        return S_OK;
    }
    void close() override { file_.reset(); }
    HRESULT fillSamples(IMediaSample* video, IMediaSample* audio, DWORD* flags) override {
        *flags = 0;
        if (next_ >= frameCount_) return NS_E_NO_MORE_SAMPLES;
        const StreamCallbacks& cb = AsyncReaderFile::callbacks();
        uint32_t record[2] = {};
        uint32_t got = 0;
        if (!cb.seek(handle_, next_ * 8, STREAM_SEEK_SET_ORIGIN) || !cb.read(handle_, record, 8, &got) || got != 8 ||
            record[1] != kMagic)
            return E_FAIL;
        REFERENCE_TIME start = next_ * kFrame, stop = start + kFrame;
        for (IMediaSample* s : {video, audio}) {
            if (!s) continue;
            BYTE* p = nullptr;
            s->GetPointer(&p);
            std::memcpy(p, &record[0], 4);
            s->SetActualDataLength(4);
            s->SetTime(&start, &stop);
        }
        *flags = (video ? kSplitterVideoFilled : 0) | (audio ? kSplitterAudioFilled : 0);
        ++next_;
        return S_OK;
    }
    HRESULT seekToTime(REFERENCE_TIME t) override {
        next_ = t / kFrame;
        return S_OK;
    }
    HRESULT seekToFrame(LONGLONG n) override {
        next_ = n;
        return S_OK;
    }
    HRESULT videoType(CMediaType* type, LONG* size) override {
        return describe(type, size, MEDIATYPE_Video, kVideoSubtype);
    }
    HRESULT audioType(CMediaType* type, LONG* size) override {
        return describe(type, size, MEDIATYPE_Audio, kAudioSubtype);
    }
    bool supportsFrameFormat() override { return true; }
    LONGLONG timeToFrame(REFERENCE_TIME t) override { return t < 0 ? 0 : std::min(frameCount_, t / kFrame); }
    REFERENCE_TIME frameToTime(LONGLONG n) override { return n < 0 ? 0 : std::min(duration_, n * kFrame); }

private:
    static HRESULT describe(CMediaType* type, LONG* size, const GUID& major, const GUID& sub) {
        type->InitMediaType();
        type->SetType(&major);
        type->SetSubtype(&sub);
        type->SetFormatType(&FORMAT_None);
        type->SetSampleSize(4);
        *size = 4;
        return S_OK;
    }
    std::unique_ptr<AsyncReaderFile> file_;
    HANDLE handle_ = nullptr;
    LONGLONG next_ = 0;
};

class RecordSplitter : public SplitterFilter {
public:
    RecordSplitter()
        : SplitterFilter(u"Record Splitter", guidOf("{7C1D0100-55AA-4E11-8B3D-0A1B2C3D4E5F}"), MEDIASUBTYPE_MbcStream,
                         6) {}

protected:
    std::unique_ptr<SplitterSource> createSource() override { return std::make_unique<RecordSource>(); }
};

struct Rendered {
    int frame;
    REFERENCE_TIME start;
    bool discontinuity;
};

class RecordingRenderer : public CBaseRenderer {
public:
    RecordingRenderer() : CBaseRenderer(guidOf("{7C1D0101-55AA-4E11-8B3D-0A1B2C3D4E5F}"), u"Recorder", nullptr) {}
    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    HRESULT DoRenderSample(IMediaSample* s) override {
        Rendered r{-1, 0, s->IsDiscontinuity() == S_OK};
        BYTE* p = nullptr;
        s->GetPointer(&p);
        std::memcpy(&r.frame, p, 4);
        REFERENCE_TIME stop = 0;
        s->GetTime(&r.start, &stop);
        std::lock_guard<std::mutex> g(mutex_);
        rendered_.push_back(r);
        return S_OK;
    }
    std::vector<Rendered> take() {
        std::lock_guard<std::mutex> g(mutex_);
        return std::exchange(rendered_, {});
    }

private:
    std::mutex mutex_;
    std::vector<Rendered> rendered_;
};

class TempRecordFile {
public:
    TempRecordFile() {
        char dir[] = "/tmp/layerdeck-fsf-XXXXXX";
        dir_ = mkdtemp(dir);
        path_ = dir_ + "/records.mbc";
        FILE* f = std::fopen(path_.c_str(), "wb");
        for (uint32_t n = 0; n < static_cast<uint32_t>(kFrames); ++n) {
            uint32_t record[2] = {n, kMagic};
            std::fwrite(record, sizeof record, 1, f);
        }
        std::fclose(f);
    }
    ~TempRecordFile() {
        std::remove(path_.c_str());
        rmdir(dir_.c_str());
    }
    std::u16string name() const { return fromUtf8(path_); }

private:
    std::string dir_, path_;
};

IPin* pinOf(IBaseFilter* f, const char16_t* name) {
    IPin* pin = nullptr;
    f->FindPin(name, &pin);
    if (pin) pin->Release();  // the filter keeps it
    return pin;
}

}  // namespace

TEST(FileStreamFilterGraphTest, PlaysToTheEndSeeksBackAndPlaysAgain) {
    TempRecordFile file;
    InterfacePtr<IGraphBuilder> graph(new FilterGraph());
    InterfacePtr<FileStreamFilter> source(new FileStreamFilter(systemFileCallbacks()));
    InterfacePtr<RecordSplitter> splitter(new RecordSplitter());
    InterfacePtr<RecordingRenderer> video(new RecordingRenderer()), audio(new RecordingRenderer());
    ASSERT_EQ(graph->AddFilter(source.get(), FileStreamFilter::kName), S_OK);
    ASSERT_EQ(source->Load(file.name().c_str(), nullptr), S_OK);
    ASSERT_EQ(graph->AddFilter(splitter.get(), u"Record Splitter"), S_OK);
    ASSERT_EQ(graph->AddFilter(video.get(), u"Video Recorder"), S_OK);
    ASSERT_EQ(graph->AddFilter(audio.get(), u"Audio Recorder"), S_OK);

    ASSERT_EQ(graph->Connect(pinOf(source.get(), u"Source Output"), pinOf(splitter.get(), u"Input")), S_OK);
    ASSERT_EQ(graph->ConnectDirect(pinOf(splitter.get(), u"Video"), pinOf(video.get(), u"In"), nullptr), S_OK);
    ASSERT_EQ(graph->ConnectDirect(pinOf(splitter.get(), u"Audio"), pinOf(audio.get(), u"In"), nullptr), S_OK);

    InterfacePtr<IMediaControl> control = graph.as<IMediaControl>();
    InterfacePtr<IMediaEvent> events = graph.as<IMediaEvent>();
    InterfacePtr<IMediaSeeking> seeking = graph.as<IMediaSeeking>();
    ASSERT_TRUE(control && events && seeking);
    LONGLONG duration = 0;
    ASSERT_EQ(seeking->GetDuration(&duration), S_OK);
    EXPECT_EQ(duration, kFrames * kFrame);

    ASSERT_TRUE(SUCCEEDED(control->Run()));
    LONG code = 0;
    ASSERT_EQ(events->WaitForCompletion(20000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    for (RecordingRenderer* r : {video.get(), audio.get()}) {
        std::vector<Rendered> got = r->take();
        ASSERT_EQ(got.size(), static_cast<size_t>(kFrames));
        for (int n = 0; n < kFrames; ++n) {
            EXPECT_EQ(got[n].frame, n);
            EXPECT_EQ(got[n].start, n * kFrame);
        }
        EXPECT_TRUE(got[0].discontinuity);
    }

    // Back to frame 6 while running: the rest plays as a new segment from time 0.
    LONGLONG at = 6 * kFrame;
    ASSERT_EQ(seeking->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, AM_SEEKING_NoPositioning), S_OK);
    ASSERT_EQ(events->WaitForCompletion(20000, &code), S_OK);
    EXPECT_EQ(code, EC_COMPLETE);
    for (RecordingRenderer* r : {video.get(), audio.get()}) {
        std::vector<Rendered> got = r->take();
        ASSERT_EQ(got.size(), static_cast<size_t>(kFrames - 6));
        EXPECT_EQ(got[0].frame, 6);
        EXPECT_EQ(got[0].start, 0);
        EXPECT_TRUE(got[0].discontinuity);
        EXPECT_EQ(got.back().frame, kFrames - 1);
    }
    ASSERT_EQ(control->Stop(), S_OK);
}
