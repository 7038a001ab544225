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

    HINSTANCE Instance() const { return instance_; }
    DWORD MainThreadId() const { return mainThreadId_; }

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

    HINSTANCE instance_ = nullptr;
    DWORD mainThreadId_ = 0;
    CRITICAL_SECTION loopLock_;
    CRITICAL_SECTION createLock_;
    // Loop registry as two parallel arrays, grown and shrunk one element at a time.
    DWORD* loopThreads_ = nullptr;
    MessageLoop** loops_ = nullptr;
    int loopCount_ = 0;
    PendingWindow* pending_ = nullptr;
    bool initialized_ = false;
};

extern AppContext g_app;

// Holds a critical section for the lifetime of the scope.
class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CRITICAL_SECTION& cs) : cs_(cs) { EnterCriticalSection(&cs_); }
    ~CriticalSectionLock() { LeaveCriticalSection(&cs_); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;
private:
    CRITICAL_SECTION& cs_;
};
