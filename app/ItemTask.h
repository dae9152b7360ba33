#pragma once
// One item's part of a transport command, run on a worker thread. Every task of one
// command waits on the same latch, which the transport releases once all of them are
// posted, so the items start, pause or stop together.
#include <cstdint>

#include "app/PlayItem.h"
#include "app/PlayList.h"
#include "framework/Event.h"
#include "framework/SharedRef.h"
#include "framework/ThreadPool.h"

class ItemTask : public ThreadPool::Task {
public:
    enum class Action { SeekAndPlay, Pause, Stop, Seek };

    // The sleep before the common clock starts, so that the workers have picked up their
    // tasks; items started by timer get the same lead.
    static constexpr uint32_t kStartLeadMs = 10;

    ItemTask(SharedRef<PlayItem> item, Semaphore& latch, Action action, int64_t positionMs = 0);
    void run() override;

private:
    SharedRef<PlayItem> item_;
    Semaphore& latch_;
    Action action_;
    int64_t position_;
};

// Posts one task of that action for every item of the list (under its lock); answers how
// many were posted, for the latch to release.
uint32_t postForEveryItem(PlayList& list, ThreadPool& pool, Semaphore& latch, ItemTask::Action action);
