// The splitter framework with a stamping source: pins per stream, type negotiation,
// seeking rules and the streaming thread's delivery, flush and restart.
#include <gtest/gtest.h>

#include <algorithm>
#include <thread>

#include "SplitterTestFilters.h"
#include "framework/InterfacePtr.h"

using namespace splittertest;

namespace {

struct Rig {
    explicit Rig(SourceScript script, bool offerReader = true) {
        splitter = InterfacePtr<TestSplitter>(new TestSplitter(script, &log));
        reader = InterfacePtr<MemoryReaderFilter>(new MemoryReaderFilter(std::vector<BYTE>(1234, 7), offerReader));
        videoSink = InterfacePtr<RecordingSink>(new RecordingSink());
        audioSink = InterfacePtr<RecordingSink>(new RecordingSink());
    }
    ~Rig() {
        stop();
        // Connected pins hold each other's filters, as a graph's teardown would undo.
        for (IPin* pin : {static_cast<IPin*>(reader->pin()), static_cast<IPin*>(splitter->inputPin()),
                          static_cast<IPin*>(splitter->videoPin()), static_cast<IPin*>(splitter->audioPin()),
                          static_cast<IPin*>(videoSink->pin()), static_cast<IPin*>(audioSink->pin())})
            if (pin) pin->Disconnect();
    }

    HRESULT connectInput() { return reader->pin()->Connect(splitter->inputPin(), nullptr); }
    void connectAll() {
        ASSERT_EQ(connectInput(), S_OK);
        if (splitter->videoPin()) {
            ASSERT_EQ(splitter->videoPin()->Connect(videoSink->pin(), nullptr), S_OK);
        }
        if (splitter->audioPin()) {
            ASSERT_EQ(splitter->audioPin()->Connect(audioSink->pin(), nullptr), S_OK);
        }
    }
    void pause() {
        videoSink->Pause();
        audioSink->Pause();
        ASSERT_EQ(splitter->Pause(), S_OK);
    }
    void run() {
        pause();
        videoSink->Run(0);
        audioSink->Run(0);
        ASSERT_EQ(splitter->Run(0), S_OK);
    }
    void stop() {
        // Downstream first, as the graph does.
        videoSink->Stop();
        audioSink->Stop();
        splitter->Stop();
    }
    IMediaSeeking* seeking() { return splitter->seeking(); }
    std::vector<LONGLONG> frameSeeks() {
        std::lock_guard<std::mutex> g(log.mutex);
        return log.frameSeeks;
    }
    std::vector<REFERENCE_TIME> timeSeeks() {
        std::lock_guard<std::mutex> g(log.mutex);
        return log.timeSeeks;
    }

    SourceLog log;
    InterfacePtr<TestSplitter> splitter;
    InterfacePtr<MemoryReaderFilter> reader;
    InterfacePtr<RecordingSink> videoSink, audioSink;
};

// The thread parks just after it sent the end of stream downstream.
bool waitForState(SplitterSeeking* s, int state) {
    for (int i = 0; i < 20000; ++i) {
        if (s->threadState() == state) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

std::vector<std::u16string> pinNames(SplitterFilter* f) {
    std::vector<std::u16string> names;
    for (int i = 0; i < f->GetPinCount(); ++i) names.push_back(f->GetPin(i)->Name());
    return names;
}

}  // namespace

TEST(SplitterFilterTest, OutputPinsFollowTheStreamsOfTheFile) {
    {
        Rig rig(SourceScript{.video = false, .audio = true});
        ASSERT_EQ(rig.connectInput(), S_OK);
        EXPECT_EQ(pinNames(rig.splitter.get()), (std::vector<std::u16string>{u"Input", u"Audio"}));
        InterfacePtr<IPin> video;
        EXPECT_EQ(rig.splitter->FindPin(u"Video", video.put()), VFW_E_NOT_FOUND);
        EXPECT_EQ(rig.log.fileLength, 1234);
    }
    {
        Rig rig(SourceScript{.video = true, .audio = false});
        ASSERT_EQ(rig.connectInput(), S_OK);
        EXPECT_EQ(pinNames(rig.splitter.get()), (std::vector<std::u16string>{u"Input", u"Video"}));
    }
    {
        Rig rig(SourceScript{});
        ASSERT_EQ(rig.connectInput(), S_OK);
        EXPECT_EQ(pinNames(rig.splitter.get()), (std::vector<std::u16string>{u"Input", u"Video", u"Audio"}));
        // Disconnecting the input takes the outputs and the source away.
        ASSERT_EQ(rig.splitter->inputPin()->Disconnect(), S_OK);
        rig.reader->pin()->Disconnect();
        EXPECT_EQ(rig.splitter->GetPinCount(), 1);
        EXPECT_TRUE(rig.log.closed.load());
    }
}

TEST(SplitterFilterTest, ConnectionFailsCleanlyWhenTheSourceCannotDescribeAStream) {
    Rig rig(SourceScript{.videoTypeResult = VFW_E_INVALID_FILE_FORMAT});
    EXPECT_TRUE(FAILED(rig.connectInput()));
    EXPECT_EQ(rig.splitter->GetPinCount(), 1);
    EXPECT_FALSE(rig.splitter->inputPin()->IsConnected());
    EXPECT_EQ(rig.splitter->seeking(), nullptr);
    EXPECT_TRUE(rig.log.closed.load());

    Rig noReader(SourceScript{}, false);
    EXPECT_EQ(noReader.connectInput(), VFW_E_NO_TRANSPORT);
    EXPECT_EQ(noReader.splitter->GetPinCount(), 1);
}

TEST(SplitterFilterTest, InputAndOutputTypes) {
    Rig rig(SourceScript{});
    CMediaType type;
    type.SetType(&MEDIATYPE_Stream);
    type.SetSubtype(&kStreamSubtype);
    EXPECT_EQ(rig.splitter->inputPin()->QueryAccept(&type), S_OK);
    type.SetSubtype(&GUID_NULL);
    EXPECT_EQ(rig.splitter->inputPin()->QueryAccept(&type), S_OK);
    type.SetSubtype(&MEDIASUBTYPE_Avi);
    EXPECT_EQ(rig.splitter->inputPin()->QueryAccept(&type), S_FALSE);
    type.SetType(&MEDIATYPE_Video);
    type.SetSubtype(&kStreamSubtype);
    EXPECT_EQ(rig.splitter->inputPin()->QueryAccept(&type), S_FALSE);

    ASSERT_EQ(rig.connectInput(), S_OK);
    SplitterOutputPin* video = rig.splitter->videoPin();
    CMediaType offered;
    EXPECT_EQ(video->GetMediaType(0, &offered), S_OK);
    EXPECT_EQ(offered.subtype, kVideoSubtype);
    EXPECT_EQ(video->GetMediaType(1, &offered), VFW_S_NO_MORE_ITEMS);
    EXPECT_EQ(video->GetMediaType(-1, &offered), E_INVALIDARG);
    CMediaType other = offered;
    other.SetFormatType(&FORMAT_VideoInfo);
    EXPECT_EQ(video->QueryAccept(&other), S_FALSE);

    // Both outputs answer seeking with the filter's one seeking object.
    InterfacePtr<IMediaSeeking> a, b;
    ASSERT_EQ(video->QueryInterface(IMediaSeeking::iid, a.putVoid()), S_OK);
    ASSERT_EQ(rig.splitter->audioPin()->QueryInterface(IMediaSeeking::iid, b.putVoid()), S_OK);
    EXPECT_EQ(a.get(), b.get());
    EXPECT_EQ(a.get(), static_cast<IMediaSeeking*>(rig.splitter->seeking()));
}

TEST(SplitterFilterTest, RatesAndCapabilities) {
    Rig rig(SourceScript{});
    ASSERT_EQ(rig.connectInput(), S_OK);
    IMediaSeeking* s = rig.seeking();
    EXPECT_EQ(s->SetRate(1.0), S_OK);
    EXPECT_EQ(s->SetRate(2.0), static_cast<HRESULT>(0x8004025C));
    EXPECT_EQ(s->SetRate(0.0), E_INVALIDARG);
    EXPECT_EQ(s->SetRate(-1.0), E_INVALIDARG);
    DWORD caps = 0;
    EXPECT_EQ(s->GetCapabilities(&caps), S_OK);
    EXPECT_EQ(caps, 0x37u);
    DWORD ask = AM_SEEKING_CanSeekAbsolute | AM_SEEKING_CanGetCurrentPos;
    EXPECT_EQ(s->CheckCapabilities(&ask), S_FALSE);
    EXPECT_EQ(ask, static_cast<DWORD>(AM_SEEKING_CanSeekAbsolute));
    LONGLONG now = 0;
    EXPECT_EQ(s->GetCurrentPosition(&now), E_NOTIMPL);
}

TEST(SplitterFilterTest, PositionsAreClampedAndAStopPastTheEndStaysOutOfTheSource) {
    Rig rig(SourceScript{.frames = 10});
    ASSERT_EQ(rig.connectInput(), S_OK);
    IMediaSeeking* s = rig.seeking();
    LONGLONG duration = 0;
    ASSERT_EQ(s->GetDuration(&duration), S_OK);
    EXPECT_EQ(duration, 10 * kFrame);

    LONGLONG current = 3 * kFrame, stop = 99 * kFrame;
    ASSERT_EQ(s->SetPositions(&current, AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime, &stop,
                              AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime),
              S_OK);
    EXPECT_EQ(current, 3 * kFrame);
    EXPECT_EQ(stop, duration);
    LONGLONG c = 0, e = 0;
    ASSERT_EQ(s->GetPositions(&c, &e), S_OK);
    EXPECT_EQ(c, 3 * kFrame);
    EXPECT_EQ(e, duration);
    EXPECT_EQ(rig.timeSeeks(), (std::vector<REFERENCE_TIME>{3 * kFrame}));

    // Negative lands on 0; relative moves from the stored position; incremental stop
    // counts from the new current one.
    current = -5;
    ASSERT_EQ(s->SetPositions(&current, AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime, nullptr, 0), S_OK);
    EXPECT_EQ(current, 0);
    current = 2 * kFrame;
    stop = kFrame;
    ASSERT_EQ(s->SetPositions(&current, AM_SEEKING_RelativePositioning, &stop, AM_SEEKING_IncrementalPositioning),
              S_OK);
    ASSERT_EQ(s->GetPositions(&c, &e), S_OK);
    EXPECT_EQ(c, 2 * kFrame);
    EXPECT_EQ(e, 3 * kFrame);

    EXPECT_EQ(s->SetPositions(&current, AM_SEEKING_IncrementalPositioning, nullptr, 0), E_INVALIDARG);
    EXPECT_EQ(s->SetPositions(nullptr, AM_SEEKING_AbsolutePositioning, nullptr, 0), E_POINTER);
}

TEST(SplitterFilterTest, TheSamePositionSeeksOnceUntilTheNextRun) {
    Rig rig(SourceScript{.frames = 10});
    rig.connectAll();
    IMediaSeeking* s = rig.seeking();
    LONGLONG at = 4 * kFrame;
    // Both renderers of a graph pass the same request on.
    ASSERT_EQ(s->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    ASSERT_EQ(s->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    EXPECT_EQ(rig.timeSeeks().size(), 1u);
    rig.run();
    ASSERT_TRUE(rig.videoSink->waitFor(Arrival::EndOfStream, 1));
    ASSERT_EQ(s->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    EXPECT_EQ(rig.timeSeeks().size(), 2u);
}

TEST(SplitterFilterTest, ARepeatedSeekIsNotSkippedOnceAPausedRoundHasReadOn) {
    Rig rig(SourceScript{.frames = 10});
    rig.connectAll();
    IMediaSeeking* s = rig.seeking();
    LONGLONG at = 4 * kFrame;
    ASSERT_EQ(s->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    rig.pause();
    ASSERT_TRUE(rig.videoSink->waitFor(Arrival::Sample, 1));
    ASSERT_TRUE(waitForState(rig.splitter->seeking(), SplitterSeeking::Waiting));
    rig.stop();
    // The paused round read frame 4: the source stands after it, so the same request
    // must seek again or the next pause would show frame 5.
    ASSERT_EQ(s->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    EXPECT_EQ(rig.timeSeeks().size(), 2u);
    rig.pause();
    ASSERT_TRUE(rig.videoSink->waitFor(Arrival::Sample, 2));
    std::vector<Arrival> samples = rig.videoSink->samples();
    ASSERT_EQ(samples.size(), 2u);
    EXPECT_EQ(samples[0].frame, 4);
    EXPECT_EQ(samples[1].frame, 4);
}

TEST(SplitterFilterTest, FrameFormatSeeksByFrame) {
    Rig rig(SourceScript{.frames = 10});
    ASSERT_EQ(rig.connectInput(), S_OK);
    IMediaSeeking* s = rig.seeking();
    EXPECT_EQ(s->IsFormatSupported(&TIME_FORMAT_FRAME), S_OK);
    EXPECT_EQ(s->SetTimeFormat(&TIME_FORMAT_BYTE), E_INVALIDARG);
    ASSERT_EQ(s->SetTimeFormat(&TIME_FORMAT_FRAME), S_OK);
    LONGLONG duration = 0;
    s->GetDuration(&duration);
    EXPECT_EQ(duration, 10);
    LONGLONG frame = 3;
    ASSERT_EQ(s->SetPositions(&frame, AM_SEEKING_AbsolutePositioning | AM_SEEKING_ReturnTime, nullptr, 0), S_OK);
    EXPECT_EQ(frame, 3 * kFrame);  // returned as media time
    EXPECT_EQ(rig.frameSeeks(), (std::vector<LONGLONG>{3}));
    EXPECT_TRUE(rig.timeSeeks().empty());
    LONGLONG converted = 0;
    ASSERT_EQ(s->ConvertTimeFormat(&converted, &TIME_FORMAT_MEDIA_TIME, 7, &TIME_FORMAT_FRAME), S_OK);
    EXPECT_EQ(converted, 7 * kFrame);
    ASSERT_EQ(s->ConvertTimeFormat(&converted, &TIME_FORMAT_FRAME, 99 * kFrame, &TIME_FORMAT_MEDIA_TIME), S_OK);
    EXPECT_EQ(converted, 10);
    // Back in media time the stored position is the same place.
    ASSERT_EQ(s->SetTimeFormat(&TIME_FORMAT_MEDIA_TIME), S_OK);
    LONGLONG c = 0;
    s->GetPositions(&c, nullptr);
    EXPECT_EQ(c, 3 * kFrame);

    Rig noFrames(SourceScript{.frameFormat = false});
    ASSERT_EQ(noFrames.connectInput(), S_OK);
    EXPECT_EQ(noFrames.seeking()->IsFormatSupported(&TIME_FORMAT_FRAME), S_FALSE);
    EXPECT_EQ(noFrames.seeking()->SetTimeFormat(&TIME_FORMAT_FRAME), E_INVALIDARG);
}

TEST(SplitterFilterTest, RunDeliversEveryFrameInOrderThenEndOfStream) {
    Rig rig(SourceScript{.frames = 12});
    rig.connectAll();
    rig.pause();
    // Paused, one round goes out for the renderers to show, then the thread waits.
    ASSERT_TRUE(rig.videoSink->waitFor(Arrival::Sample, 1));
    ASSERT_TRUE(rig.audioSink->waitFor(Arrival::Sample, 1));
    EXPECT_TRUE(waitForState(rig.splitter->seeking(), SplitterSeeking::Waiting));
    EXPECT_EQ(rig.videoSink->count(Arrival::Sample), 1);
    rig.run();
    ASSERT_TRUE(rig.videoSink->waitFor(Arrival::EndOfStream, 1));
    ASSERT_TRUE(rig.audioSink->waitFor(Arrival::EndOfStream, 1));
    for (RecordingSink* sink : {rig.videoSink.get(), rig.audioSink.get()}) {
        std::vector<Arrival> all = sink->arrivals();
        ASSERT_FALSE(all.empty());
        EXPECT_EQ(all.front().kind, Arrival::NewSegment);
        EXPECT_EQ(all.front().start, 0);
        EXPECT_EQ(all.front().stop, 12 * kFrame);
        EXPECT_EQ(all.back().kind, Arrival::EndOfStream);
        std::vector<Arrival> samples = sink->samples();
        ASSERT_EQ(samples.size(), 12u);
        for (int n = 0; n < 12; ++n) {
            EXPECT_EQ(samples[n].frame, n);
            EXPECT_EQ(samples[n].start, n * kFrame);
            EXPECT_EQ(samples[n].stop, (n + 1) * kFrame);
            EXPECT_EQ(samples[n].discontinuity, n == 0);
        }
    }
    EXPECT_FALSE(rig.log.overlapped.load());
    EXPECT_TRUE(waitForState(rig.splitter->seeking(), SplitterSeeking::Waiting));
}

TEST(SplitterFilterTest, SeekAfterEndOfStreamRestartsWithANewSegment) {
    Rig rig(SourceScript{.frames = 8});
    rig.connectAll();
    rig.run();
    ASSERT_TRUE(rig.videoSink->waitFor(Arrival::EndOfStream, 1));
    rig.videoSink->clear();
    LONGLONG at = 5 * kFrame;
    ASSERT_EQ(rig.seeking()->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    ASSERT_TRUE(rig.videoSink->waitFor(Arrival::EndOfStream, 1));
    std::vector<Arrival> all = rig.videoSink->arrivals();
    auto segment = std::find_if(all.begin(), all.end(), [](const Arrival& a) { return a.kind == Arrival::NewSegment; });
    ASSERT_NE(segment, all.end());
    EXPECT_EQ(segment->start, 5 * kFrame);
    // The renderer saw a flush before the new segment, so it takes data again.
    auto flush = std::find_if(all.begin(), all.end(), [](const Arrival& a) { return a.kind == Arrival::EndFlush; });
    EXPECT_LT(flush - all.begin(), segment - all.begin());
    std::vector<Arrival> samples = rig.videoSink->samples();
    ASSERT_EQ(samples.size(), 3u);
    EXPECT_EQ(samples[0].frame, 5);
    EXPECT_EQ(samples[0].start, 0);  // times count from the segment start
    EXPECT_TRUE(samples[0].discontinuity);
    EXPECT_FALSE(samples[1].discontinuity);
    EXPECT_EQ(samples[2].frame, 7);
    EXPECT_EQ(samples[2].start, 2 * kFrame);
}

TEST(SplitterFilterTest, PausedSeeksShowOneRoundOfTheNewPositionAndRunGoesOnFromIt) {
    Rig rig(SourceScript{.frames = 12});
    rig.connectAll();
    rig.pause();
    ASSERT_TRUE(rig.videoSink->waitFor(Arrival::Sample, 1));
    ASSERT_TRUE(waitForState(rig.splitter->seeking(), SplitterSeeking::Waiting));
    LONGLONG at = 6 * kFrame;
    ASSERT_EQ(rig.seeking()->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
    ASSERT_TRUE(rig.videoSink->waitFor(Arrival::Sample, 2));
    ASSERT_TRUE(waitForState(rig.splitter->seeking(), SplitterSeeking::Waiting));
    EXPECT_EQ(rig.videoSink->samples().size(), 2u) << "one round while paused";
    EXPECT_EQ(rig.videoSink->count(Arrival::BeginFlush), 1);

    // Running continues that segment: no second segment start, no second discontinuity.
    rig.videoSink->Run(0);
    rig.audioSink->Run(0);
    ASSERT_EQ(rig.splitter->Run(0), S_OK);
    ASSERT_TRUE(rig.videoSink->waitFor(Arrival::EndOfStream, 1));
    EXPECT_EQ(rig.videoSink->count(Arrival::NewSegment), 2);
    std::vector<Arrival> samples = rig.videoSink->samples();
    ASSERT_EQ(samples.size(), 1u + 6u);
    for (int n = 6; n < 12; ++n) {
        EXPECT_EQ(samples[n - 5].frame, n);
        EXPECT_EQ(samples[n - 5].start, (n - 6) * kFrame);
        EXPECT_EQ(samples[n - 5].discontinuity, n == 6);
    }
}

TEST(SplitterFilterTest, AStopBeforeTheEndEndsTheStreamThere) {
    Rig rig(SourceScript{.frames = 10});
    rig.connectAll();
    LONGLONG start = 0, stop = 4 * kFrame;
    ASSERT_EQ(
        rig.seeking()->SetPositions(&start, AM_SEEKING_AbsolutePositioning, &stop, AM_SEEKING_AbsolutePositioning),
        S_OK);
    rig.run();
    ASSERT_TRUE(rig.videoSink->waitFor(Arrival::EndOfStream, 1));
    std::vector<Arrival> samples = rig.videoSink->samples();
    ASSERT_EQ(samples.size(), 4u);
    EXPECT_EQ(samples.back().frame, 3);
    EXPECT_EQ(rig.videoSink->arrivals().front().stop, 4 * kFrame);
}

TEST(SplitterFilterTest, ASourceFailureEndsTheStream) {
    Rig rig(SourceScript{.frames = 10, .failAtFrame = 6});
    rig.connectAll();
    rig.run();
    ASSERT_TRUE(rig.videoSink->waitFor(Arrival::EndOfStream, 1));
    ASSERT_TRUE(rig.audioSink->waitFor(Arrival::EndOfStream, 1));
    EXPECT_EQ(rig.videoSink->samples().size(), 6u);
    EXPECT_TRUE(waitForState(rig.splitter->seeking(), SplitterSeeking::Waiting));
}

TEST(SplitterFilterTest, SeeksWhileDeliveringNeverOverlapTheSource) {
    Rig rig(SourceScript{.frames = 100000});
    rig.connectAll();
    rig.run();
    // The first sample after the last flush, once there is one.
    auto firstAfterFlush = [&](Arrival* out) {
        for (int tries = 0; tries < 20000; ++tries) {
            std::vector<Arrival> all = rig.videoSink->arrivals();
            auto flush =
                std::find_if(all.rbegin(), all.rend(), [](const Arrival& a) { return a.kind == Arrival::EndFlush; });
            for (auto it = flush.base(); it != all.end(); ++it)
                if (it->kind == Arrival::Sample) {
                    *out = *it;
                    return true;
                }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return false;
    };
    for (int i = 1; i <= 20; ++i) {
        ASSERT_TRUE(rig.videoSink->waitFor(Arrival::Sample, 1));
        LONGLONG at = (i * 1000) * kFrame;
        ASSERT_EQ(rig.seeking()->SetPositions(&at, AM_SEEKING_AbsolutePositioning, nullptr, 0), S_OK);
        // Nothing of the old position arrives after the flush.
        Arrival first{};
        ASSERT_TRUE(firstAfterFlush(&first));
        EXPECT_EQ(first.frame, i * 1000);
        EXPECT_EQ(first.start, 0);
        EXPECT_TRUE(first.discontinuity);
        rig.videoSink->clear();
    }
    rig.stop();
    EXPECT_FALSE(rig.log.overlapped.load());
    EXPECT_EQ(rig.splitter->seeking()->threadState(), SplitterSeeking::Exited);
}

namespace {

// A source that reads the file through a stream view, as the Windows Media source does.
class StreamReadingSource : public StampingSource {
public:
    StreamReadingSource(SourceLog* log, std::vector<BYTE>* seen) : StampingSource(SourceScript{}, log), seen_(seen) {}
    HRESULT open(IAsyncReader*) override { return E_UNEXPECTED; }
    HRESULT openStream(IStream* stream) override {
        ULARGE_INTEGER at{};
        if (FAILED(stream->Seek(LARGE_INTEGER{-10}, STREAM_SEEK_END, &at)) || at.QuadPart != 1224) return E_FAIL;
        seen_->resize(64);
        ULONG got = 0;
        if (FAILED(stream->Read(seen_->data(), 64, &got))) return E_FAIL;
        seen_->resize(got);
        frameCount_ = 1;
        duration_ = kFrame;
        return S_OK;
    }

private:
    std::vector<BYTE>* seen_;
};

class StreamSplitter : public SplitterFilter {
public:
    StreamSplitter(SourceLog* log, std::vector<BYTE>* seen)
        : SplitterFilter(u"Stream Splitter", kSplitterClass, kStreamSubtype, 8), log_(log), seen_(seen) {}
    bool sourceReadsStream() override { return true; }

protected:
    std::unique_ptr<SplitterSource> createSource() override {
        return std::make_unique<StreamReadingSource>(log_, seen_);
    }

private:
    SourceLog* log_;
    std::vector<BYTE>* seen_;
};

}  // namespace

TEST(SplitterFilterTest, AStreamReadingSourceGetsAViewOverThePullInterface) {
    SourceLog log;
    std::vector<BYTE> seen;
    std::vector<BYTE> bytes(1234);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<BYTE>(i);
    InterfacePtr<StreamSplitter> splitter(new StreamSplitter(&log, &seen));
    InterfacePtr<MemoryReaderFilter> reader(new MemoryReaderFilter(bytes));
    ASSERT_EQ(reader->pin()->Connect(splitter->inputPin(), nullptr), S_OK);
    // Clamped at the end of the file: the last ten bytes.
    ASSERT_EQ(seen.size(), 10u);
    EXPECT_EQ(seen[0], static_cast<BYTE>(1224));
    EXPECT_EQ(splitter->GetPinCount(), 3);
}
