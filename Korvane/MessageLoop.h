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

    bool AddMessageFilter(MessageFilter* filter) { return m_filters.Add(filter); }
    bool AddIdleHandler(IdleHandler* handler) { return m_idleHandlers.Add(handler); }
    int Run();

    // Messages that leave the idle state alone: a burst of them runs no idle pass.
    static bool IsIdleMessage(const MSG& msg);

protected:
    GrowableArray<MessageFilter*> m_filters;
    GrowableArray<IdleHandler*> m_idleHandlers;
    MSG m_msg = {};
};
