// The tree of profiles and their message stores. A profile item owns the
// session of its logon (after a complete store listing); a store item owns a
// copy of the store's entry identifier.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <mapix.h>

#include "WindowObject.h"

class StoresTreeViewCtrl : public ControlObject {
public:
    BOOL ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam,
                              LRESULT& result) override;

    LRESULT InitControl();
    HRESULT Init();
    HRESULT InitStores(HTREEITEM profile);

    LRESULT OnItemExpanding(NMTREEVIEWA* notification);
    LRESULT OnItemExpanded(NMTREEVIEWA* notification);
    LRESULT OnDeleteItem(NMTREEVIEWA* notification);

    // Item helpers, also used by the main dialog.
    HTREEITEM GetParentItem(HTREEITEM item) const;
    HTREEITEM GetChildItem(HTREEITEM item) const;
    HTREEITEM GetCaretItem() const;
    LPARAM GetItemData(HTREEITEM item) const;  // 0 when the tree refuses
    BOOL SetItemData(HTREEITEM item, LPARAM data);

private:
    HTREEITEM InsertItem(HTREEITEM parent, const char* label, int image, bool withButton);
    void SetChildrenIndicator(HTREEITEM item, int children);

    HIMAGELIST m_imageList = nullptr;
};
