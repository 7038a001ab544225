#include "Korvane.h"

#include <commctrl.h>
#include <mapix.h>
#include <objbase.h>

#include "AppContext.h"
#include "MessageLoop.h"
#include "maindlg.h"
#include "resource.h"
#include "trace.h"

namespace {
// The source line that the log shows for Run's entry, fixed by the log format.
const int kRunLine = 20;
}

int Run(LPSTR /*commandLine*/, int showCommand)
{
    TraceInit("SV", "krvn.ini");
    HRESULT exitCode = 0;
    TRACE_CALL_RET_AT(kRunLine, "Run", exitCode);

    MessageLoop loop;
    g_app.AddMessageLoop(&loop);  // the main dialog finds it while it initialises

    MainDlg dialog;
    HWND window = dialog.Create(nullptr, IDD_MAINDLG);
    if (!window) {
        g_app.RemoveMessageLoop();
        exitCode = 0;
        return 0;
    }
    ShowWindow(window, showCommand);
    exitCode = loop.Run();
    g_app.RemoveMessageLoop();
    return static_cast<int>(exitCode);
}

int KorvaneMain(HINSTANCE instance, LPSTR commandLine, int showCommand)
{
    HRESULT hr = CoInitialize(nullptr);
    bool comInitialized = SUCCEEDED(hr);
    bool mapiInitialized = false;
    if (comInitialized) mapiInitialized = SUCCEEDED(MAPIInitialize(nullptr));
    CoInitialize(nullptr);

    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES | ICC_COOL_CLASSES};
    InitCommonControlsEx(&controls);
    g_app.Init(instance);

    int exitCode = Run(commandLine, showCommand);

    g_app.Term();
    CoUninitialize();
    if (mapiInitialized) MAPIUninitialize();
    if (comInitialized) CoUninitialize();
    return exitCode;
}
