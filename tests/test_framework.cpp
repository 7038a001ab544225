// The application shell: message loop (filters, idle passes), dialog and
// control binding, result routing, and Korvane.exe as a whole process.
#include <doctest/doctest.h>

#include <windows.h>
#include <commctrl.h>
#include <objbase.h>

#include <algorithm>
#include <memory>

#include <string>
#include <vector>

#include "AppContext.h"
#include "Korvane.h"
#include "MapiSim.h"
#include "MessageLoop.h"
#include "TestFiles.h"
#include "WindowObject.h"
#include "resource.h"
#include "trace.h"

namespace {

std::vector<std::string> g_events;

struct RecordingFilter : MessageFilter {
    RecordingFilter(const char* n, BOOL r) : name(n), result(r) {}
    BOOL FilterMessage(MSG* msg) override
    {
        g_events.push_back(std::string(name) + ":" + std::to_string(msg->message));
        return result;
    }
    const char* name;
    BOOL result;
};

DWORD WINAPI PostKeyLater(LPVOID thread)
{
    Sleep(300);
    PostThreadMessageA(static_cast<DWORD>(reinterpret_cast<ULONG_PTR>(thread)), WM_KEYDOWN, VK_SPACE, 0);
    return 0;
}

// Records the message sequence the loop sees and its idle passes; its idle
// passes drive the scenario.
struct ScriptedIdle : IdleHandler, MessageFilter {
    BOOL RunIdle() override
    {
        g_events.push_back("idle");
        ++passes;
        if (passes == 1) {
            // Messages that do not re-arm idling, then nothing: the loop must block.
            // (The key press later also brings its WM_CHAR, from TranslateMessage.)
            PostThreadMessageA(GetCurrentThreadId(), WM_MOUSEMOVE, 0, 0);
            PostThreadMessageA(GetCurrentThreadId(), 0x0118, 0, 0);
            PostThreadMessageA(GetCurrentThreadId(), WM_NCMOUSEMOVE, 0, 0);
            PostThreadMessageA(GetCurrentThreadId(), WM_PAINT, 0, 0);
            // A key press arrives later, from another thread.
            CreateThread(nullptr, 0, PostKeyLater, reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(GetCurrentThreadId())), 0,
                         nullptr);
        } else {
            PostQuitMessage(7);
        }
        return TRUE;  // the loop ignores the result
    }
    BOOL FilterMessage(MSG* msg) override
    {
        g_events.push_back("msg:" + std::to_string(msg->message));
        return FALSE;
    }
    int passes = 0;
};

// A dialog object over template 100 that records what reaches it.
class RecordingDialog : public DialogObject {
public:
    BOOL ProcessWindowMessage(HWND, UINT msg, WPARAM, LPARAM, LRESULT& result) override
    {
        messages.push_back(msg);
        if (msg == WM_INITDIALOG) { result = FALSE; return TRUE; }
        if (msg == WM_APP + 1) { result = 1234; return TRUE; }
        if (msg == WM_CTLCOLORDLG) { result = 0x5678; return TRUE; }
        return FALSE;
    }
    void OnFinalMessage(HWND) override { finalCalled = true; }
    std::vector<UINT> messages;
    bool finalCalled = false;
};

class RecordingControl : public ControlObject {
public:
    BOOL ProcessWindowMessage(HWND, UINT msg, WPARAM, LPARAM, LRESULT& result) override
    {
        if (msg == WM_APP + 2) { result = 42; return TRUE; }
        return FALSE;
    }
    void OnFinalMessage(HWND hwnd) override
    {
        procAtFinal = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hwnd, GWLP_WNDPROC));
    }
    WNDPROC procAtFinal = nullptr;
};

WNDPROC g_below = nullptr;
bool g_originalSawNcDestroy = false;

LRESULT CALLBACK OriginalProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_NCDESTROY) g_originalSawNcDestroy = true;
    if (msg == WM_APP + 3) return 99;
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT CALLBACK OnTopProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return CallWindowProcA(g_below, hwnd, msg, wParam, lParam);
}

HWND MakeTestWindow()
{
    static bool registered = false;
    if (!registered) {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = OriginalProc;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = "KorvaneTestWindow";
        RegisterClassA(&wc);
        registered = true;
    }
    return CreateWindowA("KorvaneTestWindow", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
}

std::string WindowsDirectory()
{
    char folder[MAX_PATH];
    GetWindowsDirectoryA(folder, sizeof(folder));
    return folder;
}

struct WindowSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindKorvaneWindow(HWND hwnd, LPARAM lParam)
{
    auto* search = reinterpret_cast<WindowSearch*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    char title[64] = "";
    GetWindowTextA(hwnd, title, sizeof(title));
    if (owner == search->pid && std::string(title) == "Korvane" && IsWindowVisible(hwnd)) {
        search->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

struct MainArgs {
    bool mta;
    int code;
};

DWORD WINAPI RunKorvaneMain(LPVOID p)
{
    auto* args = static_cast<MainArgs*>(p);
    if (args->mta) CoInitializeEx(nullptr, COINIT_MULTITHREADED);  // the first CoInitialize then fails
    // An instance without dialog template 129: creating the main dialog fails.
    HINSTANCE noTemplates = GetModuleHandleA("kernel32.dll");
    HINSTANCE saved = g_app.Instance();
    args->code = KorvaneMain(noTemplates, const_cast<LPSTR>(""), SW_HIDE);
    g_app.Init(saved);
    if (args->mta) CoUninitialize();
    return 0;
}

// Korvane.exe next to this test program, started as a process.
struct KorvaneProcess {
    explicit KorvaneProcess(const std::string& env = "")
    {
        std::string exe = ProgramFolder() + "Korvane.exe";
        RunProcess("\"" + exe + "\"", 0, &process);
        DWORD pid = GetProcessId(process);
        for (int i = 0; i < 400 && !window; ++i) {
            Sleep(25);
            WindowSearch search = {pid, nullptr};
            EnumWindows(FindKorvaneWindow, reinterpret_cast<LPARAM>(&search));
            window = search.found;
        }
    }
    int Wait()
    {
        DWORD code = static_cast<DWORD>(-1);
        if (WaitForSingleObject(process, 30000) == WAIT_OBJECT_0) GetExitCodeProcess(process, &code);
        else TerminateProcess(process, 99);
        CloseHandle(process);
        process = nullptr;
        return static_cast<int>(code);
    }
    ~KorvaneProcess()
    {
        if (process) {
            TerminateProcess(process, 99);
            CloseHandle(process);
        }
    }
    HANDLE process = nullptr;
    HWND window = nullptr;
};

} // namespace

TEST_CASE("windows beyond the 256th are bound like the first")
{
    std::vector<HWND> windows;
    std::vector<std::unique_ptr<RecordingControl>> controls;
    for (int i = 0; i < 300; ++i) {
        windows.push_back(MakeTestWindow());
        controls.push_back(std::make_unique<RecordingControl>());
        REQUIRE(controls.back()->SubclassWindow(windows.back()));
    }
    int answered = 0;
    for (HWND window : windows) answered += SendMessageA(window, WM_APP + 2, 0, 0) == 42;
    CHECK(answered == 300);
    for (HWND window : windows) DestroyWindow(window);
}

TEST_CASE("filters are asked from the last registered to the first, and the first TRUE ends the round")
{
    MessageLoop loop;
    RecordingFilter a("a", FALSE), b("b", TRUE), c("c", FALSE);
    loop.AddMessageFilter(&a);
    loop.AddMessageFilter(&b);
    loop.AddMessageFilter(&c);
    MSG msg = {};
    msg.message = WM_KEYDOWN;
    g_events.clear();
    CHECK(loop.FilterMessage(&msg));
    CHECK(g_events == std::vector<std::string>{"c:256", "b:256"});

    MessageLoop none;
    none.AddMessageFilter(&a);
    g_events.clear();
    CHECK_FALSE(none.FilterMessage(&msg));
    CHECK(g_events == std::vector<std::string>{"a:256"});
}

TEST_CASE("one idle pass after a re-arming message; mouse moves, paints and 0x0118 do not re-arm")
{
    MessageLoop loop;
    ScriptedIdle script;
    loop.AddIdleHandler(&script);
    loop.AddMessageFilter(&script);
    g_events.clear();
    MSG flush;
    while (PeekMessageA(&flush, nullptr, 0, 0, PM_REMOVE)) {}
    CHECK(loop.Run() == 7);
    std::string seen;
    for (const auto& e : g_events) seen += e + " ";
    CAPTURE(seen);
    CHECK(g_events == std::vector<std::string>{"idle", "msg:512", "msg:280", "msg:160", "msg:15", "msg:256", "msg:258", "idle"});
}

TEST_CASE("a dialog object gets every message from the first, before WM_INITDIALOG")
{
    RecordingDialog dialog;
    HWND window = dialog.Create(nullptr, IDD_ABOUTBOX);
    REQUIRE(window);
    CHECK(dialog.m_hWnd == window);
    REQUIRE(dialog.messages.size() >= 2);
    CHECK(dialog.messages.front() != WM_INITDIALOG);
    CHECK(std::find(dialog.messages.begin(), dialog.messages.end(), WM_INITDIALOG) != dialog.messages.end());
    CHECK(g_app.ExtractCreateWndData() == nullptr);  // the pending record was taken

    // Handled messages answer through DWLP_MSGRESULT; the colour messages directly.
    CHECK(SendMessageA(window, WM_APP + 1, 0, 0) == 1234);
    CHECK(SendMessageA(window, WM_CTLCOLORDLG, 0, 0) == 0x5678);
    DestroyWindow(window);
    CHECK(dialog.m_hWnd == nullptr);
    CHECK(dialog.finalCalled);
    CHECK(dialog.messages.back() == WM_NCDESTROY);
}

TEST_CASE("a subclassed control: handled messages stay, the rest reach the old procedure, which is put back")
{
    SUBCASE("nobody subclassed after us: restored at WM_NCDESTROY")
    {
        HWND window = MakeTestWindow();
        RecordingControl control;
        REQUIRE(control.SubclassWindow(window));
        CHECK(control.m_hWnd == window);
        CHECK(SendMessageA(window, WM_APP + 2, 0, 0) == 42);
        CHECK(SendMessageA(window, WM_APP + 3, 0, 0) == 99);
        g_originalSawNcDestroy = false;
        DestroyWindow(window);
        CHECK(g_originalSawNcDestroy);
        CHECK(reinterpret_cast<void*>(control.procAtFinal) == reinterpret_cast<void*>(OriginalProc));
        CHECK(control.m_hWnd == nullptr);
    }
    SUBCASE("another subclass on top: left in place")
    {
        HWND window = MakeTestWindow();
        RecordingControl control;
        REQUIRE(control.SubclassWindow(window));
        g_below = reinterpret_cast<WNDPROC>(SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(OnTopProc)));
        CHECK(SendMessageA(window, WM_APP + 2, 0, 0) == 42);
        DestroyWindow(window);
        CHECK(reinterpret_cast<void*>(control.procAtFinal) == reinterpret_cast<void*>(OnTopProc));
        CHECK(control.m_hWnd == nullptr);
    }
    SUBCASE("a refused subclass binds nothing")
    {
        RecordingControl control;
        CHECK_FALSE(control.SubclassWindow(nullptr));
        CHECK(control.m_hWnd == nullptr);
    }
}

TEST_CASE("start-up and shut-down pairing; a dialog that cannot be created gives exit code 0")
{
    std::string ini = WindowsDirectory() + "\\krvn.ini";
    std::string log = TempPath("run.log");
    WriteTextFile(ini, "[SV]\r\nDebugLevel=3\r\nDebugFile=" + log + "\r\n");

    auto runOnThread = [](bool multithreadedFirst) {
        MainArgs args = {multithreadedFirst, -1};
        HANDLE thread = CreateThread(nullptr, 0, RunKorvaneMain, &args, 0, nullptr);
        WaitForSingleObject(thread, 30000);
        CloseHandle(thread);
        return args.code;
    };

    SUBCASE("COM and MAPI initialised and uninitialised in pairs")
    {
        MapiSim sim("profile P default\n");
        sim.Finish();  // MAPI is the program's now, not the test's
        CHECK(runOnThread(false) == 0);
        auto lines = sim.LogLines();
        REQUIRE(lines.size() >= 2);
        CHECK(sim.Calls("MAPIInitialize").size() == 2);    // the fixture's, then the program's
        CHECK(sim.Calls("MAPIUninitialize").size() == 2);
        std::string text = ReadTextFile(log);
        CHECK(Contains(text, "-->Run()\r\n"));
        CHECK(Contains(text, "<--Run(), ret = 0\r\n"));
    }
    SUBCASE("a failed first CoInitialize: MAPI is neither initialised nor uninitialised")
    {
        MapiSim sim("profile P default\n");
        sim.Finish();
        CHECK(runOnThread(true) == 0);
        CHECK(sim.Calls("MAPIInitialize").size() == 1);  // the fixture's only
        CHECK(sim.Calls("MAPIUninitialize").size() == 1);
    }
    DeleteFileA(ini.c_str());
}

TEST_CASE("Korvane.exe as a process: exit codes of OK, Enter, Escape and the close box")
{
    std::string ini = WindowsDirectory() + "\\krvn.ini";
    std::string log = TempPath("exe.log");
    WriteTextFile(ini, "[SV]\r\nDebugLevel=3\r\nDebugFile=" + log + "\r\n");
    std::string store = TempPath("exe-store.txt");
    WriteTextFile(store, "profile P default\n  store S default\n");
    SetEnvironmentVariableA("MAPISIM_STORE", store.c_str());
    SetEnvironmentVariableA("MAPISIM_LOG", nullptr);
    std::string report = TempPath("exe-report.txt");
    SetEnvironmentVariableA("MAPISIM_REPORT", report.c_str());

    const struct {
        const char* how;
        int code;
    } cases[] = {{"OK button", 1}, {"Enter", 1}, {"Escape", 2}, {"close box", 2}};
    for (const auto& c : cases) {
        CAPTURE(c.how);
        KorvaneProcess korvane;
        REQUIRE(korvane.window);
        HWND focus = GetDlgItem(korvane.window, IDC_STORES_TREE);
        std::string how = c.how;
        if (how == "OK button") SendMessageA(GetDlgItem(korvane.window, IDOK), BM_CLICK, 0, 0);
        else if (how == "Enter") PostMessageA(focus, WM_KEYDOWN, VK_RETURN, 0);
        else if (how == "Escape") PostMessageA(focus, WM_KEYDOWN, VK_ESCAPE, 0);
        else PostMessageA(korvane.window, WM_SYSCOMMAND, SC_CLOSE, 0);
        CHECK(korvane.Wait() == c.code);
        std::string text = ReadTextFile(log);
        CHECK(Contains(text, " C[SV-Korvane.cpp:20] -->Run()\r\n"));
        CHECK(Contains(text, "<--Run(), ret = " + std::to_string(c.code) + "\r\n"));
        CHECK(Contains(text, "] -->OnInitDialog()\r\n"));
        std::string rep = ReadTextFile(report);
        CHECK(Contains(rep, "live_objects=0\n"));
        CHECK(Contains(rep, "live_allocations=0\n"));
        CHECK(Contains(rep, "sessions_open=0\n"));
    }
    DeleteFileA(ini.c_str());
}

TEST_CASE("without a MAPI provider Korvane.exe still starts and ends cleanly")
{
    HKEY key = nullptr;
    REQUIRE(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Clients\\Mail", 0, KEY_ALL_ACCESS, &key) == ERROR_SUCCESS);
    char saved[256] = "";
    DWORD size = sizeof(saved);
    RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(saved), &size);
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("no-such-client"), 15);

    std::string ini = WindowsDirectory() + "\\krvn.ini";
    std::string log = TempPath("nomapi.log");
    WriteTextFile(ini, "[SV]\r\nDebugLevel=3\r\nDebugFile=" + log + "\r\n");
    {
        KorvaneProcess korvane;
        CHECK(korvane.window);
        PostMessageA(korvane.window, WM_SYSCOMMAND, SC_CLOSE, 0);
        CHECK(korvane.Wait() == 2);
    }
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(saved), static_cast<DWORD>(strlen(saved) + 1));
    RegCloseKey(key);
    DeleteFileA(ini.c_str());
    std::string text = ReadTextFile(log);
    CHECK(Contains(text, "<--Init(), ret = 80004005\r\n"));  // no profiles can be listed
    CHECK(Contains(text, "<--Run(), ret = 2\r\n"));
}
