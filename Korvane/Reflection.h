// Message reflection: a dialog sends its child controls' notifications back
// to them as message + 0x2000 (OCM_BASE).
#pragma once
#include <windows.h>

const UINT kReflectBase = 0x2000;

// The window that a notification message concerns, or null when it is not
// reflected (a message that is not a notification, or one without a target).
HWND ReflectionTarget(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);

// Whether |msg| is the reflected form of a notification.
bool IsReflectedMessage(UINT msg);
