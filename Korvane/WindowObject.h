// The window framework: every dialog and control object is bound to its
// window and receives the window's messages through ProcessWindowMessage.
//  - DialogObject: created through the shared start procedure, which takes the
//    object off the pending list on the window's first message and installs the
//    object's dialog procedure.
//  - ControlObject: bound to an existing child window by subclassing; whatever
//    the object does not handle goes to the replaced window procedure.
#pragma once
#include <windows.h>
#include <commctrl.h>

// The procedure that binding installs: a dialog procedure for a dialog object,
// a window procedure for a control. Each keeps its own type, so that no cast
// between function types can hide a calling convention.
struct BoundProc {
    DLGPROC dialog;
    WNDPROC window;
    // What SetWindowLongPtr stores for it.
    LONG_PTR Value() const
    {
        return dialog ? reinterpret_cast<LONG_PTR>(dialog) : reinterpret_cast<LONG_PTR>(window);
    }
};

class WindowObject {
public:
    HWND m_hWnd = nullptr;

    // Slot 1: message dispatch. Returns TRUE when handled, with the result in |result|.
    virtual BOOL ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                                      LRESULT& result) = 0;
    // Slot 2: the procedure that binding installs.
    virtual BoundProc GetWindowProc() = 0;
    // Slot 3: called after the window's last message.
    virtual void OnFinalMessage(HWND hwnd) {}

protected:
    ~WindowObject() = default;
    static void Bind(HWND hwnd, WindowObject* object);
    static WindowObject* FromHandle(HWND hwnd);
    static void Unbind(HWND hwnd);
};

class DialogObject : public WindowObject {
public:
    BoundProc GetWindowProc() override { return {DialogProc, nullptr}; }

    // Modeless, hidden until shown: pushes the object as the pending window first.
    HWND Create(HWND parent, int templateId, LPARAM param = 0);
    // Modal: returns the EndDialog result.
    INT_PTR DoModal(HWND owner, int templateId, LPARAM param = 0);

    static INT_PTR CALLBACK StartDialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

protected:
    ~DialogObject() = default;
};

class ControlObject : public WindowObject {
public:
    BoundProc GetWindowProc() override { return {nullptr, ControlProc}; }
    // A control's own messages: reflected notifications go to OnReflectedNotify,
    // other reflected messages to the default window procedure under their own
    // number; everything else to the replaced procedure.
    BOOL ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override;

    // Replaces the child's window procedure; FALSE when the platform refuses.
    BOOL SubclassWindow(HWND child);
    // Hands a message to the replaced procedure.
    LRESULT CallPreviousProc(UINT msg, WPARAM wParam, LPARAM lParam);

    static LRESULT CALLBACK ControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

protected:
    ~ControlObject() = default;
    // A notification that the parent sent back (WM_NOTIFY + 0x2000); TRUE when handled.
    virtual BOOL OnReflectedNotify(NMHDR* header, LRESULT& result) { return FALSE; }

    WNDPROC m_prevProc = DefWindowProcA;
};

// Centres a top-level window on its owner (or on the work area when there is
// no visible, non-minimised owner) and keeps it inside the work area.
void CenterWindowOn(HWND window, HWND reference);
