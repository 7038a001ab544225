// The hyperlink control and the About box: colours, cursor, link rectangle,
// mouse and keyboard, following the link, centring and closing.
#include <doctest/doctest.h>

#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <string>

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
std::function<void(HWND, AboutDlg&)> g_during;
AboutDlg* g_about = nullptr;

void CALLBACK DuringModal(HWND, UINT, UINT_PTR id, DWORD)
{
    KillTimer(nullptr, id);
    if (g_about && g_about->m_hWnd) g_during(g_about->m_hWnd, *g_about);
}

INT_PTR RunAbout(HWND owner, std::function<void(HWND, AboutDlg&)> during)
{
    AboutDlg about;
    g_about = &about;
    g_during = std::move(during);
    SetTimer(nullptr, 0, 50, DuringModal);
    INT_PTR result = about.DoModal(owner, IDD_ABOUTBOX);
    g_about = nullptr;
    return result;
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

TEST_CASE("link colours come from the registry; values that do not fit or have no terminator are ignored")
{
    auto coloursWith = [](std::function<void()> setUp) {
        ClearRegistryColours();
        setUp();
        StaticFixture f(SS_LEFT);
        HyperLink link;
        REQUIRE(link.Attach(f.child));
        std::pair<COLORREF, COLORREF> colours = {link.LinkColor(), link.VisitedColor()};
        DestroyWindow(f.child);
        return colours;
    };
    CHECK(coloursWith([] {}) == std::make_pair(COLORREF(0x00FF0000), COLORREF(0x00800080)));
    CHECK(coloursWith([] {
              SetRegistryValue("Anchor Color", REG_SZ, "0,128,0", 8);
              SetRegistryValue("Anchor Color Visited", REG_SZ, "255,255,255", 12);
          }) == std::make_pair(COLORREF(0x00008000), COLORREF(0x00FFFFFF)));
    // Twelve bytes without a terminator: more than fits the buffer, so the defaults stay.
    CHECK(coloursWith([] {
              SetRegistryValue("Anchor Color", REG_BINARY, "255,255,2551", 12);
              SetRegistryValue("Anchor Color Visited", REG_SZ, "1,1,1", 5);  // stored without its terminator
          }) == std::make_pair(COLORREF(0x00FF0000), COLORREF(0x00010101)));
    CHECK(coloursWith([] {
              SetRegistryValue("Anchor Color", REG_SZ, "0,0,10", 7);
              SetRegistryValue("Anchor Color Visited", REG_BINARY, "1,2,3,4,5,6,7", 13);  // too long
          }) == std::make_pair(COLORREF(0x000A0000), COLORREF(0x00800080)));
    ClearRegistryColours();
}

TEST_CASE("the hand cursor's masks draw exactly the stated picture")
{
    const char* const rows[22] = {
        "-----BB----------", "----BWWB---------", "----BWWB---------", "----BWWB---------",
        "----BWWB---------", "----BWWBBB-------", "----BWWBWWBBB----", "----BWWBWWBWWBB--",
        "----BWWBWWBWWBWB-", "BBB-BWWBWWBWWBWWB", "BWWBBWWWWWWWWBWWB", "BWWWBWWWWWWWWWWWB",
        "-BWWBWWWWWWWWWWWB", "--BWBWWWWWWWWWWWB", "--BWWWWWWWWWWWWWB", "---BWWWWWWWWWWWWB",
        "---BWWWWWWWWWWWB-", "----BWWWWWWWWWWB-", "----BWWWWWWWWWWB-", "-----BWWWWWWWWB--",
        "-----BWWWWWWWWB--", "-----BBBBBBBBBB--",
    };
    BYTE andMask[128], xorMask[128];
    HyperLink::GetCursorMasks(andMask, xorMask);
    for (int y = 0; y < 32; ++y) {
        std::string decoded;
        for (int x = 0; x < 32; ++x) {
            bool a = (andMask[y * 4 + x / 8] >> (7 - x % 8)) & 1;
            bool b = (xorMask[y * 4 + x / 8] >> (7 - x % 8)) & 1;
            decoded += a ? (b ? '?' : '-') : (b ? 'W' : 'B');
        }
        std::string expected = (y < 22 ? std::string(rows[y]) : std::string(17, '-')) + std::string(15, '-');
        CAPTURE(y);
        CHECK(decoded == expected);
    }
    StaticFixture f(SS_LEFT);
    HyperLink link;
    REQUIRE(link.Attach(f.child));
    ICONINFO info = {};
    REQUIRE(GetIconInfo(link.LinkCursor(), &info));
    CHECK(info.xHotspot == 5);
    CHECK(info.yHotspot == 0);
    DeleteObject(info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);
}

TEST_CASE("the link rectangle hugs the text: left, centred, right; an icon static is all link")
{
    const struct {
        DWORD style;
        const char* name;
    } cases[] = {{SS_LEFT, "left"}, {SS_CENTER, "centred"}, {SS_RIGHT, "right"}};
    for (const auto& c : cases) {
        CAPTURE(c.name);
        StaticFixture f(c.style);
        HyperLink link;
        REQUIRE(link.Attach(f.child));
        CHECK(link.PaintsLabel());
        CHECK((GetWindowLongA(f.child, GWL_STYLE) & SS_NOTIFY) != 0);
        int width = TextWidth(f.child, link.LinkFont(), "www.korvane.example");
        RECT r = link.LinkRect();
        CHECK(r.right - r.left == width);
        int expectedLeft = c.style == SS_LEFT ? 0 : c.style == SS_CENTER ? (200 - width) / 2 : 200 - width;
        CHECK(r.left == expectedLeft);
        CHECK(r.top == 0);
        LOGFONTA font = {};
        GetObjectA(link.LinkFont(), sizeof(font), &font);
        CHECK(font.lfUnderline == 1);
    }
    StaticFixture icon(SS_ICON);
    HyperLink link;
    REQUIRE(link.Attach(icon.child));
    CHECK_FALSE(link.PaintsLabel());
    RECT client;
    GetClientRect(icon.child, &client);
    CHECK(EqualRect(&link.LinkRect(), &client));
    CHECK(link.LinkFont() == nullptr);
}

TEST_CASE("a label without a target becomes the target; the tooltip gets a tool for each target")
{
    StaticFixture f(SS_CENTER);
    HyperLink link;
    REQUIRE(link.Attach(f.child));
    CHECK(std::string(link.Label()) == "www.korvane.example");
    CHECK(std::string(link.Target()) == "www.korvane.example");
    REQUIRE(link.ToolTip());
    CHECK(SendMessageA(link.ToolTip(), TTM_GETTOOLCOUNT, 0, 0) == 1);
    CHECK(link.SetTarget("https://www.korvane.example/"));
    CHECK(SendMessageA(link.ToolTip(), TTM_GETTOOLCOUNT, 0, 0) == 2);
    CHECK(SendMessageA(f.child, WM_GETDLGCODE, 0, 0) == DLGC_WANTCHARS);
    HFONT stock = static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
    SendMessageA(f.child, WM_SETFONT, reinterpret_cast<WPARAM>(stock), 0);
    CHECK(reinterpret_cast<HFONT>(SendMessageA(f.child, WM_GETFONT, 0, 0)) == stock);
}

TEST_CASE("mouse and keyboard: only a press and release inside, Enter or Space follow the link")
{
    std::string marker = TempPath("opened.txt");
    std::string target = RegisterRecordingAssociation(marker);
    StaticFixture f(SS_LEFT, "www.korvane.example", 300);
    HyperLink link;
    REQUIRE(link.Attach(f.child));
    link.SetTarget(target.c_str());
    RECT r = link.LinkRect();
    LPARAM inside = MAKELPARAM(r.left + 2, r.top + 2);
    LPARAM outside = MAKELPARAM(r.right + 20, r.top + 2);
    SetFocus(f.parent);

    SendMessageA(f.child, WM_LBUTTONDOWN, MK_LBUTTON, outside);
    CHECK(GetFocus() != f.child);
    CHECK(GetCapture() != f.child);

    SendMessageA(f.child, WM_LBUTTONDOWN, MK_LBUTTON, inside);
    CHECK(GetFocus() == f.child);
    CHECK(GetCapture() == f.child);
    SendMessageA(f.child, WM_LBUTTONUP, 0, outside);
    CHECK(GetCapture() != f.child);
    CHECK_FALSE(link.Visited());

    SendMessageA(f.child, WM_LBUTTONUP, 0, inside);  // no capture: nothing
    CHECK_FALSE(link.Visited());
    CHECK(SendMessageA(f.child, WM_CHAR, 'x', 0) == 0);
    CHECK_FALSE(link.Visited());
    Sleep(300);
    CHECK(ReadTextFile(marker).empty());

    CHECK(PixelsOfColor(f.child, link.LinkColor()) > 20);
    SendMessageA(f.child, WM_LBUTTONDOWN, MK_LBUTTON, inside);
    SendMessageA(f.child, WM_LBUTTONUP, 0, inside);
    CHECK(link.Visited());
    REQUIRE(WaitForFile(marker));
    CHECK(Contains(ReadTextFile(marker), "target.kvlink"));
    // Drawn in the visited colour from now on.
    CHECK(PixelsOfColor(f.child, link.VisitedColor()) > 20);
    CHECK(PixelsOfColor(f.child, link.LinkColor()) == 0);
    EnableWindow(f.child, FALSE);
    CHECK(PixelsOfColor(f.child, GetSysColor(COLOR_GRAYTEXT)) > 20);
    EnableWindow(f.child, TRUE);

    for (WPARAM key : {WPARAM(VK_RETURN), WPARAM(VK_SPACE)}) {
        DeleteFileA(marker.c_str());
        CHECK(SendMessageA(f.child, WM_CHAR, key, 0) == 0);
        CHECK(WaitForFile(marker));
    }
}

TEST_CASE("the About box: centred over its owner, kept inside the work area, closed with 1 or 2")
{
    RECT area;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    HWND owner = CreateWindowA("STATIC", "owner", WS_POPUP | WS_VISIBLE, 300, 200, 400, 300, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
    RECT box = {};
    auto closeWith = [&](const char* how) {
        return [&, how](HWND window, AboutDlg& about) {
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

TEST_CASE("the About box's link: label from the template, target from string 250, two tools, a new box unvisited")
{
    std::string label, target;
    LRESULT tools = 0;
    bool visitedAtStart = true;
    RunAbout(nullptr, [&](HWND window, AboutDlg& about) {
        label = about.link.Label() ? about.link.Label() : "";
        target = about.link.Target() ? about.link.Target() : "";
        tools = SendMessageA(about.link.ToolTip(), TTM_GETTOOLCOUNT, 0, 0);
        visitedAtStart = about.link.Visited();
        CHECK(GetFocus() == GetDlgItem(window, IDOK));
        EndDialog(window, IDOK);
    });
    CHECK(label == "www.korvane.example");
    CHECK(Contains(target, "https://www.korvane.example/"));
    CHECK(tools == 2);
    CHECK_FALSE(visitedAtStart);
}
