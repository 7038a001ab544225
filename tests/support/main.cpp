// doctest's entry, with the program's helper modes for tests that need a
// second process (for example one that holds a file open).
#define DOCTEST_CONFIG_IMPLEMENT
#include <doctest/doctest.h>

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <string.h>

#include "AppContext.h"
#include "TestFiles.h"
#include "trace.h"

int main(int argc, char** argv)
{
    // --hold FILE SECONDS: open FILE the way the trace log does and keep it.
    if (argc == 4 && strcmp(argv[1], "--hold") == 0) return HoldFileForSeconds(argv[2], atoi(argv[3]));
    // --record-open MARKER TARGET: stands in for the program a link opens; notes what it was given.
    if (argc == 4 && strcmp(argv[1], "--record-open") == 0) return WriteTextFile(argv[2], std::string(argv[3]) + "\n") ? 0 : 1;
    // --trace-unconfigured FILE: one entry line before any configuration of the level or tag.
    if (argc == 3 && strcmp(argv[1], "--trace-unconfigured") == 0) {
        TraceOpenFile(argv[2]);
        TraceFormat("C:\\src\\maindlg.cpp", 29, TRACE_CALL, "");
        TraceCall call("OnInitDialog");
        return 0;
    }

    CoInitialize(nullptr);
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES | ICC_COOL_CLASSES | ICC_TREEVIEW_CLASSES |
                                                        ICC_LISTVIEW_CLASSES};
    InitCommonControlsEx(&controls);
    g_app.Init(GetModuleHandleA(nullptr));

    doctest::Context context;
    context.applyCommandLine(argc, argv);
    int result = context.run();

    g_app.Term();
    CoUninitialize();
    return result;
}
