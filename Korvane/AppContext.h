// Process-wide application context: the instance handle, the loop of each
// thread, and the windows whose creation is under way (so that the shared
// start procedure can bind a new window to its object).
#pragma once
#include <windows.h>

class MessageLoop;
class WindowObject;

class AppContext {
public:
    bool Init(HINSTANCE instance);
    void Term();

    HINSTANCE Instance() const { return m_instance; }
    DWORD MainThreadId() const { return m_mainThreadId; }

    bool AddMessageLoop(MessageLoop* loop);
    MessageLoop* GetMessageLoop();
    bool RemoveMessageLoop();

    void AddCreateWndData(WindowObject* object);
    WindowObject* ExtractCreateWndData();

private:
    struct PendingWindow {
        WindowObject* object;
        DWORD threadId;
        PendingWindow* next;
    };

    HINSTANCE m_instance = nullptr;
    DWORD m_mainThreadId = 0;
    CRITICAL_SECTION m_loopLock;
    CRITICAL_SECTION m_createLock;
    // Loop registry as two parallel arrays, grown and shrunk one element at a time.
    DWORD* m_loopThreads = nullptr;
    MessageLoop** m_loops = nullptr;
    int m_loopCount = 0;
    PendingWindow* m_pending = nullptr;
    bool m_initialized = false;
};

extern AppContext g_app;

// Holds a critical section for the lifetime of the scope.
class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CRITICAL_SECTION& cs) : m_cs(cs) { EnterCriticalSection(&m_cs); }
    ~CriticalSectionLock() { LeaveCriticalSection(&m_cs); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;
private:
    CRITICAL_SECTION& m_cs;
};
