// doctest's entry, with the helper modes of tests that need a second process.
#define DOCTEST_CONFIG_IMPLEMENT
#include <doctest/doctest.h>

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>
#include <stdio.h>
#include <string.h>

#include "AppContext.h"
#include "Support.h"
#include "trace.h"

int main(int argc, char** argv)
{
    // --record-open MARKER TARGET: stands in for the program a link opens, and notes the call.
    if (argc == 4 && !strcmp(argv[1], "--record-open")) {
        FILE* f = fopen(argv[2], "ab");
        return f && fprintf(f, "%s\n", argv[3]) > 0 && fclose(f) == 0 ? 0 : 1;
    }
    // --trace-unconfigured FILE: one entry line before the level or tag are configured.
    if (argc == 3 && !strcmp(argv[1], "--trace-unconfigured")) {
        TraceOpenFile(argv[2]);
        TraceFormat("C:\\src\\maindlg.cpp", 29, TRACE_CALL, "");
        TraceCall call("OnInitDialog");
        return 0;
    }
    // --append-once-there FILE TEXT [GO]: another run appending to FILE as krvn does (in its turn, by the lock
    // on the byte at 2^63 - 2) as soon as FILE is there (and, with GO, once the file GO is there too); it
    // says so at once, then holds the file open a while.
    if ((argc == 4 || argc == 5) && !strcmp(argv[1], "--append-once-there")) {
        HANDLE file = INVALID_HANDLE_VALUE;
        ULONGLONG end = GetTickCount64() + 60000;
        while (file == INVALID_HANDLE_VALUE && GetTickCount64() < end)
            file = CreateFileA(argv[2], GENERIC_READ | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        printf(file == INVALID_HANDLE_VALUE ? "never there\n" : "open\n");
        fflush(stdout);
        while (argc == 5 && GetFileAttributesA(argv[4]) == INVALID_FILE_ATTRIBUTES && GetTickCount64() < end) Sleep(10);
        if (file == INVALID_HANDLE_VALUE) return 2;
        OVERLAPPED turn = {};
        turn.Offset = 0xFFFFFFFE;
        turn.OffsetHigh = 0x7FFFFFFF;
        DWORD written = 0, size = static_cast<DWORD>(strlen(argv[3]));
        bool appended = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn) && WriteFile(file, argv[3], size, &written, nullptr) &&
                        written == size && FlushFileBuffers(file);
        UnlockFileEx(file, 0, 1, 0, &turn);
        printf(appended ? "appended\n" : "not appended\n");
        fflush(stdout);
        Sleep(1000);
        CloseHandle(file);
        return appended ? 0 : 1;
    }
    CoInitialize(nullptr);
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES | ICC_COOL_CLASSES | ICC_TREEVIEW_CLASSES | ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    g_app.Init(GetModuleHandleA(nullptr));
    TraceFilePath();
    MakeLastingStructures();
    int result = doctest::Context(argc, argv).run();
    g_app.Term();
    CoUninitialize();
    return result;
}
