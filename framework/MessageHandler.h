#pragma once
// An object that takes part in the window procedure of the module's window class
// through the MessageDispatcher.
#include <mutex>
#include <vector>

#include "framework/WinTypes.h"

class MessageDispatcher;

class MessageHandler {
public:
    MessageHandler() = default;
    // A copy is attached nowhere.
    MessageHandler(const MessageHandler&) {}
    MessageHandler& operator=(const MessageHandler&) { return *this; }
    // Leaves every dispatcher it is still in, so that a dispatcher that outlives its
    // handler never calls into a destroyed object. (Messages that arrive while a derived
    // part is being destroyed still reach this handler: remove it first where that matters.)
    virtual ~MessageHandler();

    // Called when the handler is added to a dispatcher, and when the dispatcher is cleared.
    virtual void attached(MessageDispatcher*) {}
    virtual void detached(MessageDispatcher*) {}
    // Nonzero when the message is not consumed (the default window procedure must run);
    // zero when it is consumed, which also hides it from the handlers after this one.
    virtual LRESULT handleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) = 0;

private:
    friend class MessageDispatcher;
    std::mutex linksLock_;
    std::vector<MessageDispatcher*> links_;  // the dispatchers whose lists hold this handler
};
