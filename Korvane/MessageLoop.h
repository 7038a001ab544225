// The main thread's message loop, with its message filters (asked before a
// message is dispatched) and idle handlers (run once the queue has emptied).
#pragma once
#include <windows.h>
#include "GrowableArray.h"

class MessageFilter {
public:
    virtual BOOL FilterMessage(MSG* msg) = 0;
};

class IdleHandler {
public:
    virtual BOOL RunIdle() = 0;
};

class MessageLoop {
public:
    virtual BOOL FilterMessage(MSG* msg);
    virtual BOOL RunIdle(int idleCount);

    bool AddMessageFilter(MessageFilter* filter) { return filters_.Add(filter); }
    bool AddIdleHandler(IdleHandler* handler) { return idleHandlers_.Add(handler); }
    int Run();

    // Messages that leave the idle state alone: a burst of them runs no idle pass.
    static bool IsIdleMessage(const MSG& msg);

protected:
    GrowableArray<MessageFilter*> filters_;
    GrowableArray<IdleHandler*> idleHandlers_;
    MSG msg_ = {};
};
