// Message reflection: a dialog sends its child controls' notifications back
// to them as message + 0x2000 (OCM_BASE).
#pragma once
#include <windows.h>

const UINT kReflectBase = 0x2000;

// The reflected forms of the notifications a control may get back from its parent.
inline bool IsReflectedMessage(UINT msg)
{
    if (msg < kReflectBase) return false;
    switch (msg - kReflectBase) {
    case WM_DRAWITEM: case WM_MEASUREITEM: case WM_DELETEITEM: case WM_VKEYTOITEM:
    case WM_CHARTOITEM: case WM_COMPAREITEM: case WM_NOTIFY: case WM_COMMAND:
    case WM_HSCROLL: case WM_VSCROLL: case WM_PARENTNOTIFY:
    case WM_CTLCOLORMSGBOX: case WM_CTLCOLOREDIT: case WM_CTLCOLORLISTBOX: case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG: case WM_CTLCOLORSCROLLBAR: case WM_CTLCOLORSTATIC:
        return true;
    default:
        return false;
    }
}

// What a control does with a reflected message it has no handler for: the
// default window procedure, under the message's own number.
inline BOOL DefaultReflectedMessage(HWND control, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    if (!IsReflectedMessage(msg)) return FALSE;
    result = DefWindowProcA(control, msg - kReflectBase, wParam, lParam);
    return TRUE;
}

// The window a notification message concerns, or null when it is not reflected.
HWND ReflectionTarget(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
