// Looks at a running Korvane from outside, as another program on the same
// desktop can: prints the state of its dialog as key=value lines (UTF-8).
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>

int main(int argc, char** argv)
{
    HWND dialog = nullptr;
    for (int i = 0; i < 200 && !(dialog && IsWindowVisible(dialog)); ++i) {
        if (i) Sleep(50);
        dialog = FindWindowA("#32770", argc > 1 ? argv[1] : "Korvane");
    }
    printf("found=%d\n", dialog && IsWindowVisible(dialog) ? 1 : 0);
    RECT r;
    GetWindowRect(dialog, &r);
    printf("rect=%ld,%ld,%ld,%ld\n", r.left, r.top, r.right, r.bottom);
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t wide[512] = L"";
        char text[1024] = "";
        GetWindowTextW(child, wide, 512);
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof(text), nullptr, nullptr);
        int id = GetDlgCtrlID(child);
        GetWindowRect(child, &r);
        printf("text.%d=%s\nenabled.%d=%d\nrect.%d=%ld,%ld,%ld,%ld\n", id, text, id, IsWindowEnabled(child) ? 1 : 0, id, r.left, r.top, r.right, r.bottom);
    }
    printf("list.count=%d\ntree.count=%d\n", int(SendMessageA(GetDlgItem(dialog, 1001), LVM_GETITEMCOUNT, 0, 0)),
           int(SendMessageA(GetDlgItem(dialog, 1000), TVM_GETCOUNT, 0, 0)));
    GUITHREADINFO info = {sizeof(info)};
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
    printf("focus=%d\n", info.hwndFocus ? GetDlgCtrlID(info.hwndFocus) : 0);
    return dialog ? 0 : 1;
}
