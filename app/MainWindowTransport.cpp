// The transport of PlayerApp: play/pause, stop, seek, offset changes and the end of the
// time line, acting on every item of the list at once. Per-item work that may block runs
// as worker tasks; all tasks of one command wait on the task latch and are released
// together once every one is posted.
#include <algorithm>
#include <cstdint>
#include <memory>

#include "app/ItemTask.h"
#include "app/PlayList.h"
#include "app/PlayerApp.h"
#include "framework/WindowApi.h"

namespace {

void sleepMs(uint32_t ms) {
    Event never(Event::Reset::Manual);
    never.wait(ms);
}

}  // namespace

uint32_t PlayerApp::releaseTasks(uint32_t count) {
    if (count > 0) taskLatch_->release(static_cast<long>(count));
    return count;
}

void PlayerApp::setTransportState(uint32_t state) {
    uint32_t old = flags_.load();
    while (!flags_.compare_exchange_weak(old, (old & ~kStateMask) | state)) {
    }
}

void PlayerApp::togglePlayPause() {
    if (list_->empty() || !pool_) return;
    pool_->waitIdle(INFINITE);
    const uint32_t state = transportState();

    if (state == kStateStopped) {
        // The items' lengths may have become known since the last control update.
        if (list_->recomputePlayLength() == 0) return;
        uint32_t tasks = 0;
        {
            ScopedLock hold(list_->lock());
            for (SharedRef<PlayItem>& item : list_->items()) {
                const int32_t offset = item->offsetMs();
                if (offset > 0) {
                    // Saturates: the largest offsets must not wrap into the past.
                    const int64_t delay = int64_t(offset) + ItemTask::kStartLeadMs;
                    item->scheduleStart(static_cast<int32_t>(std::min<int64_t>(delay, INT32_MAX)));
                } else {
                    pool_->postTask(
                        std::make_unique<ItemTask>(item, *taskLatch_, ItemTask::Action::SeekAndPlay, -int64_t(offset)));
                    ++tasks;
                }
            }
        }
        sleepMs(ItemTask::kStartLeadMs);
        masterClock_.restart();
        releaseTasks(tasks);
        SetTimer(mainWindow(), readoutTimerId(), kReadoutIntervalMs, nullptr);
        setTransportState(kStatePlaying);
        updateControls();
        return;
    }

    const bool playing = state == kStatePlaying;
    uint32_t tasks = 0;
    {
        ScopedLock hold(list_->lock());
        const int64_t now = masterClock_.elapsed();
        for (SharedRef<PlayItem>& item : list_->items()) {
            if (item->isRunning()) {
                pool_->postTask(std::make_unique<ItemTask>(item, *taskLatch_, ItemTask::Action::Pause));
                ++tasks;
            } else if (playing) {
                item->cancelStart();
            } else {
                item->scheduleStart(static_cast<int32_t>(item->offsetMs() - now));
            }
        }
    }
    releaseTasks(tasks);
    if (playing) {
        masterClock_.pause();
        setTransportState(kStatePaused);
    } else {
        masterClock_.resume();
        setTransportState(kStatePlaying);
    }
    updateControls();
}

void PlayerApp::stopTransport() {
    if (!list_->empty() && pool_) {
        pool_->waitIdle(INFINITE);
        releaseTasks(postForEveryItem(*list_, *pool_, *taskLatch_, ItemTask::Action::Stop));
        pool_->waitIdle(INFINITE);
    }
    if (mainWindow()) KillTimer(mainWindow(), readoutTimerId());
    masterClock_.setPosition(0);
    masterClock_.pause();
    setTransportState(kStateStopped);
    updateControls();
}

void PlayerApp::seekTo(uint32_t position) {
    const uint32_t state = transportState();
    if (list_->empty() || state == kStateStopped || !pool_) return;
    const uint32_t target =
        static_cast<uint32_t>(static_cast<double>(position) / kSliderRange * static_cast<double>(list_->playLength()));

    pool_->waitIdle(INFINITE);
    const bool playing = state == kStatePlaying;
    uint32_t tasks = 0;
    {
        ScopedLock hold(list_->lock());
        for (SharedRef<PlayItem>& item : list_->items()) {
            const int32_t offset = item->offsetMs();
            if (offset > 0 && static_cast<uint32_t>(offset) >= target) {
                // Its start lies ahead of the new position.
                item->stop();
                if (playing) item->scheduleStart(static_cast<int32_t>(static_cast<uint32_t>(offset) - target));
                continue;
            }
            const int64_t into = int64_t(target) - offset;
            if (item->isRunning()) {
                pool_->postTask(std::make_unique<ItemTask>(item, *taskLatch_, ItemTask::Action::Seek, into));
                ++tasks;
            } else if (!playing) {
                item->play();
                item->seek(into);
                item->pause();
            } else {
                pool_->postTask(std::make_unique<ItemTask>(item, *taskLatch_, ItemTask::Action::SeekAndPlay, into));
                ++tasks;
            }
        }
    }
    releaseTasks(tasks);
    masterClock_.setPosition(target);
    // While paused no timer tick would show the new position.
    updateReadout(false);
}

void PlayerApp::onOffsetChanged(int32_t id) {
    SharedRef<PlayItem> item = list_->findItem(id);
    if (item.empty()) return;
    const uint32_t state = transportState();
    if (state != kStateStopped) {
        const int64_t now = masterClock_.elapsed();
        const int64_t offset = item->offsetMs();
        if (offset < 1 || offset < now) {
            const int64_t into = now - offset;
            if (item->isRunning()) {
                item->seek(into);
            } else {
                item->play();
                item->seek(into);
                if (state == kStatePaused) item->pause();
            }
        } else {
            item->stop();
            if (state == kStatePlaying) item->scheduleStart(static_cast<int32_t>(offset - now));
        }
    }
    updateReadout(true);
}

void PlayerApp::onEndOfTimeLine() {
    stopTransport();
    if (flags_.load() & kLoopFlag) togglePlayPause();
}
