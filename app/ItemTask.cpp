#include "app/ItemTask.h"

#include <memory>
#include <utility>

ItemTask::ItemTask(SharedRef<PlayItem> item, Semaphore& latch, Action action, int64_t positionMs)
    : item_(std::move(item)), latch_(latch), action_(action), position_(positionMs) {}

void ItemTask::run() {
    latch_.wait(INFINITE);
    switch (action_) {
        case Action::SeekAndPlay:
            item_->seek(position_);
            item_->play();
            break;
        case Action::Pause:
            item_->pause();
            break;
        case Action::Stop:
            item_->cancelStart();
            item_->stop();
            break;
        case Action::Seek:
            item_->seek(position_);
            break;
    }
}

uint32_t postForEveryItem(PlayList& list, ThreadPool& pool, Semaphore& latch, ItemTask::Action action) {
    uint32_t tasks = 0;
    ScopedLock hold(list.lock());
    for (SharedRef<PlayItem>& item : list.items()) {
        pool.postTask(std::make_unique<ItemTask>(item, latch, action));
        ++tasks;
    }
    return tasks;
}
