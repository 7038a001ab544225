#include "AppContext.h"

#include <stdlib.h>

AppContext g_app;

bool AppContext::Init(HINSTANCE instance)
{
    instance_ = instance;
    InitializeCriticalSection(&loopLock_);
    InitializeCriticalSection(&createLock_);
    pending_ = nullptr;
    mainThreadId_ = GetCurrentThreadId();
    loopThreads_ = nullptr;
    loops_ = nullptr;
    loopCount_ = 0;
    initialized_ = true;
    return true;
}

void AppContext::Term()
{
    if (!initialized_) return;
    free(loopThreads_);
    free(loops_);
    loopThreads_ = nullptr;
    loops_ = nullptr;
    loopCount_ = 0;
    DeleteCriticalSection(&loopLock_);
    DeleteCriticalSection(&createLock_);
    initialized_ = false;
}

bool AppContext::AddMessageLoop(MessageLoop* loop)
{
    CriticalSectionLock lock(loopLock_);
    DWORD* threads = static_cast<DWORD*>(realloc(loopThreads_, sizeof(DWORD) * (loopCount_ + 1)));
    if (!threads) return false;
    loopThreads_ = threads;
    MessageLoop** loops = static_cast<MessageLoop**>(realloc(loops_, sizeof(MessageLoop*) * (loopCount_ + 1)));
    if (!loops) return false;
    loops_ = loops;
    loopThreads_[loopCount_] = GetCurrentThreadId();
    loops_[loopCount_] = loop;
    ++loopCount_;
    return true;
}

MessageLoop* AppContext::GetMessageLoop()
{
    CriticalSectionLock lock(loopLock_);
    DWORD thread = GetCurrentThreadId();
    for (int i = 0; i < loopCount_; ++i)
        if (loopThreads_[i] == thread) return loops_[i];
    return nullptr;
}

bool AppContext::RemoveMessageLoop()
{
    CriticalSectionLock lock(loopLock_);
    DWORD thread = GetCurrentThreadId();
    for (int i = 0; i < loopCount_; ++i) {
        if (loopThreads_[i] != thread) continue;
        for (int j = i + 1; j < loopCount_; ++j) {
            loopThreads_[j - 1] = loopThreads_[j];
            loops_[j - 1] = loops_[j];
        }
        --loopCount_;
        if (loopCount_ == 0) {
            free(loopThreads_);
            free(loops_);
            loopThreads_ = nullptr;
            loops_ = nullptr;
        } else {
            // Shrinking cannot lose data; keep the old block if realloc declines.
            if (DWORD* t = static_cast<DWORD*>(realloc(loopThreads_, sizeof(DWORD) * loopCount_))) loopThreads_ = t;
            if (MessageLoop** l = static_cast<MessageLoop**>(realloc(loops_, sizeof(MessageLoop*) * loopCount_))) loops_ = l;
        }
        return true;
    }
    return false;
}

void AppContext::AddCreateWndData(WindowObject* object)
{
    PendingWindow* record = static_cast<PendingWindow*>(malloc(sizeof(PendingWindow)));
    if (!record) return;
    record->object = object;
    record->threadId = GetCurrentThreadId();
    CriticalSectionLock lock(createLock_);
    record->next = pending_;
    pending_ = record;
}

WindowObject* AppContext::ExtractCreateWndData()
{
    CriticalSectionLock lock(createLock_);
    DWORD thread = GetCurrentThreadId();
    for (PendingWindow** link = &pending_; *link; link = &(*link)->next) {
        PendingWindow* record = *link;
        if (record->threadId != thread) continue;
        *link = record->next;
        WindowObject* object = record->object;
        free(record);
        return object;
    }
    return nullptr;
}
