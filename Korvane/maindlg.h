// The main dialog: the profiles/stores tree, the search-folder list and the
// command buttons. It is the message loop's filter (accelerators, dialog
// keys) and idle handler, and reflects the controls' notifications to them.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include "MessageLoop.h"
#include "SearchFoldersListViewCtrl.h"
#include "StoresTreeViewCtrl.h"
#include "WindowObject.h"

class MainDlg : public DialogObject, public MessageFilter, public IdleHandler {
public:
    BOOL ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                              LRESULT& result) override;
    BOOL FilterMessage(MSG* msg) override;
    BOOL RunIdle() override;

private:
    LRESULT OnInitDialog();
    LRESULT OnTreeSelChanged(NMTREEVIEWA* notification);
    LRESULT OnListItemChanged();
    LRESULT OnDelete();
    LRESULT OnReload();
    LRESULT OnSelectAll();
    LRESULT OnAbout();
    LRESULT OnCloseCommand(WORD id);

    void AttachControls();
    void UpdateDeleteButton();
    // Session and store identifier of a store item, or false for anything else.
    bool GetStoreOfItem(HTREEITEM item, LPMAPISESSION* session, SBinary** storeId);
    LRESULT ReflectNotification(UINT msg, WPARAM wParam, LPARAM lParam, BOOL& handled);

    HACCEL m_accel = nullptr;
    HWND m_deleteButton = nullptr;
    StoresTreeViewCtrl m_tree;
    SearchFoldersListViewCtrl m_list;
};
