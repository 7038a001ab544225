// Turns an existing static control into a web link: link colours, underlined
// font, hand cursor, tooltip, mouse and keyboard handling, shell "open".
#pragma once
#include <windows.h>

#include "Holders.h"
#include "WindowObject.h"

class HyperLink : public ControlObject {
public:
    HyperLink() = default;
    ~HyperLink();
    HyperLink(const HyperLink&) = delete;
    HyperLink& operator=(const HyperLink&) = delete;

    BOOL ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                              LRESULT& result) override;

    bool Attach(HWND window);
    void Initialize();
    bool SetLabelText(const char* text);
    bool SetTarget(const char* text);
    bool ComputeLinkRect();
    bool FollowLink();
    void PaintLink(HDC dc);
    void EraseBackground(HDC dc);

    // "R,G,B" as stored in the registry; false (and |color| untouched) when invalid.
    // |text| is modified (the commas are cut out).
    static bool ParseColorValue(char* text, COLORREF* color);

private:
    // The hand cursor's AND and XOR masks, 32 rows of 4 bytes each.
    static void GetCursorMasks(BYTE andMask[128], BYTE xorMask[128]);
    // The colour the text is drawn in right now.
    COLORREF CurrentTextColor() const;
    UINT TextAlignment() const;
    bool HitLink(LPARAM point) const;
    void AddToolTipTool();
    void ReadRegistryColors();
    void Invalidate(bool update);

    HeapBlock<char> m_label;   // heap copies of exactly length + 1 bytes
    HeapBlock<char> m_target;
    HCURSOR m_linkCursor = nullptr;
    HFONT m_linkFont = nullptr;
    HFONT m_normalFont = nullptr;
    RECT m_linkRect = {0, 0, 0, 0};
    HWND m_toolTip = nullptr;
    COLORREF m_linkColor = RGB(0, 0, 255);
    COLORREF m_visitedColor = RGB(128, 0, 128);
    bool m_paintLabel = true;
    bool m_visited = false;
    bool m_ownsLinkFont = false;
};
