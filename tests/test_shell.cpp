// The application shell: the trace log (configuration, lines, levels, file and fallback names), the message
// loop's filters and idle passes, dialog and control objects bound to their windows, start-up and shut-down.
#include <doctest/doctest.h>

#include <windows.h>
#include <objbase.h>

#include <algorithm>

#include "AppContext.h"
#include "Korvane.h"
#include "Scenario.h"
#include "WindowObject.h"
#include "trace.h"

namespace {

using Texts = std::vector<std::string>;

// The log's lines, with the time of day ("HH:MM:SS") as "T".
Texts Lines(const std::string& log)
{
    Texts lines = SplitLines(ReadTextFile(log));
    for (std::string& line : lines)
        if (line.size() > 9 && line[2] == ':' && line[5] == ':' && line[8] == ' ' && isdigit(line[0])) line = "T" + line.substr(8);
    return lines;
}

Texts g_events;

struct RecordingFilter : MessageFilter {
    RecordingFilter(const char* n, BOOL r) : name(n), result(r) {}
    BOOL FilterMessage(MSG* msg) override
    {
        g_events.push_back(name ? name : std::to_string(msg->message));
        return result;
    }
    const char* name;
    BOOL result;
};

DWORD WINAPI PostKeyLater(LPVOID thread)
{
    Sleep(300);
    return PostThreadMessageA(DWORD(reinterpret_cast<ULONG_PTR>(thread)), WM_KEYDOWN, VK_SPACE, 0);
}

// The idle passes drive the scenario: the first posts messages that do not start idling
// again and then nothing, so that the loop must wait for a key press (with its WM_CHAR)
// from another thread; the second ends the loop.
struct ScriptedIdle : IdleHandler {
    BOOL RunIdle() override
    {
        g_events.push_back("idle");
        if (g_events.size() > 1) {
            PostQuitMessage(7);
            return TRUE;
        }
        for (UINT msg : {UINT(WM_MOUSEMOVE), 0x0118u, UINT(WM_NCMOUSEMOVE), UINT(WM_PAINT)}) PostThreadMessageA(GetCurrentThreadId(), msg, 0, 0);
        CloseHandle(CreateThread(nullptr, 0, PostKeyLater, reinterpret_cast<LPVOID>(ULONG_PTR(GetCurrentThreadId())), 0, nullptr));
        return TRUE;  // the loop takes no notice
    }
};

class RecordingDialog : public DialogObject {
public:
    BOOL ProcessWindowMessage(HWND, UINT msg, WPARAM, LPARAM, LRESULT& result) override
    {
        result = msg == WM_APP ? 1234 : 0x5678;
        return msg == WM_APP || msg == WM_CTLCOLORDLG;
    }
};

class RecordingControl : public ControlObject {
public:
    BOOL ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override
    {
        result = 42;
        return msg == WM_APP || ControlObject::ProcessWindowMessage(hwnd, msg, wParam, lParam, result);
    }
    void OnFinalMessage(HWND hwnd) override { procAtFinal = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hwnd, GWLP_WNDPROC)); }
    WNDPROC procAtFinal = nullptr;
};

bool g_originalSawNcDestroy = false;
WNDPROC g_below = nullptr;

LRESULT CALLBACK OriginalProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    g_originalSawNcDestroy |= msg == WM_NCDESTROY;
    return msg == WM_APP + 1 ? 99 : DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK OnTopProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return CallWindowProcA(g_below, hwnd, msg, wParam, lParam);
}

// The whole program on a thread of its own, with an instance without dialog
// templates, so that the main dialog cannot be created.
DWORD WINAPI RunProgram(LPVOID multithreadedFirst)
{
    if (multithreadedFirst) CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // the program's CoInitialize then fails
    HINSTANCE saved = g_app.Instance();
    DWORD code = KorvaneMain(GetModuleHandleA("kernel32.dll"), const_cast<LPSTR>(""), SW_HIDE);
    g_app.Init(saved);
    if (multithreadedFirst) CoUninitialize();
    return code;
}

} // namespace

TEST_CASE("configuration: level 3 and no tag before it; then the INI file's level and file, found by a bare name in the Windows folder")
{
    std::string log = TempPath("unconfigured.log");  // a fresh process: nothing is configured there
    REQUIRE(RunProcess("\"" + ThisProgram() + "\" --trace-unconfigured \"" + log + "\"").code == 0);
    CHECK(Lines(log) == Texts{"T C[-maindlg.cpp:29] -->OnInitDialog()", "<--OnInitDialog()"});
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, sizeof(windows));
    std::string name = "krvn-test-" + std::to_string(GetCurrentProcessId()) + ".ini";
    log = TempPath("ini.log");
    WriteTextFile(windows + ("\\" + name), "[SV]\r\nDebugLevel=4\r\nDebugFile=" + log + "\r\n");  // 4 counts as 3
    TraceInit("SV", name.c_str());
    DeleteFileA((windows + ("\\" + name)).c_str());
    TraceFormat("C:\\src\\Korvane\\maindlg.cpp", 29, TRACE_CALL, "");
    { TraceCall call("OnInitDialog"); }
    CHECK(Lines(log) == Texts{"T C[SV-maindlg.cpp:29] -->OnInitDialog()", "<--OnInitDialog()"});
    TraceInit("SV", TempPath("absent.ini").c_str());  // no INI file: level 0
    CHECK(TraceSetLevel(3) == 0);
}

TEST_CASE("each level writes its own lines and those below; base names, letters, results; no format in texts, no last error changed")
{
    std::string log = TempPath("levels.log");
    TraceOpenFile(log.c_str());
    TraceSetAppTag("SV");
    SetLastError(1234);
    for (int level = 0; level <= 3; ++level) {
        TraceSetLevel(level);
        TraceFormat("x.cpp", level, TRACE_ERROR, "e\n");
        TraceFormat("x.cpp", level, TRACE_WARNING, "w\n");
        TraceFormat("x.cpp", level, TRACE_DEBUG, "d\n");
        TracePrint(TRACE_CALL, "c%d\n", level);
    }
    TraceFormat("C:\\a\\b\\utlis.cpp", 69, TRACE_ERROR, "GetProps() failed: hr=%lx\n", 0x8004010FUL);
    TraceFormat("build/Korvane/maindlg.cpp", 1, TRACE_WARNING, "w %d %s %02d\n", -5, "text", 7);  // '/' is not a separator
    TraceFormat("head.cpp", 3, TRACE_CALL, "");
    {
        HRESULT hr = S_OK;
        TraceCallRet call("GetFinder", hr);
        hr = E_FAIL;
    }
    TracePrint(TRACE_CALL, "-->%s()\n", "name %s %n %d %%");
    TraceFormat("f.cpp", 1, TRACE_ERROR, "%s\n", std::string(10000, 'x').c_str());
    TraceOpenFile("C:\\no-such-folder\\z.log");
    CHECK(GetLastError() == 1234);
    Texts lines = Lines(log);
    REQUIRE(lines.size() == 16);
    CHECK(Texts(lines.begin(), lines.end() - 1) ==
          Texts{"T E[SV-x.cpp:0] e", "T E[SV-x.cpp:1] e", "T W[SV-x.cpp:1] w", "T E[SV-x.cpp:2] e", "T W[SV-x.cpp:2] w",
                "T D[SV-x.cpp:2] d", "T E[SV-x.cpp:3] e", "T W[SV-x.cpp:3] w", "T D[SV-x.cpp:3] d", "c3",
                "T E[SV-utlis.cpp:69] GetProps() failed: hr=8004010f", "T W[SV-build/Korvane/maindlg.cpp:1] w -5 text 07",
                "T C[SV-head.cpp:3] -->GetFinder()", "<--GetFinder(), ret = 80004005", "-->name %s %n %d %%()"});
    CHECK((lines[15].size() > 1000 && lines[15].size() < 1100));  // wvsprintfA stops at 1024 characters
    CHECK(Contains(ReadTextFile(log), "\r\n"));  // text mode on disk
}

TEST_CASE("the log file is emptied at start; held by others, the next free name x.log0, x.log1 is taken")
{
    std::string log = TempPath("held.log");
    WriteTextFile(log, "old contents\n");
    TraceOpenFile(log.c_str());
    TracePrint(TRACE_ERROR, "new\n");
    CHECK(ReadTextFile(log) == "new\r\n");
    TraceOpenFile(TempPath("other.log").c_str());
    // Held as another trace log holds its file (others may read it, not write it): the first free name of x.log0, x.log1.
    for (const char* next : {"0", "1"}) {
        HANDLE held[2] = {CreateFileA(log.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr), nullptr};
        if (*next == '1') held[1] = CreateFileA((log + "0").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
        TraceOpenFile(log.c_str());
        TracePrint(TRACE_ERROR, "fallback\n");
        TraceOpenFile(TempPath("other.log").c_str());
        CHECK(ReadTextFile(log + next) == "fallback\r\n");
        for (HANDLE file : held) CloseHandle(file);
        DeleteFileA((log + next).c_str());
    }
    // A folder that cannot be written: no file under any name, and nothing else goes wrong.
    std::string nowhere = "C:\\no-such-folder-" + std::to_string(GetCurrentProcessId()) + "\\x.log";
    TraceOpenFile(nowhere.c_str());
    TracePrint(TRACE_ERROR, "only to the debugger\n");
    for (const char* suffix : {"", "0", "99"}) CHECK(GetFileAttributesA((nowhere + suffix).c_str()) == INVALID_FILE_ATTRIBUTES);
}

TEST_CASE("filters are asked last registered first, and the first TRUE ends the round")
{
    MessageLoop loop;
    RecordingFilter a("a", FALSE), b("b", TRUE), c("c", FALSE);
    for (MessageFilter* filter : {&a, &b, &c}) loop.AddMessageFilter(filter);
    MSG msg = {};
    g_events.clear();
    CHECK(loop.FilterMessage(&msg));
    CHECK(g_events == Texts{"c", "b"});
}

TEST_CASE("one idle pass after a message that starts idling; mouse moves, paints and 0x0118 do not")
{
    MessageLoop loop;
    ScriptedIdle idle;
    RecordingFilter record(nullptr, FALSE);
    loop.AddIdleHandler(&idle);
    loop.AddMessageFilter(&record);
    MSG flush;
    while (PeekMessageA(&flush, nullptr, 0, 0, PM_REMOVE)) {}
    g_events.clear();
    CHECK(loop.Run() == 7);
    CHECK(g_events == Texts{"idle", "512", "280", "160", "15", "256", "258", "idle"});
}

TEST_CASE("a dialog object's results go through DWLP_MSGRESULT, those of the colour messages directly")
{
    RecordingDialog dialog;
    HWND window = dialog.Create(nullptr, IDD_ABOUTBOX);
    CHECK(SendMessageA(window, WM_APP, 0, 0) == 1234);
    CHECK(SendMessageA(window, WM_CTLCOLORDLG, 0, 0) == 0x5678);
    DestroyWindow(window);
}

TEST_CASE("a subclassed control keeps what it handles, passes on the rest, and puts its procedure back if on top")
{
    WNDCLASSA wc = {0, OriginalProc, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr, "KorvaneTestWindow"};
    RegisterClassA(&wc);
    for (bool another : {false, true}) {
        HWND window = CreateWindowA(wc.lpszClassName, "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
        RecordingControl control;
        REQUIRE(control.SubclassWindow(window));
        if (another) g_below = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(window, GWLP_WNDPROC, LONG_PTR(OnTopProc)));
        CHECK(SendMessageA(window, WM_APP, 0, 0) == 42);
        CHECK(SendMessageA(window, WM_APP + 1, 0, 0) == 99);
        g_originalSawNcDestroy = false;
        DestroyWindow(window);
        CHECK(g_originalSawNcDestroy);
        CHECK(control.m_hWnd == nullptr);
        CHECK(reinterpret_cast<void*>(control.procAtFinal) == (another ? reinterpret_cast<void*>(OnTopProc) : reinterpret_cast<void*>(OriginalProc)));
    }
}

TEST_CASE("COM and MAPI are set up and taken down in pairs; a dialog that cannot be created gives exit code 0")
{
    for (bool multithreadedFirst : {false, true}) {
        MapiSim sim("profile P default\n", true, false);
        HANDLE thread = CreateThread(nullptr, 0, RunProgram, reinterpret_cast<LPVOID>(multithreadedFirst), 0, nullptr);
        DWORD code = 99;
        WaitForSingleObject(thread, 30000);
        GetExitCodeThread(thread, &code);
        CloseHandle(thread);
        CHECK(code == 0);
        // Where COM could not be had, MAPI is neither initialised nor uninitialised.
        CHECK(sim.Calls("MAPIInitialize").size() == (multithreadedFirst ? 0u : 1u));
        CHECK(sim.Calls("MAPIUninitialize").size() == (multithreadedFirst ? 0u : 1u));
    }
}
