#include "WindowObject.h"

#include "AppContext.h"
#include "Reflection.h"

#include <vector>

namespace {

// Window handle -> object, looked up for every message. A table in the
// process's own memory: window properties would cost a round trip to the
// window manager (a server call under Wine) for each message. It grows as
// windows are bound; the program binds a handful at a time.
struct Binding {
    HWND window;
    WindowObject* object;
};
std::vector<Binding>& Bindings()
{
    static std::vector<Binding> bindings;
    return bindings;
}

} // namespace

void WindowObject::Bind(HWND hwnd, WindowObject* object)
{
    for (Binding& binding : Bindings()) {
        if (binding.window == hwnd) {
            binding.object = object;
            return;
        }
    }
    Bindings().push_back({hwnd, object});
}

WindowObject* WindowObject::FromHandle(HWND hwnd)
{
    const std::vector<Binding>& bindings = Bindings();
    for (size_t i = bindings.size(); i-- > 0;)
        if (bindings[i].window == hwnd) return bindings[i].object;
    return nullptr;
}

void WindowObject::Unbind(HWND hwnd)
{
    std::vector<Binding>& bindings = Bindings();
    for (size_t i = 0; i < bindings.size(); ++i) {
        if (bindings[i].window == hwnd) {
            bindings[i] = bindings.back();
            bindings.pop_back();
            return;
        }
    }
}

HWND DialogObject::Create(HWND parent, int templateId, LPARAM param)
{
    g_app.AddCreateWndData(this);
    return CreateDialogParamA(g_app.Instance(), MAKEINTRESOURCEA(templateId), parent,
                              StartDialogProc, param);
}

INT_PTR DialogObject::DoModal(HWND owner, int templateId, LPARAM param)
{
    g_app.AddCreateWndData(this);
    return DialogBoxParamA(g_app.Instance(), MAKEINTRESOURCEA(templateId), owner,
                           StartDialogProc, param);
}

INT_PTR CALLBACK DialogObject::StartDialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    WindowObject* object = g_app.ExtractCreateWndData();
    if (!object) return FALSE;
    object->m_hWnd = hwnd;
    Bind(hwnd, object);
    BoundProc proc = object->GetWindowProc();
    SetWindowLongPtrA(hwnd, DWLP_DLGPROC, proc.Value());
    return proc.dialog(hwnd, msg, wParam, lParam);
}

INT_PTR CALLBACK DialogObject::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    WindowObject* object = FromHandle(hwnd);
    if (!object) return FALSE;
    LRESULT result = 0;
    if (object->ProcessWindowMessage(hwnd, msg, wParam, lParam, result)) {
        switch (msg) {
        case WM_INITDIALOG:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
        case WM_QUERYDRAGICON:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
            return static_cast<INT_PTR>(result);
        default:
            // Writing the same value again changes nothing, and costs a call into
            // the window manager: reflected notifications pass here by the thousand.
            if (GetWindowLongPtrA(hwnd, DWLP_MSGRESULT) != result) SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, result);
            return TRUE;
        }
    }
    if (msg == WM_NCDESTROY) {
        Unbind(hwnd);
        object->m_hWnd = nullptr;
        object->OnFinalMessage(hwnd);
    }
    return FALSE;
}

BOOL ControlObject::SubclassWindow(HWND child)
{
    Bind(child, this);
    LONG_PTR previous = SetWindowLongPtrA(child, GWLP_WNDPROC, GetWindowProc().Value());
    if (!previous) {
        Unbind(child);
        return FALSE;
    }
    m_prevProc = reinterpret_cast<WNDPROC>(previous);
    m_hWnd = child;
    return TRUE;
}

BOOL ControlObject::ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    if (msg == kReflectBase + WM_NOTIFY && OnReflectedNotify(reinterpret_cast<NMHDR*>(lParam), result)) return TRUE;
    if (!IsReflectedMessage(msg)) return FALSE;
    result = DefWindowProcA(hwnd, msg - kReflectBase, wParam, lParam);
    return TRUE;
}

LRESULT ControlObject::CallPreviousProc(UINT msg, WPARAM wParam, LPARAM lParam)
{
    return CallWindowProcA(m_prevProc, m_hWnd, msg, wParam, lParam);
}

LRESULT CALLBACK ControlObject::ControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    ControlObject* object = static_cast<ControlObject*>(FromHandle(hwnd));
    if (!object) return DefWindowProcA(hwnd, msg, wParam, lParam);
    LRESULT result = 0;
    if (object->ProcessWindowMessage(hwnd, msg, wParam, lParam, result)) return result;
    if (msg != WM_NCDESTROY) return CallWindowProcA(object->m_prevProc, hwnd, msg, wParam, lParam);

    result = CallWindowProcA(object->m_prevProc, hwnd, msg, wParam, lParam);
    // Put the old procedure back only if nobody subclassed the window after us.
    if (GetWindowLongPtrA(hwnd, GWLP_WNDPROC) == object->GetWindowProc().Value())
        SetWindowLongPtrA(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(object->m_prevProc));
    Unbind(hwnd);
    object->m_hWnd = nullptr;
    object->OnFinalMessage(hwnd);
    return result;
}

void CenterWindowOn(HWND window, HWND reference)
{
    if (reference) {
        LONG style = GetWindowLongA(reference, GWL_STYLE);
        if (!(style & WS_VISIBLE) || (style & WS_MINIMIZE)) reference = nullptr;
    }
    RECT area;
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &area, 0);
    RECT center = area;
    if (reference) GetWindowRect(reference, &center);
    RECT own;
    GetWindowRect(window, &own);
    int w = own.right - own.left;
    int h = own.bottom - own.top;
    int x = (center.left + center.right) / 2 - w / 2;
    int y = (center.top + center.bottom) / 2 - h / 2;
    if (x < area.left) x = area.left;
    else if (x + w > area.right) x = area.right - w;
    if (y < area.top) y = area.top;
    else if (y + h > area.bottom) y = area.bottom - h;
    SetWindowPos(window, nullptr, x, y, -1, -1, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}
