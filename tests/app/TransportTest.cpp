// The transport driven through the main window's messages: states, menu and control
// states, offsets, seeking, pausing and the end of the time line, on items that record
// what the transport asks of them.
#include <mutex>
#include <string>
#include <vector>

#include "ShellHarness.h"

namespace {

using shelltest::FakeClock;
using shelltest::pump;

class RecordingItem : public PlayItem {
public:
    RecordingItem(int32_t id, uint32_t durationMs) : PlayItem(id), duration_(durationMs) {}

    std::vector<std::string> take() {
        std::lock_guard<std::mutex> hold(mutex_);
        return std::exchange(calls_, {});
    }
    void setRunning(bool running) {
        std::lock_guard<std::mutex> hold(mutex_);
        running_ = running;
    }

    bool open(const std::u16string&) override { return true; }
    void close() override {}
    bool prepare(bool) override { return true; }
    void play() override {
        record("play");
        setRunning(true);
    }
    void stop() override {
        record("stop");
        setRunning(false);
    }
    bool isRunning() override {
        std::lock_guard<std::mutex> hold(mutex_);
        return running_;
    }
    bool pause() override {
        record("pause");
        return true;
    }
    void seek(int64_t ms) override { record("seek " + std::to_string(ms)); }
    bool scheduleStart(int32_t delayMs) override {
        record("schedule " + std::to_string(delayMs));
        return true;
    }
    void cancelStart() override { record("cancel"); }
    bool draw() override { return false; }
    uint32_t duration() override { return duration_; }
    bool getSize(uint32_t*, uint32_t*) override { return false; }
    bool hasVideo() override { return false; }
    bool hasAudio() override { return true; }

protected:
    void markDirty() override {}

private:
    void record(std::string call) {
        std::lock_guard<std::mutex> hold(mutex_);
        calls_.push_back(std::move(call));
    }

    std::mutex mutex_;
    std::vector<std::string> calls_;
    bool running_ = false;
    uint32_t duration_;
};

using Calls = std::vector<std::string>;

class TransportTest : public shelltest::ShellTest {
protected:
    void SetUp() override {
        FakeClock::install();
        ShellTest::SetUp();
    }

    RecordingItem* add(uint32_t durationMs, int32_t offsetMs = 0) {
        auto* item = new RecordingItem(list().takeNextItemId(), durationMs);
        item->setOffset(offsetMs);
        list().appendItem(SharedRef<PlayItem>(item));
        app->updateControls();
        return item;
    }
    // Lets the worker tasks of the last command finish.
    void settle() { app->workerPool()->waitIdle(INFINITE); }
    void playPause() {
        command(PlayerApp::kCmdPlay);
        settle();
    }
    void seekSlider(int position) {
        HWND slider = app->seekSlider();
        SendMessageW(app->mainWindow(), WM_HSCROLL, MAKEWPARAM(TB_THUMBTRACK, WORD(position)), LPARAM(slider));
        EXPECT_EQ(app->flags() & PlayerApp::kSliderFollowsClockFlag, 0u);
        SendMessageW(slider, TBM_SETPOS, TRUE, position);
        SendMessageW(app->mainWindow(), WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), LPARAM(slider));
        EXPECT_NE(app->flags() & PlayerApp::kSliderFollowsClockFlag, 0u);
        settle();
    }
    std::u16string readout() { return shelltest::windowText(app->timeText()); }
    bool enabled(HWND control) { return IsWindowEnabled(control) != FALSE; }
};

TEST_F(TransportTest, ControlsAndMenusFollowEveryState) {
    // Empty list: nothing can be played and the strip is disabled.
    EXPECT_TRUE(greyed(PlayerApp::kCmdPlay));
    EXPECT_TRUE(greyed(PlayerApp::kCmdStop));
    EXPECT_TRUE(greyed(PlayerApp::kCmdPause));
    EXPECT_FALSE(enabled(app->playButton()));
    EXPECT_FALSE(enabled(app->seekSlider()));
    EXPECT_EQ(readout(), u"00:00 / 00:00");

    add(65000);
    EXPECT_FALSE(greyed(PlayerApp::kCmdPlay));
    EXPECT_FALSE(greyed(PlayerApp::kCmdStop));
    EXPECT_TRUE(greyed(PlayerApp::kCmdPause));
    EXPECT_TRUE(enabled(app->playButton()));
    EXPECT_TRUE(enabled(app->stopButton()));
    EXPECT_TRUE(enabled(app->seekSlider()));
    EXPECT_EQ(readout(), u"00:00 / 01:05");

    HINSTANCE instance = module->instance();
    const auto icon = [&] { return HICON(SendMessageW(app->playButton(), BM_GETIMAGE, IMAGE_ICON, 0)); };

    playPause();
    EXPECT_EQ(app->transportState(), PlayerApp::kStatePlaying);
    EXPECT_TRUE(greyed(PlayerApp::kCmdPlay));
    EXPECT_FALSE(greyed(PlayerApp::kCmdPause));
    EXPECT_FALSE(checked(PlayerApp::kCmdPause));
    EXPECT_EQ(icon(), LoadIconW(instance, PlayerApp::kIconPause));

    // The pause item and the play button toggle too.
    command(PlayerApp::kCmdPause);
    settle();
    EXPECT_EQ(app->transportState(), PlayerApp::kStatePaused);
    EXPECT_TRUE(greyed(PlayerApp::kCmdPlay));
    EXPECT_FALSE(greyed(PlayerApp::kCmdPause));
    EXPECT_TRUE(checked(PlayerApp::kCmdPause));
    EXPECT_EQ(icon(), LoadIconW(instance, PlayerApp::kIconPlay));

    command(PlayerApp::kPlayButtonId);
    settle();
    EXPECT_EQ(app->transportState(), PlayerApp::kStatePlaying);

    command(PlayerApp::kStopButtonId);
    EXPECT_EQ(app->transportState(), PlayerApp::kStateStopped);
    EXPECT_FALSE(greyed(PlayerApp::kCmdPlay));
    EXPECT_TRUE(greyed(PlayerApp::kCmdPause));
    EXPECT_FALSE(checked(PlayerApp::kCmdPause));
    EXPECT_EQ(app->masterClock().elapsed(), 0u);
}

TEST_F(TransportTest, PlayWithZeroPlayLengthChangesNothing) {
    RecordingItem* still = add(0);
    playPause();
    EXPECT_EQ(app->transportState(), PlayerApp::kStateStopped);
    EXPECT_TRUE(still->take().empty());
    EXPECT_FALSE(greyed(PlayerApp::kCmdPlay));
    EXPECT_TRUE(greyed(PlayerApp::kCmdPause));
}

TEST_F(TransportTest, PositiveOffsetsStartByTimerAndKeepTheirPlaceAcrossAPause) {
    RecordingItem* first = add(10000, 0);
    RecordingItem* late = add(1000, 3000);
    RecordingItem* early = add(10000, -500);

    playPause();
    EXPECT_EQ(first->take(), (Calls{"seek 0", "play"}));
    EXPECT_EQ(late->take(), (Calls{"schedule 3010"}));
    EXPECT_EQ(early->take(), (Calls{"seek 500", "play"}));
    EXPECT_EQ(app->masterClock().elapsed(), 0u);

    FakeClock::advance(1000);
    playPause();
    EXPECT_EQ(app->transportState(), PlayerApp::kStatePaused);
    EXPECT_EQ(first->take(), Calls{"pause"});
    EXPECT_EQ(late->take(), Calls{"cancel"});

    // Five seconds later the clock still reads 1 s, so the late item is 2 s away.
    FakeClock::advance(5000);
    EXPECT_EQ(app->masterClock().elapsed(), 1000u);
    playPause();
    EXPECT_EQ(app->transportState(), PlayerApp::kStatePlaying);
    EXPECT_EQ(first->take(), Calls{"pause"});
    EXPECT_EQ(late->take(), Calls{"schedule 2000"});

    command(PlayerApp::kCmdStop);
    EXPECT_EQ(first->take(), (Calls{"cancel", "stop"}));
    EXPECT_EQ(late->take(), (Calls{"cancel", "stop"}));
}

TEST_F(TransportTest, SeekingBeforeAnOffsetStopsAndReschedulesTheItem) {
    RecordingItem* first = add(4000, 0);
    RecordingItem* late = add(1000, 3000);
    playPause();
    first->take();
    late->take();
    FakeClock::advance(1000);

    seekSlider(1000);  // half of the 4 s time line
    EXPECT_EQ(first->take(), Calls{"seek 2000"});
    EXPECT_EQ(late->take(), (Calls{"stop", "schedule 1000"}));
    EXPECT_EQ(app->masterClock().elapsed(), 2000u);
    EXPECT_EQ(app->transportState(), PlayerApp::kStatePlaying);

    // Past its start the late item is played from its own position.
    seekSlider(1750);
    EXPECT_EQ(first->take(), Calls{"seek 3500"});
    EXPECT_EQ(late->take(), (Calls{"seek 500", "play"}));
}

TEST_F(TransportTest, SeekingWhilePausedLeavesItemsPausedAtTheTarget) {
    RecordingItem* first = add(4000, 0);
    RecordingItem* late = add(1000, 3000);
    playPause();
    FakeClock::advance(1000);
    playPause();
    first->take();
    late->take();

    seekSlider(1800);  // 3.6 s
    EXPECT_EQ(app->transportState(), PlayerApp::kStatePaused);
    EXPECT_EQ(first->take(), Calls{"seek 3600"});
    EXPECT_EQ(late->take(), (Calls{"play", "seek 600", "pause"}));
    EXPECT_EQ(app->masterClock().elapsed(), 3600u);
    EXPECT_EQ(readout(), u"00:03 / 00:04");
}

TEST_F(TransportTest, SeekAndDoubleClickDoNothingWhenTheyShouldNot) {
    // Double-click with an empty list, and a seek while stopped.
    SendMessageW(app->playWindow(), WM_LBUTTONDBLCLK, 0, 0);
    EXPECT_EQ(app->transportState(), PlayerApp::kStateStopped);
    RecordingItem* item = add(4000);
    seekSlider(1000);
    EXPECT_TRUE(item->take().empty());
    EXPECT_EQ(app->masterClock().elapsed(), 0u);

    // With items, a double-click in the video area toggles.
    SendMessageW(app->playWindow(), WM_LBUTTONDBLCLK, 0, 0);
    settle();
    EXPECT_EQ(app->transportState(), PlayerApp::kStatePlaying);
}

TEST_F(TransportTest, EndOfTimeLineStopsAndWithLoopStartsAgain) {
    RecordingItem* item = add(2000);
    playPause();
    item->take();

    // The read-out tick that reaches the length posts the end of the time line.
    FakeClock::advance(2000);
    SendMessageW(app->mainWindow(), WM_TIMER, app->readoutTimerId(), 0);
    pump(*app);
    EXPECT_EQ(app->transportState(), PlayerApp::kStateStopped);
    EXPECT_EQ(readout(), u"00:00 / 00:02");
    EXPECT_EQ(item->take(), (Calls{"cancel", "stop"}));

    command(PlayerApp::kCmdLoop);
    EXPECT_TRUE(checked(PlayerApp::kCmdLoop));
    EXPECT_NE(app->flags() & PlayerApp::kLoopFlag, 0u);
    playPause();
    item->take();
    FakeClock::advance(2500);
    SendMessageW(app->mainWindow(), WM_TIMER, app->readoutTimerId(), 0);
    pump(*app);
    settle();
    EXPECT_EQ(app->transportState(), PlayerApp::kStatePlaying);
    EXPECT_EQ(item->take(), (Calls{"cancel", "stop", "seek 0", "play"}));
    EXPECT_EQ(app->masterClock().elapsed(), 0u);
}

TEST_F(TransportTest, OffsetChangesRetimeTheItemOnTheRunningClock) {
    RecordingItem* first = add(5000, 0);
    RecordingItem* second = add(5000, 0);
    playPause();
    first->take();
    second->take();
    FakeClock::advance(1000);

    // Moved ahead of the clock: stopped and started when its new offset comes.
    first->setOffset(2500);
    SendMessageW(app->mainWindow(), PlayerApp::kOffsetChangedMessage, 0, first->id());
    EXPECT_EQ(first->take(), (Calls{"stop", "schedule 1500"}));
    EXPECT_EQ(readout(), u"00:01 / 00:07");

    // Moved back behind the clock: played from where it should be by now.
    second->setOffset(-2000);
    SendMessageW(app->mainWindow(), PlayerApp::kOffsetChangedMessage, 0, second->id());
    EXPECT_EQ(second->take(), Calls{"seek 3000"});

    // An id no item has is ignored.
    SendMessageW(app->mainWindow(), PlayerApp::kOffsetChangedMessage, 0, 9999);
    EXPECT_EQ(app->transportState(), PlayerApp::kStatePlaying);
}

TEST_F(TransportTest, RemovingTheLastItemStops) {
    RecordingItem* item = add(5000);
    playPause();
    const int32_t id = item->id();
    SendMessageW(app->mainWindow(), PlayerApp::kListCommandMessage, PlayerApp::kListRemove, id);
    EXPECT_TRUE(list().empty());
    EXPECT_EQ(app->transportState(), PlayerApp::kStateStopped);
    EXPECT_TRUE(greyed(PlayerApp::kCmdStop));
    EXPECT_FALSE(IsWindowEnabled(app->playButton()));
}

}  // namespace
