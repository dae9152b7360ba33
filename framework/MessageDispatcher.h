#pragma once
// Lets several handler objects share the one window procedure of the module's class.
#include <vector>

#include "framework/CriticalSection.h"
#include "framework/MessageHandler.h"
#include "framework/WinTypes.h"

class MessageDispatcher {
public:
    MessageDispatcher() = default;
    // Clears (handlers are told they are detached). If this was the dispatcher known to
    // the window procedure, the procedure forgets it.
    virtual ~MessageDispatcher();
    MessageDispatcher(const MessageDispatcher&) = delete;
    MessageDispatcher& operator=(const MessageDispatcher&) = delete;

    // Appends h (not owned; a destroyed handler leaves by itself) and calls its attached.
    // Null is ignored.
    virtual void addHandler(MessageHandler* h);
    // Removes every entry equal to h.
    virtual void removeHandler(MessageHandler* h);
    // Calls detached on every handler, then empties the list.
    virtual void clear();
    // Offers the message to each handler in order until one consumes it (returns zero);
    // answers the last result, nonzero when no handler is attached.
    virtual LRESULT dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // The window procedure of the class. The first WM_CREATE makes the dispatcher given as
    // creation parameter the known one; WM_DESTROY of any window of the class ends the
    // message loop (WM_QUIT, code 0); everything else goes to the known dispatcher, and to
    // the default procedure when no handler consumes it.
    static LRESULT windowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    // The dispatcher the window procedure uses, or null before the first WM_CREATE.
    static MessageDispatcher* knownDispatcher();

    size_t handlerCount();

private:
    bool contains(MessageHandler* h);
    // Keeps the handler's own record of the dispatchers that list it.
    void link(MessageHandler* h);
    void unlink(MessageHandler* h);

    std::vector<MessageHandler*> handlers_;
    CriticalSection lock_;
};
