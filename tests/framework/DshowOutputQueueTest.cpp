// COutputQueue: order of samples and stream calls, its own delivery thread, flushing,
// sticky failures and batching.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>

#include "DshowTestFilters.h"
#include "framework/dshow/CBaseAllocator.h"
#include "framework/dshow/CBaseInputPin.h"
#include "framework/dshow/COutputQueue.h"

using namespace dshowtest;

namespace {

class SinkPin : public CBaseInputPin {
public:
    SinkPin(CBaseFilter* f, CriticalSection* lock, HRESULT* phr) : CBaseInputPin(u"sink", f, lock, phr, u"In") {}

    HRESULT CheckMediaType(const CMediaType*) override { return S_OK; }
    HRESULT ReceiveCanBlock() override { return canBlock; }
    HRESULT Receive(IMediaSample* s) override {
        HRESULT hr = CBaseInputPin::Receive(s);
        if (hr != S_OK) return hr;
        BYTE* p = nullptr;
        s->GetPointer(&p);
        log("s" + std::to_string(p[0]));
        {
            std::lock_guard<std::mutex> lock(mutex_);
            threads_.push_back(std::this_thread::get_id());
        }
        if (gated) gate.wait(INFINITE);
        return p[0] == failOn ? E_FAIL : S_OK;
    }
    HRESULT ReceiveMultiple(IMediaSample** s, LONG n, LONG* done) override {
        log("batch" + std::to_string(n));
        return CBaseInputPin::ReceiveMultiple(s, n, done);
    }
    HRESULT EndOfStream() override {
        log("eos");
        return S_OK;
    }
    HRESULT BeginFlush() override {
        log("flush");
        CBaseInputPin::BeginFlush();
        gate.set();  // as a renderer does: a flush frees a blocked Receive
        return S_OK;
    }
    HRESULT EndFlush() override {
        log("endflush");
        return CBaseInputPin::EndFlush();
    }
    HRESULT NewSegment(REFERENCE_TIME t0, REFERENCE_TIME t1, double rate) override {
        log("seg" + std::to_string(t0 / UNITS));
        return CBasePin::NewSegment(t0, t1, rate);
    }

    void log(const std::string& s) {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.push_back(s);
    }
    std::vector<std::string> entries() {
        std::lock_guard<std::mutex> lock(mutex_);
        return log_;
    }
    std::vector<std::thread::id> threads() {
        std::lock_guard<std::mutex> lock(mutex_);
        return threads_;
    }

    HRESULT canBlock = S_OK;
    int failOn = -1;
    bool gated = false;
    Event gate{Event::Reset::Manual};

private:
    std::mutex mutex_;
    std::vector<std::string> log_;
    std::vector<std::thread::id> threads_;
};

class Sink : public CBaseFilter {
public:
    Sink() : CBaseFilter(u"Sink", &lock_, GUID_NULL) { pin_ = new SinkPin(this, &lock_, nullptr); }
    ~Sink() override { delete pin_; }
    int GetPinCount() override { return 1; }
    CBasePin* GetPin(int n) override { return n == 0 ? pin_ : nullptr; }
    SinkPin* pin() { return pin_; }

private:
    CriticalSection lock_;
    SinkPin* pin_;
};

struct Queue : ::testing::Test {
    InterfacePtr<TestSource> source{new TestSource};
    InterfacePtr<Sink> sink{new Sink};

    void SetUp() override {
        source->pin()->buffers = 12;
        ASSERT_EQ(source->GetPin(0)->Connect(sink->GetPin(0), nullptr), S_OK);
        ASSERT_EQ(sink->Pause(), S_OK);
        ASSERT_EQ(source->Pause(), S_OK);
    }
    void TearDown() override {
        sink->Stop();
        source->Stop();
        source->GetPin(0)->DisconnectInternal();
        sink->GetPin(0)->DisconnectInternal();
    }
    IMediaSample* sample(int n) {
        IMediaSample* s = nullptr;
        EXPECT_EQ(source->pin()->GetDeliveryBuffer(&s, nullptr, nullptr, 0), S_OK);
        BYTE* p = nullptr;
        s->GetPointer(&p);
        p[0] = static_cast<BYTE>(n);
        return s;
    }
    LONG outstanding() { return static_cast<CBaseAllocator*>(source->pin()->Allocator())->outstandingCount(); }
};

TEST_F(Queue, DeliversInOrderOnItsOwnThread) {
    HRESULT hr = S_OK;
    COutputQueue queue(sink->GetPin(0), &hr, TRUE, TRUE, 1, FALSE, 10);
    ASSERT_EQ(hr, S_OK);
    ASSERT_TRUE(queue.IsQueued());  // the pin said it may block
    queue.NewSegment(2 * UNITS, 9 * UNITS, 1.0);
    for (int i = 0; i < 10; ++i) ASSERT_EQ(queue.Receive(sample(i)), S_OK);
    queue.EOS();
    std::vector<std::string> want{"seg2"};
    for (int i = 0; i < 10; ++i) {
        want.push_back("batch1");
        want.push_back("s" + std::to_string(i));
    }
    want.push_back("eos");
    ASSERT_TRUE(eventually([&] { return sink->pin()->entries().size() == want.size() && queue.IsIdle(); }));
    EXPECT_EQ(sink->pin()->entries(), want);
    for (auto id : sink->pin()->threads()) EXPECT_NE(id, std::this_thread::get_id());
    EXPECT_EQ(outstanding(), 0);  // the queue released every sample it took
}

TEST_F(Queue, PinThatNeverBlocksIsCalledDirectly) {
    sink->pin()->canBlock = S_FALSE;
    COutputQueue queue(sink->GetPin(0), nullptr);
    EXPECT_FALSE(queue.IsQueued());
    EXPECT_EQ(queue.Receive(sample(5)), S_OK);
    EXPECT_EQ(sink->pin()->entries(), (std::vector<std::string>{"batch1", "s5"}));
    EXPECT_EQ(sink->pin()->threads().at(0), std::this_thread::get_id());
}

TEST_F(Queue, FlushDropsWhatIsQueuedAndEndsAfterTheDeliveryInProgress) {
    sink->pin()->gated = true;
    COutputQueue queue(sink->GetPin(0), nullptr, FALSE, TRUE);
    for (int i = 0; i < 5; ++i) ASSERT_EQ(queue.Receive(sample(i)), S_OK);
    queue.EOS();
    ASSERT_TRUE(eventually([&] { return sink->pin()->entries().size() == 2; }));  // s0 blocked downstream

    queue.BeginFlush();
    EXPECT_EQ(queue.Receive(sample(7)), S_FALSE);  // refused while flushing
    queue.EndFlush();
    auto log = sink->pin()->entries();
    EXPECT_EQ(log, (std::vector<std::string>{"batch1", "s0", "flush", "endflush"}));
    EXPECT_EQ(outstanding(), 0);

    sink->pin()->gated = false;
    ASSERT_EQ(queue.Receive(sample(9)), S_OK);
    queue.EOS();
    ASSERT_TRUE(eventually([&] { return sink->pin()->entries().size() == 7; }));
    EXPECT_EQ(sink->pin()->entries().back(), "eos");
    EXPECT_EQ(sink->pin()->entries()[5], "s9");
}

TEST_F(Queue, FailureIsReportedUntilReset) {
    sink->pin()->failOn = 1;
    COutputQueue queue(sink->GetPin(0), nullptr, FALSE, TRUE);
    ASSERT_EQ(queue.Receive(sample(0)), S_OK);
    ASSERT_EQ(queue.Receive(sample(1)), S_OK);
    ASSERT_TRUE(eventually([&] { return queue.IsIdle(); }));
    EXPECT_EQ(queue.Receive(sample(2)), E_FAIL);
    EXPECT_EQ(outstanding(), 0);  // refused samples are released, not lost
    queue.Reset();
    EXPECT_EQ(queue.Receive(sample(3)), S_OK);
    ASSERT_TRUE(eventually([&] { return queue.IsIdle(); }));
    auto log = sink->pin()->entries();
    EXPECT_EQ(log.back(), "s3");
    EXPECT_EQ(std::count(log.begin(), log.end(), "s2"), 0);
}

TEST_F(Queue, DirectBatchesAreSentWhenFullOrAtTheEnd) {
    COutputQueue queue(sink->GetPin(0), nullptr, FALSE, FALSE, 3, TRUE);
    EXPECT_FALSE(queue.IsQueued());
    for (int i = 0; i < 7; ++i) ASSERT_EQ(queue.Receive(sample(i)), S_OK);
    auto log = sink->pin()->entries();
    EXPECT_EQ(std::count(log.begin(), log.end(), "batch3"), 2);
    EXPECT_EQ(outstanding(), 1);  // one waits for its batch
    queue.EOS();
    log = sink->pin()->entries();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(log[log.size() - 3], "batch1");
    EXPECT_EQ(log.back(), "eos");
    EXPECT_EQ(outstanding(), 0);
}

TEST_F(Queue, ExactBatchesWaitOnTheThreadUntilComplete) {
    COutputQueue queue(sink->GetPin(0), nullptr, FALSE, TRUE, 2, TRUE);
    ASSERT_EQ(queue.Receive(sample(0)), S_OK);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(sink->pin()->entries().empty());
    ASSERT_EQ(queue.Receive(sample(1)), S_OK);
    ASSERT_TRUE(eventually([&] { return sink->pin()->entries().size() == 3; }));
    EXPECT_EQ(sink->pin()->entries()[0], "batch2");
    ASSERT_EQ(queue.Receive(sample(2)), S_OK);
    queue.SendAnyway();
    ASSERT_TRUE(eventually([&] { return sink->pin()->entries().size() == 5; }));
    EXPECT_EQ(sink->pin()->entries()[3], "batch1");
}

}  // namespace
