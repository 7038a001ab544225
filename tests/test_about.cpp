// The hyperlink control and the About box: colours from the registry, the
// link's rectangle and cursor, following the link, centring and closing.
#include <doctest/doctest.h>

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <utility>

#include "AboutDlg.h"
#include "HyperLink.h"
#include "Scenario.h"

namespace {

const char kSettings[] = "Software\\Microsoft\\Internet Explorer\\Settings";
const char kLabel[] = "www.korvane.example";
const COLORREF kBlue = 0x00FF0000, kVisited = 0x00808000;

// A visible parent with one static child of the given style, made a link.
struct LinkFixture {
    explicit LinkFixture(DWORD style, int width = 200)
        : parent(CreateWindowA("STATIC", "", WS_POPUP | WS_VISIBLE, 100, 100, 400, 200, nullptr, nullptr, nullptr, nullptr)),
          child(CreateWindowA("STATIC", kLabel, WS_CHILD | WS_VISIBLE | style, 10, 10, width, 20, parent, nullptr, nullptr, nullptr))
    {
        link.Attach(child);
    }
    ~LinkFixture() { DestroyWindow(parent); }
    HWND parent, child;
    HyperLink link;
};

// Counts the pixels of |color| in the control as it paints itself.
int PixelsOfColor(HWND window, COLORREF color)
{
    RECT client;
    GetClientRect(window, &client);
    HDC memory = CreateCompatibleDC(nullptr);
    BITMAPINFO info = {{sizeof(BITMAPINFOHEADER), client.right, -client.bottom, 1, 32}};
    void* bits = nullptr;
    HGDIOBJ old = SelectObject(memory, CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    SendMessageA(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT);
    GdiFlush();
    DWORD wanted = (GetRValue(color) << 16) | (GetGValue(color) << 8) | GetBValue(color);
    int count = 0;
    for (int i = 0; i < client.right * client.bottom; ++i) count += (static_cast<const DWORD*>(bits)[i] & 0xFFFFFF) == wanted;
    DeleteObject(SelectObject(memory, old));
    DeleteDC(memory);
    return count;
}

// The link's tooltip tools: one per target, over the link's rectangle.
struct Tool { RECT rect; std::string text; };
std::vector<Tool> ToolsOf(HWND control)
{
    std::vector<Tool> tools;
    for (HWND tip = nullptr; (tip = FindWindowExA(nullptr, tip, TOOLTIPS_CLASSA, nullptr));)
        for (int i = 0; GetWindow(tip, GW_OWNER) == GetAncestor(control, GA_ROOT) && i < SendMessageA(tip, TTM_GETTOOLCOUNT, 0, 0); ++i) {
            char text[512] = "";
            TOOLINFOA info = {TTTOOLINFOA_V2_SIZE};
            info.lpszText = text;
            SendMessageA(tip, TTM_ENUMTOOLSA, i, reinterpret_cast<LPARAM>(&info));
            if (info.hwnd == control) tools.push_back({info.rect, text});
        }
    return tools;
}

// Runs the About box modally; |during| runs inside its modal loop.
std::function<void(HWND)> g_during;
AboutDlg* g_about = nullptr;

void CALLBACK DuringModal(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(nullptr, id);
    g_during(g_about->m_hWnd);
}

INT_PTR RunAbout(HWND owner, std::function<void(HWND)> during)
{
    AboutDlg about;
    g_about = &about;
    g_during = std::move(during);
    SetTimer(nullptr, 0, 50, DuringModal);
    return about.DoModal(owner, IDD_ABOUTBOX);
}

} // namespace

TEST_CASE("the link is painted in the registry's colour: three numbers modulo 256; anything else leaves it blue")
{
    const struct { DWORD type; const char* value; DWORD size; COLORREF painted; } cases[] = {
        {REG_SZ, nullptr, 0, kBlue}, {REG_SZ, "128,0,128", 10, 0x00800080}, {REG_SZ, "0, 128 ,0", 10, 0x00008000},
        {REG_SZ, "300,0,0", 8, 0x0000002C}, {REG_SZ, "a,b,c", 6, 0x00000000}, {REG_SZ, "255,0", 6, kBlue},
        {REG_SZ, "1,2,", 5, kBlue}, {REG_SZ, "-1,0,0", 7, kBlue}, {REG_SZ, "0,-1,0", 7, kBlue}, {REG_SZ, "", 1, kBlue},
        {REG_SZ, "1,1,1", 5, 0x00010101},        // stored without its terminator
        {REG_BINARY, "255,255,2551", 12, kBlue},  // twelve bytes without a terminator do not fit
        {REG_BINARY, "1,2,3,4,5,6,7", 13, kBlue},
    };
    for (const auto& c : cases) {
        CAPTURE(c.value);
        RegDeleteKeyA(HKEY_CURRENT_USER, kSettings);
        if (c.value) RegSetKeyValueA(HKEY_CURRENT_USER, kSettings, "Anchor Color", c.type, c.value, c.size);
        LinkFixture f(SS_LEFT);
        CHECK(PixelsOfColor(f.child, c.painted) > 20);
    }
}

TEST_CASE("the link's rectangle hugs its text, left, centred or right, and shows the hand")
{
    for (DWORD style : {DWORD(SS_LEFT), DWORD(SS_CENTER), DWORD(SS_RIGHT)}) {
        LinkFixture f(style);
        SIZE text;
        HDC dc = GetDC(f.child);  // the control's font; the link's is the same, underlined
        GetTextExtentPoint32A(dc, kLabel, lstrlenA(kLabel), &text);
        ReleaseDC(f.child, dc);
        CHECK((GetWindowLongA(f.child, GWL_STYLE) & SS_NOTIFY) != 0);
        RECT r = ToolsOf(f.child).at(0).rect;
        CHECK(std::pair<LONG, LONG>(r.left, r.right - r.left) ==
              std::pair<LONG, LONG>(style == SS_LEFT ? 0 : style == SS_CENTER ? (200 - text.cx) / 2 : 200 - text.cx, text.cx));
        CHECK(r.top == 0);
        // The hand, with its hot spot at the finger tip, over the text only.
        SendMessageA(f.child, WM_MOUSEMOVE, 0, MAKELPARAM(r.left + 2, r.top + 2));
        ICONINFO info = {};
        REQUIRE(GetIconInfo(GetCursor(), &info));
        CHECK((info.xHotspot == 5 && info.yHotspot == 0));
        DeleteObject(info.hbmMask);
        SetCursor(LoadCursorA(nullptr, IDC_ARROW));
        SendMessageA(f.child, WM_MOUSEMOVE, 0, MAKELPARAM(r.right + 1, r.top + 2));
        CHECK(GetCursor() == LoadCursorA(nullptr, IDC_ARROW));
    }
}

TEST_CASE("a press and release inside, Enter or Space follow the link, which is then drawn as visited")
{
    RegDeleteKeyA(HKEY_CURRENT_USER, kSettings);  // the link's own colours but for the visited one
    RegSetKeyValueA(HKEY_CURRENT_USER, kSettings, "Anchor Color Visited", REG_SZ, "0,128,128", 10);
    // A file type whose "open" runs this test program, which notes each call in |marker|.
    std::string marker = TempPath("opened.txt"), target = TempPath("target.kvlink");
    WriteTextFile(target, "link\n");
    RegSetValueA(HKEY_CLASSES_ROOT, ".kvlink", REG_SZ, "KorvaneTestLink", 15);
    std::string command = "\"" + ThisProgram() + "\" --record-open \"" + marker + "\" \"%1\"";
    RegSetValueA(HKEY_CLASSES_ROOT, "KorvaneTestLink\\shell\\open\\command", REG_SZ, command.c_str(), DWORD(command.size()));
    LinkFixture f(SS_LEFT, 300);
    CHECK(f.link.SetTarget(target.c_str()));
    RECT r = ToolsOf(f.child).at(0).rect;
    SetFocus(f.parent);
    const struct { UINT msg; WPARAM wParam; bool inside, captured, follows; } steps[] = {
        {WM_LBUTTONDOWN, MK_LBUTTON, false, false, false}, {WM_LBUTTONDOWN, MK_LBUTTON, true, true, false},
        {WM_LBUTTONUP, 0, false, false, false},  // released outside: nothing
        {WM_LBUTTONUP, 0, true, false, false},   // no press before: nothing
        {WM_CHAR, 'x', true, false, false},      {WM_LBUTTONDOWN, MK_LBUTTON, true, true, false},
        {WM_LBUTTONUP, 0, true, false, true},    {WM_CHAR, VK_RETURN, true, false, true}, {WM_CHAR, VK_SPACE, true, false, true},
    };
    bool followed = false;
    for (const auto& step : steps) {
        CHECK(PixelsOfColor(f.child, followed ? kVisited : kBlue) > 20);
        SendMessageA(f.child, step.msg, step.wParam, MAKELPARAM(step.inside ? r.left + 2 : r.right + 20, r.top + 2));
        CHECK((GetCapture() == f.child) == step.captured);
        if (step.captured) CHECK(GetFocus() == f.child);
        followed |= step.follows;
    }
    for (int i = 0; i < 100 && SplitLines(ReadTextFile(marker)).size() < 3; ++i) Sleep(50);
    Sleep(300);
    CHECK(SplitLines(ReadTextFile(marker)) == std::vector<std::string>(3, target));
    CHECK(PixelsOfColor(f.child, kBlue) == 0);
    EnableWindow(f.child, FALSE);
    CHECK(PixelsOfColor(f.child, GetSysColor(COLOR_GRAYTEXT)) > 20);
}

TEST_CASE("the About box: centred on its owner inside the work area, its link set, the focus on OK, closed with 1 or 2")
{
    // A work area that starts elsewhere than 0,0, and at another x than y: the clamps must tell them apart.
    RECT saved, box = {};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &saved, 0);
    RECT area = {saved.left + 37, saved.top + 61, saved.right - 23, saved.bottom - 41};
    REQUIRE(SystemParametersInfoA(SPI_SETWORKAREA, 0, &area, 0));
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    REQUIRE(area.left != area.top);
    HWND owner = CreateWindowA("STATIC", "", WS_POPUP | WS_VISIBLE, 300, 200, 400, 300, nullptr, nullptr, nullptr, nullptr);
    std::vector<Tool> tools;
    bool focusOnOk = false;
    auto close = [&](int how) {  // OK, Escape or the close box
        return [&, how](HWND about) {
            GetWindowRect(about, &box);
            tools = ToolsOf(GetDlgItem(about, IDC_LINK));
            focusOnOk = GetFocus() == GetDlgItem(about, IDOK);
            if (how == 0) SendMessageA(GetDlgItem(about, IDOK), BM_CLICK, 0, 0);
            else if (how == 1) PostMessageA(GetDlgItem(about, IDOK), WM_KEYDOWN, VK_ESCAPE, 0);
            else PostMessageA(about, WM_SYSCOMMAND, SC_CLOSE, 0);
        };
    };
    CHECK(RunAbout(nullptr, close(0)) == IDOK);
    CHECK(focusOnOk);
    CHECK(RunAbout(owner, close(1)) == IDCANCEL);
    CHECK(RunAbout(owner, close(2)) == IDCANCEL);
    int w = box.right - box.left, h = box.bottom - box.top;
    using Corner = std::pair<LONG, LONG>;
    CHECK(Corner(box.left, box.top) == Corner(500 - w / 2, 350 - h / 2));
    CHECK((tools.size() == 2 && tools[0].text == kLabel && tools[1].text == "https://www.korvane.example/"));
    SetWindowPos(owner, nullptr, area.left - 350, area.top - 250, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    RunAbout(owner, close(0));
    CHECK(Corner(box.left, box.top) == Corner(area.left, area.top));  // pushed back inside
    SetWindowPos(owner, nullptr, area.right - 50, area.bottom - 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    RunAbout(owner, close(0));
    CHECK(Corner(box.right, box.bottom) == Corner(area.right, area.bottom));
    for (int show : {SW_MINIMIZE, SW_HIDE}) {  // no owner to centre on: the work area
        ShowWindow(owner, show);
        RunAbout(owner, close(0));
        CHECK(Corner(box.left, box.top) == Corner((area.left + area.right) / 2 - w / 2, (area.top + area.bottom) / 2 - h / 2));
    }
    DestroyWindow(owner);
    SystemParametersInfoA(SPI_SETWORKAREA, 0, &saved, 0);
}
