#include "HyperLink.h"

#include <commctrl.h>
#include <shellapi.h>
#include <stdlib.h>
#include <string.h>

#include "AppContext.h"

namespace {

// The hand, pointing up: B black, W white, - transparent; columns 17 to 31
// and rows 22 to 31 are transparent. Hot spot (5, 0), the finger tip.
const char* const kHandRows[22] = {
    "-----BB----------", "----BWWB---------", "----BWWB---------", "----BWWB---------",
    "----BWWB---------", "----BWWBBB-------", "----BWWBWWBBB----", "----BWWBWWBWWBB--",
    "----BWWBWWBWWBWB-", "BBB-BWWBWWBWWBWWB", "BWWBBWWWWWWWWBWWB", "BWWWBWWWWWWWWWWWB",
    "-BWWBWWWWWWWWWWWB", "--BWBWWWWWWWWWWWB", "--BWWWWWWWWWWWWWB", "---BWWWWWWWWWWWWB",
    "---BWWWWWWWWWWWB-", "----BWWWWWWWWWWB-", "----BWWWWWWWWWWB-", "-----BWWWWWWWWB--",
    "-----BWWWWWWWWB--", "-----BBBBBBBBBB--",
};

char* CopyText(const char* text)
{
    size_t size = strlen(text) + 1;
    char* copy = static_cast<char*>(malloc(size));
    if (copy) memcpy(copy, text, size);
    return copy;
}

bool IsImageOrFrameStyle(LONG style)
{
    switch (style & 0xFF) {
    case SS_ICON: case SS_BLACKRECT: case SS_GRAYRECT: case SS_WHITERECT: case SS_BLACKFRAME:
    case SS_GRAYFRAME: case SS_WHITEFRAME: case SS_OWNERDRAW: case SS_BITMAP: case SS_ENHMETAFILE:
        return true;
    default:
        return false;
    }
}

} // namespace

HyperLink::~HyperLink()
{
    if (m_ownsLinkFont && m_linkFont) DeleteObject(m_linkFont);
    if (m_linkCursor) DestroyCursor(m_linkCursor);
}

void HyperLink::GetCursorMasks(BYTE andMask[128], BYTE xorMask[128])
{
    memset(andMask, 0xFF, 128);
    memset(xorMask, 0x00, 128);
    for (int row = 0; row < 22; ++row) {
        for (int col = 0; col < 17; ++col) {
            char pixel = kHandRows[row][col];
            if (pixel == '-') continue;
            BYTE bit = static_cast<BYTE>(0x80 >> (col % 8));
            andMask[row * 4 + col / 8] &= static_cast<BYTE>(~bit);
            if (pixel == 'W') xorMask[row * 4 + col / 8] |= bit;
        }
    }
}

bool HyperLink::Attach(HWND window)
{
    if (!SubclassWindow(window)) return false;
    Initialize();
    return true;
}

void HyperLink::Initialize()
{
    char className[8] = "";
    GetClassNameA(m_hWnd, className, sizeof(className));
    if (lstrcmpiA(className, "static") == 0) {
        LONG style = GetWindowLongA(m_hWnd, GWL_STYLE);
        if (!(style & SS_NOTIFY)) SetWindowLongA(m_hWnd, GWL_STYLE, style | SS_NOTIFY);
        if (IsImageOrFrameStyle(GetWindowLongA(m_hWnd, GWL_STYLE))) m_paintLabel = false;
    }

    BYTE andMask[128], xorMask[128];
    GetCursorMasks(andMask, xorMask);
    m_linkCursor = CreateCursor(g_app.Instance(), 5, 0, 32, 32, andMask, xorMask);

    if (m_paintLabel) {
        m_normalFont = reinterpret_cast<HFONT>(SendMessageA(GetParent(m_hWnd), WM_GETFONT, 0, 0));
        if (!m_normalFont) m_normalFont = static_cast<HFONT>(GetStockObject(SYSTEM_FONT));
        if (m_normalFont && !m_linkFont) {
            LOGFONTA font = {};
            GetObjectA(m_normalFont, sizeof(font), &font);
            font.lfUnderline = 1;
            m_linkFont = CreateFontIndirectA(&font);
            m_ownsLinkFont = true;
        }
    }

    m_toolTip = CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, 0, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd, nullptr, g_app.Instance(), nullptr);

    if (!m_label) {
        int length = GetWindowTextLengthA(m_hWnd);
        if (length >= 1) {
            HeapBlock<char> text(static_cast<char*>(malloc(length + 1)));
            if (text && GetWindowTextA(m_hWnd, text.Get(), length + 1) > 0) SetLabelText(text.Get());
        }
    }
    ComputeLinkRect();
    if (!m_target) {
        if (m_label) SetTarget(m_label.Get());
    } else {
        AddToolTipTool();
    }
    if (m_paintLabel) ReadRegistryColors();
}

void HyperLink::ReadRegistryColors()
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "Software\\Microsoft\\Internet Explorer\\Settings", 0,
                      KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return;
    const struct { const char* name; COLORREF* color; } values[] = {
        {"Anchor Color", &m_linkColor}, {"Anchor Color Visited", &m_visitedColor}};
    for (const auto& value : values) {
        // Only the bytes the query returned are parsed. A value that fills the
        // 12-byte buffer without a terminator does not fit and is ignored.
        char buffer[12] = {};
        DWORD size = sizeof(buffer);
        if (RegQueryValueExA(key, value.name, nullptr, nullptr, reinterpret_cast<LPBYTE>(buffer), &size) != ERROR_SUCCESS)
            continue;
        if (size > sizeof(buffer)) continue;
        if (!memchr(buffer, '\0', size)) {
            if (size == sizeof(buffer)) continue;
            buffer[size] = '\0';
        }
        ParseColorValue(buffer, value.color);
    }
    RegCloseKey(key);
}

bool HyperLink::ParseColorValue(char* text, COLORREF* color)
{
    int components[3] = {-1, -1, -1};
    char* p = text;
    for (int i = 0; i < 2; ++i) {
        char* q = p;
        while (*q && *q != ',') q = CharNextA(q);
        if (*q != ',') return false;
        *q = '\0';
        components[i] = atoi(p);
        p = q + 1;
        if (components[i] == -1) return false;
    }
    if (!*p) return false;
    components[2] = atoi(p);
    *color = RGB(components[0] & 0xFF, components[1] & 0xFF, components[2] & 0xFF);
    return true;
}

bool HyperLink::SetLabelText(const char* text)
{
    m_label.Reset(CopyText(text));
    if (!m_label) return false;
    ComputeLinkRect();
    if (m_hWnd) SetWindowTextA(m_hWnd, text);
    return true;
}

bool HyperLink::SetTarget(const char* text)
{
    m_target.Reset(CopyText(text));
    if (!m_target) return false;
    if (!m_label) ComputeLinkRect();
    AddToolTipTool();
    return true;
}

void HyperLink::AddToolTipTool()
{
    if (!IsWindow(m_toolTip)) return;
    SendMessageA(m_toolTip, TTM_ACTIVATE, 1, 0);
    TOOLINFOA tool = {};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.uFlags = 0;
    tool.hwnd = m_hWnd;
    tool.uId = 1;
    tool.rect = m_linkRect;
    tool.hinst = g_app.Instance();
    tool.lpszText = m_target.Get();
    SendMessageA(m_toolTip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

UINT HyperLink::TextAlignment() const
{
    LONG style = GetWindowLongA(m_hWnd, GWL_STYLE);
    if (style & SS_CENTER) return DT_CENTER;
    if (style & SS_RIGHT) return DT_RIGHT;
    return DT_LEFT;
}

bool HyperLink::ComputeLinkRect()
{
    if (!m_hWnd || (!m_label && !m_target)) return false;
    HDC dc = GetDC(m_hWnd);
    RECT client;
    GetClientRect(m_hWnd, &client);
    m_linkRect = client;
    if (m_paintLabel) {
        HGDIOBJ oldFont = m_linkFont ? SelectObject(dc, m_linkFont) : nullptr;
        const char* text = m_label ? m_label.Get() : m_target.Get();
        UINT alignment = TextAlignment();
        DrawTextA(dc, text, -1, &m_linkRect, alignment | DT_CALCRECT | DT_WORDBREAK);
        if (oldFont) SelectObject(dc, oldFont);
        if (alignment == DT_CENTER) OffsetRect(&m_linkRect, (client.right - m_linkRect.right) / 2, 0);
        else if (alignment == DT_RIGHT) OffsetRect(&m_linkRect, client.right - m_linkRect.right, 0);
    }
    ReleaseDC(m_hWnd, dc);
    return true;
}

COLORREF HyperLink::CurrentTextColor() const
{
    if (!IsWindowEnabled(m_hWnd)) return GetSysColor(COLOR_GRAYTEXT);
    return m_visited ? m_visitedColor : m_linkColor;
}

void HyperLink::PaintLink(HDC dc)
{
    SetBkMode(dc, TRANSPARENT);
    COLORREF oldColor = SetTextColor(dc, CurrentTextColor());
    HGDIOBJ oldFont = SelectObject(dc, m_linkFont ? m_linkFont : m_normalFont);
    const char* text = m_label ? m_label.Get() : (m_target ? m_target.Get() : "");
    RECT rect = m_linkRect;
    DrawTextA(dc, text, -1, &rect, TextAlignment() | DT_WORDBREAK);
    if (GetFocus() == m_hWnd) DrawFocusRect(dc, &m_linkRect);
    SetTextColor(dc, oldColor);
    SelectObject(dc, oldFont);
}

void HyperLink::EraseBackground(HDC dc)
{
    HBRUSH brush = reinterpret_cast<HBRUSH>(SendMessageA(GetParent(m_hWnd), WM_CTLCOLORSTATIC,
                                                         reinterpret_cast<WPARAM>(dc),
                                                         reinterpret_cast<LPARAM>(m_hWnd)));
    if (brush) {
        RECT client;
        GetClientRect(m_hWnd, &client);
        FillRect(dc, &client, brush);
    }
}

bool HyperLink::FollowLink()
{
    HINSTANCE result = ShellExecuteA(nullptr, "open", m_target ? m_target.Get() : "", nullptr, nullptr, SW_SHOWNORMAL);
    if (reinterpret_cast<UINT_PTR>(result) <= 32) return false;
    m_visited = true;
    Invalidate(false);
    return true;
}

void HyperLink::Invalidate(bool update)
{
    InvalidateRect(m_hWnd, nullptr, TRUE);
    if (update) UpdateWindow(m_hWnd);
}

bool HyperLink::HitLink(LPARAM point) const
{
    POINT pt = {static_cast<short>(LOWORD(point)), static_cast<short>(HIWORD(point))};
    return PtInRect(&m_linkRect, pt) != FALSE;
}

BOOL HyperLink::ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    if (msg >= WM_MOUSEFIRST && msg <= WM_MBUTTONDBLCLK && IsWindow(m_toolTip)) {
        MSG relay = {hwnd, msg, wParam, lParam, 0, {0, 0}};
        SendMessageA(m_toolTip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&relay));
    }
    result = 0;
    switch (msg) {
    case WM_ERASEBKGND:
        result = 1;
        return TRUE;
    case WM_PAINT:
    case WM_PRINTCLIENT: {
        if (!m_paintLabel) return FALSE;
        PAINTSTRUCT ps;
        HDC dc = wParam ? reinterpret_cast<HDC>(wParam) : BeginPaint(hwnd, &ps);
        EraseBackground(dc);
        PaintLink(dc);
        if (!wParam) EndPaint(hwnd, &ps);
        return TRUE;
    }
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
        if (!m_paintLabel) return FALSE;
        Invalidate(false);
        return TRUE;
    case WM_MOUSEMOVE:
        if (m_target && HitLink(lParam)) {
            SetCursor(m_linkCursor);
            return TRUE;
        }
        return FALSE;
    case WM_LBUTTONDOWN:
        if (HitLink(lParam)) {
            SetFocus(hwnd);
            SetCapture(hwnd);
        }
        return TRUE;
    case WM_LBUTTONUP:
        if (GetCapture() == hwnd) {
            ReleaseCapture();
            if (HitLink(lParam)) FollowLink();
        }
        return TRUE;
    case WM_CHAR:
        if (wParam == VK_RETURN || wParam == VK_SPACE) FollowLink();
        return TRUE;
    case WM_GETDLGCODE:
        result = DLGC_WANTCHARS;
        return TRUE;
    case WM_SETCURSOR: {
        POINT pt;
        GetCursorPos(&pt);
        ScreenToClient(hwnd, &pt);
        if (m_target && PtInRect(&m_linkRect, pt)) {
            SetCursor(m_linkCursor);
            result = 1;
            return TRUE;
        }
        return FALSE;
    }
    case WM_ENABLE:
        Invalidate(true);
        return TRUE;
    case WM_GETFONT:
        result = reinterpret_cast<LRESULT>(m_normalFont);
        return TRUE;
    case WM_SETFONT:
        m_normalFont = reinterpret_cast<HFONT>(wParam);
        if (lParam) Invalidate(true);
        return TRUE;
    case WM_UPDATEUISTATE:
        return TRUE;
    default:
        return FALSE;
    }
}
