#include "maindlg.h"

#include "AboutDlg.h"
#include "AppContext.h"
#include "Reflection.h"
#include "resource.h"
#include "trace.h"

namespace {
// The source lines that the log shows for the handlers' entries. The log
// format fixes them, wherever the code happens to stand.
const int kOnInitDialogLine = 29;
const int kOnDeleteLine = 83;
const int kOnReloadLine = 111;
const int kOnSelectAllLine = 124;
const int kOnTreeSelChangedLine = 148;
const int kOnListItemChangedLine = 184;

// Wait cursor for the lifetime of the scope.
class WaitCursor {
public:
    WaitCursor() : m_previous(SetCursor(LoadCursorA(nullptr, IDC_WAIT))) {}
    ~WaitCursor() { SetCursor(m_previous); }
private:
    HCURSOR m_previous;
};

// The list's redrawing is off for the lifetime of the scope.
class RedrawOff {
public:
    explicit RedrawOff(HWND window) : m_window(window) { SendMessageA(m_window, WM_SETREDRAW, FALSE, 0); }
    ~RedrawOff() { SendMessageA(m_window, WM_SETREDRAW, TRUE, 0); }
private:
    HWND m_window;
};
}

BOOL MainDlg::ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    switch (msg) {
    case WM_INITDIALOG:
        result = OnInitDialog();
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case ID_APP_ABOUT: result = OnAbout(); return TRUE;
        case IDOK: result = OnCloseCommand(IDOK); return TRUE;
        case IDCANCEL: result = OnCloseCommand(IDCANCEL); return TRUE;
        case IDC_DELETE: result = OnDelete(); return TRUE;
        case IDC_RELOAD: result = OnReload(); return TRUE;
        case IDC_SELECT_ALL: result = OnSelectAll(); return TRUE;
        default: break;
        }
        break;
    case WM_NOTIFY: {
        NMHDR* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->idFrom == IDC_STORES_TREE && header->code == TVN_SELCHANGEDA) {
            result = OnTreeSelChanged(reinterpret_cast<NMTREEVIEWA*>(lParam));
            return TRUE;
        }
        if (header->idFrom == IDC_SEARCH_LIST && header->code == LVN_ITEMCHANGED) {
            result = OnListItemChanged();
            return TRUE;
        }
        break;
    }
    default:
        break;
    }
    BOOL handled = FALSE;
    result = ReflectNotification(msg, wParam, lParam, handled);
    return handled;
}

LRESULT MainDlg::ReflectNotification(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled)
{
    HWND target = ReflectionTarget(m_hWnd, msg, wParam, lParam);
    handled = target != nullptr;
    return target ? SendMessageA(target, msg + kReflectBase, wParam, lParam) : 0;
}

BOOL MainDlg::FilterMessage(MSG* msg)
{
    if (m_accel && TranslateAcceleratorA(m_hWnd, m_accel, msg)) return TRUE;
    return IsDialogMessageA(m_hWnd, msg);
}

BOOL MainDlg::RunIdle()
{
    return FALSE;
}

LRESULT MainDlg::OnInitDialog()
{
    TRACE_CALL_AT(kOnInitDialogLine, "OnInitDialog");
    m_accel = LoadAcceleratorsA(g_app.Instance(), MAKEINTRESOURCEA(IDR_MAINFRAME));
    CenterWindowOn(m_hWnd, GetWindow(m_hWnd, GW_OWNER));

    HANDLE bigIcon = LoadImageA(g_app.Instance(), MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_DEFAULTCOLOR);
    SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon));
    HANDLE smallIcon = LoadImageA(g_app.Instance(), MAKEINTRESOURCEA(IDR_MAINFRAME), IMAGE_ICON,
                                  GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR);
    SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));

    if (MessageLoop* loop = g_app.GetMessageLoop()) {
        loop->AddMessageFilter(this);
        loop->AddIdleHandler(this);
    }
    AttachControls();
    return TRUE;
}

void MainDlg::AttachControls()
{
    m_deleteButton = GetDlgItem(m_hWnd, IDC_DELETE);
    EnableWindow(m_deleteButton, FALSE);
    m_list.SubclassWindow(GetDlgItem(m_hWnd, IDC_SEARCH_LIST));
    m_list.InitControl();
    m_tree.SubclassWindow(GetDlgItem(m_hWnd, IDC_STORES_TREE));
    m_tree.InitControl();
    m_tree.Init();
}

void MainDlg::UpdateDeleteButton()
{
    // Every row change asks this; only a change of state reaches the button.
    BOOL enable = SendMessageA(m_list.m_hWnd, LVM_GETSELECTEDCOUNT, 0, 0) != 0;
    if (!IsWindowEnabled(m_deleteButton) != !enable) EnableWindow(m_deleteButton, enable);
}

bool MainDlg::GetStoreOfItem(HTREEITEM item, LPMAPISESSION* session, SBinary** storeId)
{
    if (!item) return false;
    HTREEITEM parent = m_tree.GetParentItem(item);
    if (!parent) return false;
    *session = reinterpret_cast<LPMAPISESSION>(m_tree.GetItemData(parent));
    *storeId = reinterpret_cast<SBinary*>(m_tree.GetItemData(item));
    return *session && *storeId;
}

LRESULT MainDlg::OnTreeSelChanged(NMTREEVIEWA* notification)
{
    TRACE_CALL_AT(kOnTreeSelChangedLine, "OnTreeSelChanged");
    HTREEITEM item = notification->itemNew.hItem;
    WaitCursor wait;
    RedrawOff redraw(m_list.m_hWnd);
    SendMessageA(m_list.m_hWnd, LVM_DELETEALLITEMS, 0, 0);
    UpdateDeleteButton();
    LPMAPISESSION session = nullptr;
    SBinary* storeId = nullptr;
    if (GetStoreOfItem(item, &session, &storeId))
        m_list.InitSearchList(session, storeId->cb, storeId->lpb);
    return 0;
}

LRESULT MainDlg::OnListItemChanged()
{
    TRACE_CALL_AT(kOnListItemChangedLine, "OnListItemChanged");
    UpdateDeleteButton();
    return 0;
}

LRESULT MainDlg::OnDelete()
{
    TRACE_CALL_AT(kOnDeleteLine, "OnDelete");
    WaitCursor wait;
    RedrawOff redraw(m_list.m_hWnd);
    LPMAPISESSION session = nullptr;
    SBinary* storeId = nullptr;
    if (GetStoreOfItem(m_tree.GetCaretItem(), &session, &storeId))
        m_list.DeleteSelection(session, storeId->cb, storeId->lpb);
    UpdateDeleteButton();
    return 0;
}

LRESULT MainDlg::OnReload()
{
    TRACE_CALL_AT(kOnReloadLine, "OnReload");
    HTREEITEM caret = m_tree.GetCaretItem();
    if (caret) {
        SendMessageA(m_tree.m_hWnd, TVM_SELECTITEM, TVGN_CARET, 0);
        SendMessageA(m_tree.m_hWnd, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(caret));
    }
    return 0;
}

LRESULT MainDlg::OnSelectAll()
{
    TRACE_CALL_AT(kOnSelectAllLine, "OnSelectAll");
    int count = static_cast<int>(SendMessageA(m_list.m_hWnd, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        LVITEMA item = {};
        item.mask = LVIF_STATE;
        item.iItem = i;
        item.iSubItem = 0;
        item.state = LVIS_SELECTED;
        item.stateMask = LVIS_SELECTED;
        SendMessageA(m_list.m_hWnd, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }
    SetFocus(m_list.m_hWnd);
    return 0;
}

LRESULT MainDlg::OnAbout()
{
    RunAboutBox();
    return 0;
}

LRESULT MainDlg::OnCloseCommand(WORD id)
{
    DestroyWindow(m_hWnd);
    PostQuitMessage(id);
    return 0;
}
