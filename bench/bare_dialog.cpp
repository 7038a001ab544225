// The floor for start-up: a plain Win32 program that shows Korvane's main
// dialog template with nothing behind it, started the same way.
#include <windows.h>
#include <commctrl.h>

#include "resource.h"

namespace {
INT_PTR CALLBACK BareProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM)
{
    if (msg == WM_INITDIALOG) return TRUE;
    if (msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        DestroyWindow(dialog);
        PostQuitMessage(LOWORD(wParam));
        return TRUE;
    }
    return FALSE;
}
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int show)
{
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES | ICC_COOL_CLASSES};
    InitCommonControlsEx(&controls);
    HWND dialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_MAINDLG), nullptr, BareProc, 0);
    if (!dialog) return 0;
    ShowWindow(dialog, show);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        if (!IsDialogMessageA(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}
