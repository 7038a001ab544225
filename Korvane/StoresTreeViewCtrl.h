// The tree of profiles and their message stores. A profile item owns the
// session of its logon (after a complete store listing); a store item owns a
// copy of the store's entry identifier.
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <mapix.h>

#include <map>
#include <string>

#include "WindowObject.h"

class StoresTreeViewCtrl : public ControlObject {
public:
    LRESULT InitControl();
    HRESULT Init();
    HRESULT InitStores(HTREEITEM profile);

    // Item helpers, also used by the main dialog.
    HTREEITEM GetParentItem(HTREEITEM item) const;
    HTREEITEM GetChildItem(HTREEITEM item) const;
    HTREEITEM GetCaretItem() const;
    LPARAM GetItemData(HTREEITEM item) const;  // 0 when the tree refuses
    BOOL SetItemData(HTREEITEM item, LPARAM data);

private:
    BOOL OnReflectedNotify(NMHDR* header, LRESULT& result) override;
    LRESULT OnItemExpanding(NMTREEVIEWA* notification);
    LRESULT OnItemExpanded(NMTREEVIEWA* notification);
    LRESULT OnDeleteItem(NMTREEVIEWA* notification);

    HTREEITEM InsertItem(HTREEITEM parent, const char* label, int image, bool withButton);
    void SetChildrenIndicator(HTREEITEM item, int children);
    HRESULT Logon(HTREEITEM profile, LPMAPISESSION* session);

    HIMAGELIST m_imageList = nullptr;
    // Profiles whose name the ANSI code page cannot hold: the tree shows the
    // ANSI text, the logon uses this name.
    std::map<HTREEITEM, std::wstring> m_unicodeNames;
};
