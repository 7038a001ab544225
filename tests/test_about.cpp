// The hyperlink control and the About box: colours, cursor, link rectangle,
// mouse and keyboard, following the link, centring and closing.
#include <doctest/doctest.h>

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>
#include <vector>

#include "AboutDlg.h"
#include "AppContext.h"
#include "HyperLink.h"
#include "TestFiles.h"
#include "resource.h"

namespace {

const char kSettingsKey[] = "Software\\Microsoft\\Internet Explorer\\Settings";

// A parent window with one static child of the given style.
struct StaticFixture {
    explicit StaticFixture(DWORD style, const char* text = "www.korvane.example", int width = 200)
    {
        parent = CreateWindowA("STATIC", "parent", WS_POPUP | WS_VISIBLE, 100, 100, 400, 200, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
        child = CreateWindowA("STATIC", text, WS_CHILD | WS_VISIBLE | style, 10, 10, width, 20, parent, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    }
    ~StaticFixture() { DestroyWindow(parent); }
    HWND parent, child;
};

// The width of |text| as the link draws it.
int TextWidth(HWND window, HFONT font, const char* text)
{
    HDC dc = GetDC(window);
    HGDIOBJ old = SelectObject(dc, font);
    RECT r = {0, 0, 200, 20};
    DrawTextA(dc, text, -1, &r, DT_CALCRECT | DT_WORDBREAK);
    SelectObject(dc, old);
    ReleaseDC(window, dc);
    return r.right - r.left;
}

void SetRegistryValue(const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
}

void ClearRegistryColours()
{
    RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKey);
}

// A file type whose "open" runs this test program, which records the call.
std::string RegisterRecordingAssociation(const std::string& marker)
{
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_CLASSES_ROOT, ".kvlink", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>("KorvaneTestLink"), 16);
    RegCloseKey(key);
    std::string command = "\"" + ThisProgram() + "\" --record-open \"" + marker + "\" \"%1\"";
    RegCreateKeyExA(HKEY_CLASSES_ROOT, "KorvaneTestLink\\shell\\open\\command", 0, nullptr, 0,
                    KEY_ALL_ACCESS, nullptr, &key, nullptr);
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()), static_cast<DWORD>(command.size() + 1));
    RegCloseKey(key);
    std::string target = TempPath("target.kvlink");
    WriteTextFile(target, "link\n");
    return target;
}

bool WaitForFile(const std::string& path)
{
    for (int i = 0; i < 200; ++i) {
        if (!ReadTextFile(path).empty()) return true;
        Sleep(50);
    }
    return false;
}

// Counts pixels of |color| in the control as it paints itself.
int PixelsOfColor(HWND window, COLORREF color)
{
    RECT client;
    GetClientRect(window, &client);
    HDC screen = GetDC(window);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = client.right;
    info.bmiHeader.biHeight = -client.bottom;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    SendMessageA(window, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT);
    GdiFlush();
    int count = 0;
    const DWORD* pixels = static_cast<const DWORD*>(bits);
    DWORD wanted = (GetRValue(color) << 16) | (GetGValue(color) << 8) | GetBValue(color);
    for (int i = 0; i < client.right * client.bottom; ++i)
        if ((pixels[i] & 0xFFFFFF) == wanted) ++count;
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, screen);
    return count;
}

// Runs the About box modally; |during| runs inside its modal loop.
std::function<void(HWND)> g_during;
AboutDlg* g_about = nullptr;

void CALLBACK DuringModal(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(nullptr, id);
    if (g_about && g_about->m_hWnd) g_during(g_about->m_hWnd);
}

INT_PTR RunAbout(HWND owner, std::function<void(HWND)> during)
{
    AboutDlg about;
    g_about = &about;
    g_during = std::move(during);
    SetTimer(nullptr, 0, 50, DuringModal);
    INT_PTR result = about.DoModal(owner, IDD_ABOUTBOX);
    g_about = nullptr;
    return result;
}

// What the link's tooltip holds: one tool per target, over the link's rectangle.
struct Tool {
    RECT rect;
    std::string text;
};
std::vector<Tool> ToolsOf(HWND control)
{
    // A tooltip is a pop-up: its owner is the control's top-level window.
    std::vector<Tool> tools;
    HWND root = GetAncestor(control, GA_ROOT);
    for (HWND tip = FindWindowExA(nullptr, nullptr, TOOLTIPS_CLASSA, nullptr); tip;
         tip = FindWindowExA(nullptr, tip, TOOLTIPS_CLASSA, nullptr)) {
        if (GetWindow(tip, GW_OWNER) != root) continue;
        int count = static_cast<int>(SendMessageA(tip, TTM_GETTOOLCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            char text[512] = "";
            TOOLINFOA info = {};
            info.cbSize = TTTOOLINFOA_V2_SIZE;
            info.lpszText = text;
            SendMessageA(tip, TTM_ENUMTOOLSA, i, reinterpret_cast<LPARAM>(&info));
            if (info.hwnd == control) tools.push_back({info.rect, text});
        }
    }
    return tools;
}

// A left click at |point| (press and release) in client coordinates.
void Click(HWND window, POINT down, POINT up)
{
    SendMessageA(window, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(down.x, down.y));
    SendMessageA(window, WM_LBUTTONUP, 0, MAKELPARAM(up.x, up.y));
}

// The cursor that the control sets while the mouse moves at |point|.
HCURSOR CursorAt(HWND window, POINT point)
{
    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    SendMessageA(window, WM_MOUSEMOVE, 0, MAKELPARAM(point.x, point.y));
    return GetCursor();
}

} // namespace

TEST_CASE("ParseColorValue: registry texts and the colour they give")
{
    const struct {
        const char* text;
        bool valid;
        COLORREF color;
    } cases[] = {
        {"0,0,255", true, 0x00FF0000},    {"128,0,128", true, 0x00800080}, {"0, 128 ,0", true, 0x00008000},
        {"300,0,0", true, 0x0000002C},    {"a,b,c", true, 0x00000000},     {"255,255,255", true, 0x00FFFFFF},
        {"255,0", false, 0},              {"1,2,", false, 0},              {"-1,0,0", false, 0},
        {"0,-1,0", false, 0},             {"", false, 0},
    };
    for (const auto& c : cases) {
        CAPTURE(c.text);
        char buffer[64];
        strcpy(buffer, c.text);
        COLORREF color = 0x12345678;
        CHECK(HyperLink::ParseColorValue(buffer, &color) == c.valid);
        CHECK(color == (c.valid ? c.color : 0x12345678));
    }
}

TEST_CASE("the link is painted in the registry's colour; values that do not fit or have no terminator are ignored")
{
    const struct {
        const char* what;
        DWORD type;
        const char* value;
        DWORD size;
        COLORREF painted;
    } cases[] = {
        {"no value", REG_SZ, nullptr, 0, 0x00FF0000},
        {"a colour", REG_SZ, "0,128,0", 8, 0x00008000},
        {"stored without its terminator", REG_SZ, "1,1,1", 5, 0x00010101},
        {"twelve bytes, no terminator: does not fit", REG_BINARY, "255,255,2551", 12, 0x00FF0000},
        {"too long", REG_BINARY, "1,2,3,4,5,6,7", 13, 0x00FF0000},
    };
    for (const auto& c : cases) {
        CAPTURE(c.what);
        ClearRegistryColours();
        if (c.value) SetRegistryValue("Anchor Color", c.type, c.value, c.size);
        StaticFixture f(SS_LEFT);
        HyperLink link;
        REQUIRE(link.Attach(f.child));
        CHECK(PixelsOfColor(f.child, c.painted) > 20);
    }
    ClearRegistryColours();
}

TEST_CASE("the hand cursor: the stated picture, hot spot at the finger tip, shown over the link text only")
{
    const char* const rows[22] = {
        "-----BB----------", "----BWWB---------", "----BWWB---------", "----BWWB---------",
        "----BWWB---------", "----BWWBBB-------", "----BWWBWWBBB----", "----BWWBWWBWWBB--",
        "----BWWBWWBWWBWB-", "BBB-BWWBWWBWWBWWB", "BWWBBWWWWWWWWBWWB", "BWWWBWWWWWWWWWWWB",
        "-BWWBWWWWWWWWWWWB", "--BWBWWWWWWWWWWWB", "--BWWWWWWWWWWWWWB", "---BWWWWWWWWWWWWB",
        "---BWWWWWWWWWWWB-", "----BWWWWWWWWWWB-", "----BWWWWWWWWWWB-", "-----BWWWWWWWWB--",
        "-----BWWWWWWWWB--", "-----BBBBBBBBBB--",
    };
    StaticFixture f(SS_LEFT, "www.korvane.example", 300);
    HyperLink link;
    REQUIRE(link.Attach(f.child));
    RECT r = ToolsOf(f.child).at(0).rect;
    HCURSOR hand = CursorAt(f.child, {r.left + 2, r.top + 2});
    CHECK(CursorAt(f.child, {r.right + 20, r.top + 2}) != hand);
    ICONINFO info = {};
    REQUIRE(GetIconInfo(hand, &info));
    CHECK(info.xHotspot == 5);
    CHECK(info.yHotspot == 0);
    // A monochrome cursor's mask bitmap holds the AND mask above the XOR mask.
    BYTE bits[256] = {};
    CHECK(GetBitmapBits(info.hbmMask, sizeof(bits), bits) == sizeof(bits));
    for (int y = 0; y < 32; ++y) {
        std::string decoded;
        for (int x = 0; x < 32; ++x) {
            bool a = (bits[y * 4 + x / 8] >> (7 - x % 8)) & 1;
            bool b = (bits[128 + y * 4 + x / 8] >> (7 - x % 8)) & 1;
            decoded += a ? (b ? '?' : '-') : (b ? 'W' : 'B');
        }
        CAPTURE(y);
        CHECK(decoded == (y < 22 ? std::string(rows[y]) : std::string(17, '-')) + std::string(15, '-'));
    }
    DeleteObject(info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);
}

TEST_CASE("the link rectangle hugs the text: left, centred, right; an icon static is all link")
{
    const struct {
        DWORD style;
        const char* name;
    } cases[] = {{SS_LEFT, "left"}, {SS_CENTER, "centred"}, {SS_RIGHT, "right"}};
    LOGFONTA underlined = {};
    GetObjectA(GetStockObject(SYSTEM_FONT), sizeof(underlined), &underlined);
    underlined.lfUnderline = 1;
    HFONT font = CreateFontIndirectA(&underlined);
    for (const auto& c : cases) {
        CAPTURE(c.name);
        StaticFixture f(c.style);
        HyperLink link;
        REQUIRE(link.Attach(f.child));
        CHECK((GetWindowLongA(f.child, GWL_STYLE) & SS_NOTIFY) != 0);
        int width = TextWidth(f.child, font, "www.korvane.example");
        RECT r = ToolsOf(f.child).at(0).rect;
        CHECK(r.right - r.left == width);
        CHECK(r.left == (c.style == SS_LEFT ? 0 : c.style == SS_CENTER ? (200 - width) / 2 : 200 - width));
        CHECK(r.top == 0);
    }
    DeleteObject(font);
    StaticFixture icon(SS_ICON);
    HyperLink link;
    REQUIRE(link.Attach(icon.child));
    RECT client;
    GetClientRect(icon.child, &client);
    RECT r = ToolsOf(icon.child).at(0).rect;
    CHECK(EqualRect(&r, &client));
}

TEST_CASE("a label without a target becomes the target; each target adds a tooltip tool")
{
    StaticFixture f(SS_CENTER);
    HyperLink link;
    REQUIRE(link.Attach(f.child));
    auto tools = ToolsOf(f.child);
    REQUIRE(tools.size() == 1);
    CHECK(tools[0].text == "www.korvane.example");
    CHECK(link.SetTarget("https://www.korvane.example/"));
    tools = ToolsOf(f.child);
    REQUIRE(tools.size() == 2);
    CHECK(tools[1].text == "https://www.korvane.example/");
    CHECK(SendMessageA(f.child, WM_GETDLGCODE, 0, 0) == DLGC_WANTCHARS);
    HFONT stock = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    SendMessageA(f.child, WM_SETFONT, reinterpret_cast<WPARAM>(stock), 0);
    CHECK(reinterpret_cast<HFONT>(SendMessageA(f.child, WM_GETFONT, 0, 0)) == stock);
}

TEST_CASE("mouse and keyboard: only a press and release inside, Enter or Space follow the link")
{
    ClearRegistryColours();
    SetRegistryValue("Anchor Color Visited", REG_SZ, "0,128,128", 10);
    const COLORREF linkColor = 0x00FF0000, visitedColor = 0x00808000;
    std::string marker = TempPath("opened.txt");
    std::string target = RegisterRecordingAssociation(marker);
    StaticFixture f(SS_LEFT, "www.korvane.example", 300);
    HyperLink link;
    REQUIRE(link.Attach(f.child));
    link.SetTarget(target.c_str());
    RECT r = ToolsOf(f.child).at(0).rect;
    POINT inside = {r.left + 2, r.top + 2}, outside = {r.right + 20, r.top + 2};
    SetFocus(f.parent);

    SendMessageA(f.child, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(outside.x, outside.y));
    CHECK(GetFocus() != f.child);
    CHECK(GetCapture() != f.child);
    SendMessageA(f.child, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(inside.x, inside.y));
    CHECK(GetFocus() == f.child);
    CHECK(GetCapture() == f.child);
    SendMessageA(f.child, WM_LBUTTONUP, 0, MAKELPARAM(outside.x, outside.y));  // released outside
    CHECK(GetCapture() != f.child);
    SendMessageA(f.child, WM_LBUTTONUP, 0, MAKELPARAM(inside.x, inside.y));  // no capture: nothing
    CHECK(SendMessageA(f.child, WM_CHAR, 'x', 0) == 0);
    Sleep(300);
    CHECK(ReadTextFile(marker).empty());
    CHECK(PixelsOfColor(f.child, linkColor) > 20);

    Click(f.child, inside, inside);
    REQUIRE(WaitForFile(marker));
    CHECK(Contains(ReadTextFile(marker), "target.kvlink"));
    // Drawn in the visited colour from now on; grey while disabled.
    CHECK(PixelsOfColor(f.child, visitedColor) > 20);
    CHECK(PixelsOfColor(f.child, linkColor) == 0);
    EnableWindow(f.child, FALSE);
    CHECK(PixelsOfColor(f.child, GetSysColor(COLOR_GRAYTEXT)) > 20);
    EnableWindow(f.child, TRUE);

    for (WPARAM key : {WPARAM(VK_RETURN), WPARAM(VK_SPACE)}) {
        DeleteFileA(marker.c_str());
        CHECK(SendMessageA(f.child, WM_CHAR, key, 0) == 0);
        CHECK(WaitForFile(marker));
    }
    ClearRegistryColours();
}

TEST_CASE("the About box: centred over its owner, kept inside the work area, closed with 1 or 2")
{
    RECT area;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    HWND owner = CreateWindowA("STATIC", "owner", WS_POPUP | WS_VISIBLE, 300, 200, 400, 300, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    RECT box = {};
    auto closeWith = [&](const char* how) {
        return [&, how](HWND window) {
            GetWindowRect(window, &box);
            std::string h = how;
            if (h == "OK") SendMessageA(GetDlgItem(window, IDOK), BM_CLICK, 0, 0);
            else if (h == "Escape") PostMessageA(GetDlgItem(window, IDOK), WM_KEYDOWN, VK_ESCAPE, 0);
            else PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        };
    };
    CHECK(RunAbout(owner, closeWith("OK")) == IDOK);
    int w = box.right - box.left, h = box.bottom - box.top;
    CHECK(box.left == (300 + 700) / 2 - w / 2);
    CHECK(box.top == (200 + 500) / 2 - h / 2);
    CHECK(RunAbout(owner, closeWith("Escape")) == IDCANCEL);
    CHECK(RunAbout(owner, closeWith("close")) == IDCANCEL);

    // At the left and top edge: pushed in against them.
    SetWindowPos(owner, nullptr, area.left - 350, area.top - 250, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    RunAbout(owner, closeWith("OK"));
    CHECK(box.left == area.left);
    CHECK(box.top == area.top);
    // At the right and bottom edge.
    SetWindowPos(owner, nullptr, area.right - 50, area.bottom - 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    RunAbout(owner, closeWith("OK"));
    CHECK(box.right == area.right);
    CHECK(box.bottom == area.bottom);
    // A minimised or hidden owner: centred on the work area.
    for (int show : {SW_MINIMIZE, SW_HIDE}) {
        CAPTURE(show);
        ShowWindow(owner, show);
        RunAbout(owner, closeWith("OK"));
        CHECK(box.left == (area.left + area.right) / 2 - w / 2);
        CHECK(box.top == (area.top + area.bottom) / 2 - h / 2);
    }
    DestroyWindow(owner);
}

TEST_CASE("the About box's link: label from the template, target from string 250, the focus on OK")
{
    std::string label;
    std::vector<Tool> tools;
    RunAbout(nullptr, [&](HWND window) {
        HWND control = GetDlgItem(window, IDC_LINK);
        char text[256] = "";
        GetWindowTextA(control, text, sizeof(text));
        label = text;
        tools = ToolsOf(control);
        CHECK(GetFocus() == GetDlgItem(window, IDOK));
        EndDialog(window, IDOK);
    });
    CHECK(label == "www.korvane.example");
    REQUIRE(tools.size() == 2);
    CHECK(tools[0].text == "www.korvane.example");
    CHECK(tools[1].text == "https://www.korvane.example/");
}

TEST_CASE("the About box's icon keeps its template size: 21 x 20 in English, 20 x 20 in German")
{
    for (WORD language : {WORD(1033), WORD(1031)}) {
        CAPTURE(language);
        HRSRC found = FindResourceExA(nullptr, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(IDD_ABOUTBOX), language);
        REQUIRE(found);
        const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found)));
        // DLGTEMPLATEEX: a fixed header, then menu, class, title and font (each a
        // 0xFFFF ordinal or a UTF-16 string), then the items, each DWORD-aligned.
        auto skipText = [](const BYTE* p) {
            if (*reinterpret_cast<const WORD*>(p) == 0xFFFF) return p + 4;
            while (*reinterpret_cast<const WORD*>(p)) p += 2;
            return p + 2;
        };
        auto align = [data](const BYTE* p) { return data + ((p - data + 3) & ~3); };
        WORD items = *reinterpret_cast<const WORD*>(data + 16);
        const BYTE* p = data + 26;
        for (int i = 0; i < 3; ++i) p = skipText(p);
        p = skipText(p + 6);
        SIZE icon = {0, 0};
        for (WORD i = 0; i < items; ++i) {
            p = align(p);
            DWORD style = *reinterpret_cast<const DWORD*>(p + 8);
            short cx = *reinterpret_cast<const short*>(p + 16), cy = *reinterpret_cast<const short*>(p + 18);
            if ((style & 0xFF) == SS_ICON) icon = {cx, cy};
            p = skipText(skipText(p + 24));
            p += 2 + *reinterpret_cast<const WORD*>(p);
        }
        CHECK(icon.cx == (language == 1033 ? 21 : 20));
        CHECK(icon.cy == 20);
    }
}
