#include "MessageLoop.h"

BOOL MessageLoop::FilterMessage(MSG* msg)
{
    // The last registered filter is asked first.
    for (int i = m_filters.Size() - 1; i >= 0; --i) {
        MessageFilter* filter = m_filters[i];
        if (filter && filter->FilterMessage(msg)) return TRUE;
    }
    return FALSE;
}

BOOL MessageLoop::RunIdle(int /*idleCount*/)
{
    for (int i = 0; i < m_idleHandlers.Size(); ++i) {
        IdleHandler* handler = m_idleHandlers[i];
        if (handler) handler->RunIdle();
    }
    return FALSE;
}

bool MessageLoop::IsIdleMessage(const MSG& msg)
{
    switch (msg.message) {
    case WM_MOUSEMOVE:
    case WM_NCMOUSEMOVE:
    case WM_PAINT:
    case 0x0118: // the system timer message behind caret blinking
        return true;
    default:
        return false;
    }
}

int MessageLoop::Run()
{
    BOOL idle = TRUE;
    int idleCount = 0;
    for (;;) {
        while (idle && !PeekMessageA(&m_msg, nullptr, 0, 0, PM_NOREMOVE)) {
            if (!RunIdle(idleCount++)) idle = FALSE;
        }
        BOOL got = GetMessageA(&m_msg, nullptr, 0, 0);
        if (got == -1) continue;
        if (!got) break;
        if (!FilterMessage(&m_msg)) {
            TranslateMessage(&m_msg);
            DispatchMessageA(&m_msg);
        }
        if (!IsIdleMessage(m_msg)) {
            idle = TRUE;
            idleCount = 0;
        }
    }
    return static_cast<int>(m_msg.wParam);
}
