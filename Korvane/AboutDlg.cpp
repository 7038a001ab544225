#include "AboutDlg.h"

#include "AppContext.h"
#include "resource.h"
#include "utlis.h"

BOOL AboutDlg::ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    if (msg == WM_INITDIALOG) {
        result = OnInitDialog();
        return TRUE;
    }
    if (msg == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
        EndDialog(hwnd, LOWORD(wParam));
        result = 0;
        return TRUE;
    }
    return FALSE;
}

LRESULT AboutDlg::OnInitDialog()
{
    HWND owner = GetParent(m_hWnd);
    if (!owner) owner = GetWindow(m_hWnd, GW_OWNER);
    CenterWindowOn(m_hWnd, owner);
    link.Attach(GetDlgItem(m_hWnd, IDC_LINK));
    std::string target = LoadStringWhole(g_app.Instance(), IDS_WEB_ADDRESS);
    link.SetTarget(target.c_str());
    return 1;
}

void RunAboutBox()
{
    AboutDlg about;
    about.DoModal(GetActiveWindow(), IDD_ABOUTBOX);
}
