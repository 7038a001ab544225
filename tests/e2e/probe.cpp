// Looks at a running Korvane from outside, as another program on the same
// desktop can: prints the state of its main dialog as key=value lines (UTF-8).
#include <windows.h>
#include <commctrl.h>

#include <stdio.h>
#include <string>

namespace {

std::string Utf8Text(HWND window)
{
    wchar_t text[512] = L"";
    GetWindowTextW(window, text, 512);
    char out[1024] = "";
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof(out), nullptr, nullptr);
    return out;
}

HWND FindDialog(const char* title)
{
    for (int i = 0; i < 200; ++i) {
        HWND window = FindWindowA("#32770", title);
        if (window && IsWindowVisible(window)) return window;
        Sleep(50);
    }
    return nullptr;
}

} // namespace

int main(int argc, char** argv)
{
    const char* title = argc > 1 ? argv[1] : "Korvane";
    HWND dialog = FindDialog(title);
    if (!dialog) {
        printf("found=0\n");
        return 1;
    }
    printf("found=1\n");
    RECT r;
    GetWindowRect(dialog, &r);
    printf("rect=%ld,%ld,%ld,%ld\n", r.left, r.top, r.right, r.bottom);
    printf("title=%s\n", Utf8Text(dialog).c_str());
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        int id = GetDlgCtrlID(child);
        if (id <= 0 || id == 1000 || id == 1001) continue;
        printf("text.%d=%s\n", id, Utf8Text(child).c_str());
        printf("enabled.%d=%d\n", id, IsWindowEnabled(child) ? 1 : 0);
        GetWindowRect(child, &r);
        printf("rect.%d=%ld,%ld,%ld,%ld\n", id, r.left, r.top, r.right, r.bottom);
    }
    HWND list = GetDlgItem(dialog, 1001);
    if (list) printf("list.count=%d\n", static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0)));
    HWND tree = GetDlgItem(dialog, 1000);
    if (tree) printf("tree.count=%d\n", static_cast<int>(SendMessageA(tree, TVM_GETCOUNT, 0, 0)));
    HWND focus = nullptr;
    GUITHREADINFO info = {sizeof(info)};
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info)) focus = info.hwndFocus;
    printf("focus=%d\n", focus ? GetDlgCtrlID(focus) : 0);
    return 0;
}
