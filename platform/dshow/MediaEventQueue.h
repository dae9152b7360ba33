#pragma once
// The graph's event queue: what filters report and the graph passes on, read by the
// application with a timeout, signalled through a manual-reset event and, when a
// window is registered, announced by a message posted to it for each event.
#include <condition_variable>
#include <deque>
#include <mutex>

#include "framework/Event.h"
#include "framework/dshow/DshowTypes.h"

class MediaEventQueue {
public:
    MediaEventQueue();

    // Queues an event (dropped while notification is switched off).
    void push(LONG code, LONG_PTR param1, LONG_PTR param2);
    // E_ABORT when nothing arrives within msTimeout (a negative timeout waits forever).
    HRESULT get(LONG* code, LONG_PTR* param1, LONG_PTR* param2, LONG msTimeout);
    // Waits for a completion event (EC_COMPLETE, EC_ERRORABORT, EC_USERABORT) queued since
    // the last resetCompletion; E_ABORT on timeout. The event stays in the queue.
    HRESULT waitForCompletion(LONG msTimeout, LONG* code);
    void resetCompletion();

    // hwnd 0 stops the messages. Events already waiting are announced at once.
    void setNotifyWindow(OAHWND hwnd, LONG message, LONG_PTR instanceData);
    // AM_MEDIAEVENT_NONOTIFY switches notification off and empties the queue.
    HRESULT setNotifyFlags(LONG flags);
    LONG notifyFlags() const;
    Event* handle() { return &signal_; }
    size_t size() const;

private:
    struct Entry {
        LONG code;
        LONG_PTR param1;
        LONG_PTR param2;
    };
    static bool isCompletion(LONG code);

    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<Entry> entries_;
    Event signal_{Event::Reset::Manual};
    OAHWND window_ = 0;
    LONG message_ = 0;
    LONG_PTR instance_ = 0;
    LONG flags_ = 0;
    bool completed_ = false;
    LONG completionCode_ = 0;
};
