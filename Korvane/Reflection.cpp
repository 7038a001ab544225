#include "Reflection.h"

namespace {

// How the target of each reflected notification is found: the one list of
// the messages that are reflected.
enum class Target { None, NotifySender, CommandWindow, ParentNotify, DrawItem, ItemById, LParamWindow };

Target TargetRule(UINT msg)
{
    switch (msg) {
    case WM_NOTIFY: return Target::NotifySender;
    case WM_COMMAND: return Target::CommandWindow;
    case WM_PARENTNOTIFY: return Target::ParentNotify;
    case WM_DRAWITEM: return Target::DrawItem;
    case WM_MEASUREITEM: case WM_DELETEITEM: case WM_COMPAREITEM: return Target::ItemById;
    case WM_VKEYTOITEM: case WM_CHARTOITEM: case WM_HSCROLL: case WM_VSCROLL:
    case WM_CTLCOLORMSGBOX: case WM_CTLCOLOREDIT: case WM_CTLCOLORLISTBOX: case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG: case WM_CTLCOLORSCROLLBAR: case WM_CTLCOLORSTATIC:
        return Target::LParamWindow;
    default: return Target::None;
    }
}

// The control id that WM_MEASUREITEM, WM_DELETEITEM and WM_COMPAREITEM carry.
UINT ItemControlId(UINT msg, LPARAM lParam)
{
    switch (msg) {
    case WM_MEASUREITEM: return reinterpret_cast<MEASUREITEMSTRUCT*>(lParam)->CtlID;
    case WM_DELETEITEM: return reinterpret_cast<DELETEITEMSTRUCT*>(lParam)->CtlID;
    default: return reinterpret_cast<COMPAREITEMSTRUCT*>(lParam)->CtlID;
    }
}

} // namespace

bool IsReflectedMessage(UINT msg)
{
    return msg >= kReflectBase && TargetRule(msg - kReflectBase) != Target::None;
}

HWND ReflectionTarget(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (TargetRule(msg)) {
    case Target::NotifySender:
        return reinterpret_cast<NMHDR*>(lParam)->hwndFrom;
    case Target::CommandWindow:
        return reinterpret_cast<HWND>(lParam);
    case Target::ParentNotify:
        if (LOWORD(wParam) == WM_CREATE || LOWORD(wParam) == WM_DESTROY) return reinterpret_cast<HWND>(lParam);
        return GetDlgItem(dialog, HIWORD(wParam));
    case Target::DrawItem:
        return wParam ? reinterpret_cast<DRAWITEMSTRUCT*>(lParam)->hwndItem : nullptr;
    case Target::ItemById:
        return wParam ? GetDlgItem(dialog, ItemControlId(msg, lParam)) : nullptr;
    case Target::LParamWindow:
        return reinterpret_cast<HWND>(lParam);
    default:
        return nullptr;
    }
}
