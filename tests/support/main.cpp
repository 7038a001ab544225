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
