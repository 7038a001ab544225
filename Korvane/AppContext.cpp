#include "AppContext.h"

#include <stdlib.h>

AppContext g_app;

bool AppContext::Init(HINSTANCE instance)
{
    m_instance = instance;
    InitializeCriticalSection(&m_loopLock);
    InitializeCriticalSection(&m_createLock);
    m_pending = nullptr;
    m_mainThreadId = GetCurrentThreadId();
    m_loopThreads = nullptr;
    m_loops = nullptr;
    m_loopCount = 0;
    m_initialized = true;
    return true;
}

void AppContext::Term()
{
    if (!m_initialized) return;
    free(m_loopThreads);
    free(m_loops);
    m_loopThreads = nullptr;
    m_loops = nullptr;
    m_loopCount = 0;
    DeleteCriticalSection(&m_loopLock);
    DeleteCriticalSection(&m_createLock);
    m_initialized = false;
}

bool AppContext::AddMessageLoop(MessageLoop* loop)
{
    CriticalSectionLock lock(m_loopLock);
    DWORD* threads = static_cast<DWORD*>(realloc(m_loopThreads, sizeof(DWORD) * (m_loopCount + 1)));
    if (!threads) return false;
    m_loopThreads = threads;
    MessageLoop** loops = static_cast<MessageLoop**>(realloc(m_loops, sizeof(MessageLoop*) * (m_loopCount + 1)));
    if (!loops) return false;
    m_loops = loops;
    m_loopThreads[m_loopCount] = GetCurrentThreadId();
    m_loops[m_loopCount] = loop;
    ++m_loopCount;
    return true;
}

MessageLoop* AppContext::GetMessageLoop()
{
    CriticalSectionLock lock(m_loopLock);
    DWORD thread = GetCurrentThreadId();
    for (int i = 0; i < m_loopCount; ++i)
        if (m_loopThreads[i] == thread) return m_loops[i];
    return nullptr;
}

bool AppContext::RemoveMessageLoop()
{
    CriticalSectionLock lock(m_loopLock);
    DWORD thread = GetCurrentThreadId();
    for (int i = 0; i < m_loopCount; ++i) {
        if (m_loopThreads[i] != thread) continue;
        for (int j = i + 1; j < m_loopCount; ++j) {
            m_loopThreads[j - 1] = m_loopThreads[j];
            m_loops[j - 1] = m_loops[j];
        }
        --m_loopCount;
        if (m_loopCount == 0) {
            free(m_loopThreads);
            free(m_loops);
            m_loopThreads = nullptr;
            m_loops = nullptr;
        } else {
            // Shrinking cannot lose data; keep the old block if realloc declines.
            if (DWORD* t = static_cast<DWORD*>(realloc(m_loopThreads, sizeof(DWORD) * m_loopCount))) m_loopThreads = t;
            if (MessageLoop** l = static_cast<MessageLoop**>(realloc(m_loops, sizeof(MessageLoop*) * m_loopCount))) m_loops = l;
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
    CriticalSectionLock lock(m_createLock);
    record->next = m_pending;
    m_pending = record;
}

WindowObject* AppContext::ExtractCreateWndData()
{
    CriticalSectionLock lock(m_createLock);
    DWORD thread = GetCurrentThreadId();
    for (PendingWindow** link = &m_pending; *link; link = &(*link)->next) {
        PendingWindow* record = *link;
        if (record->threadId != thread) continue;
        *link = record->next;
        WindowObject* object = record->object;
        free(record);
        return object;
    }
    return nullptr;
}
