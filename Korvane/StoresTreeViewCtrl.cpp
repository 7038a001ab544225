#include "StoresTreeViewCtrl.h"

#include <stdlib.h>

#include "AppContext.h"
#include "resource.h"
#include "trace.h"
#include "utlis.h"

namespace {
enum { kImageProfile = 0, kImageDefaultProfile = 1, kImageStore = 2, kImageDefaultStore = 3 };

// One buffer for the profile name of every logon.
char g_profileName[256];
}

BOOL StoresTreeViewCtrl::OnReflectedNotify(NMHDR* header, LRESULT& result)
{
    NMTREEVIEWA* notification = reinterpret_cast<NMTREEVIEWA*>(header);
    switch (header->code) {
    case TVN_ITEMEXPANDINGA: result = OnItemExpanding(notification); return TRUE;
    case TVN_ITEMEXPANDEDA: result = OnItemExpanded(notification); return TRUE;
    case TVN_DELETEITEMA: result = OnDeleteItem(notification); return TRUE;
    default: return FALSE;
    }
}

LRESULT StoresTreeViewCtrl::InitControl()
{
    HRESULT hr = S_OK;
    TRACE_CALL_RET("InitControl", hr);
    m_imageList = ImageList_LoadImageA(g_app.Instance(), MAKEINTRESOURCEA(IDB_STORES), 16, 16,
                                       RGB(255, 0, 255), IMAGE_BITMAP, 0);
    SendMessageA(m_hWnd, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(m_imageList));
    return hr;
}

HRESULT StoresTreeViewCtrl::Init()
{
    HRESULT hr = S_OK;
    TRACE_CALL_RET("Init", hr);
    Ref<IProfAdmin> admin;
    Ref<IMAPITable> table;
    RowSet rows;  // freed first, the administration object last

    hr = OpenProfileTable(admin, table);
    while (SUCCEEDED(hr)) {
        hr = table->QueryRows(1, 0, rows.Put());
        hr = Delivered(hr, rows);
        if (FAILED(hr) || rows->cRows == 0) break;
        const SRow& row = rows->aRow[0];
        if (row.cValues < 2 || row.lpProps[0].ulPropTag != kTagDisplayName ||
            row.lpProps[1].ulPropTag != kTagDefaultProfile)
            break;
        HTREEITEM item = InsertItem(TVI_ROOT, row.lpProps[0].Value.lpszA,
                                    row.lpProps[1].Value.b ? kImageDefaultProfile : kImageProfile, true);
        if (item && row.cValues >= 3 && row.lpProps[2].ulPropTag == kTagDisplayNameW &&
            !AnsiNameRoundTrips(row.lpProps[0].Value.lpszA, row.lpProps[2].Value.lpszW))
            m_unicodeNames[item] = row.lpProps[2].Value.lpszW;
    }
    return hr;
}

HRESULT StoresTreeViewCtrl::Logon(HTREEITEM profile, LPMAPISESSION* session)
{
    TVITEMA item = {};
    item.mask = TVIF_TEXT;
    item.hItem = profile;
    item.pszText = g_profileName;
    item.cchTextMax = sizeof(g_profileName);
    if (!SendMessageA(m_hWnd, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item))) return E_FAIL;
    // A tree-view may fill the whole buffer without a terminator when the label
    // is longer: the name is cut to 255 characters here in any case.
    g_profileName[sizeof(g_profileName) - 1] = '\0';
    auto unicode = m_unicodeNames.find(profile);
    if (unicode != m_unicodeNames.end())
        return MAPILogonEx(0, reinterpret_cast<LPSTR>(const_cast<wchar_t*>(unicode->second.c_str())), nullptr,
                           kLogonFlags | MAPI_UNICODE, session);
    return MAPILogonEx(0, g_profileName, nullptr, kLogonFlags, session);
}

HRESULT StoresTreeViewCtrl::InitStores(HTREEITEM profile)
{
    HRESULT hr = S_OK;
    TRACE_CALL_RET("InitStores", hr);
    SessionRef session;  // logged off last, unless the profile item took it
    Ref<IMAPITable> table;
    RowSet rows;

    hr = Logon(profile, session.Put());
    hr = Delivered(hr, session);
    if (SUCCEEDED(hr)) hr = OpenStoresTable(session.Get(), table);
    while (SUCCEEDED(hr)) {
        hr = table->QueryRows(1, 0, rows.Put());
        hr = Delivered(hr, rows);
        if (FAILED(hr)) break;
        if (rows->cRows == 0) {
            // Complete listing: from now on the profile item owns the session.
            if (SetItemData(profile, reinterpret_cast<LPARAM>(session.Get()))) session.Detach();
            break;
        }
        const SRow& row = rows->aRow[0];
        if (row.cValues < 3 || row.lpProps[0].ulPropTag != kTagEntryId ||
            row.lpProps[1].ulPropTag != kTagDisplayName || row.lpProps[2].ulPropTag != kTagDefaultStore)
            break;
        HTREEITEM store = InsertItem(profile, row.lpProps[1].Value.lpszA,
                                     row.lpProps[2].Value.b ? kImageDefaultStore : kImageStore, false);
        HeapBlock<SBinary> storeId;
        if (FAILED(SBinaryDup(&row.lpProps[0].Value.bin, storeId.Put()))) {
            hr = E_OUTOFMEMORY;
            break;
        }
        if (SetItemData(store, reinterpret_cast<LPARAM>(storeId.Get()))) storeId.Detach();  // the item owns it now
    }
    return hr;
}

LRESULT StoresTreeViewCtrl::OnItemExpanding(NMTREEVIEWA* notification)
{
    TRACE_CALL("OnItemExpanding");
    HTREEITEM item = notification->itemNew.hItem;
    if (!GetParentItem(item) && notification->action == TVE_EXPAND) {
        InitStores(item);
        if (!GetChildItem(item)) SetChildrenIndicator(item, 0);  // the expand button disappears
    }
    return 0;
}

LRESULT StoresTreeViewCtrl::OnItemExpanded(NMTREEVIEWA* notification)
{
    TRACE_CALL("OnItemExpanded");
    HTREEITEM item = notification->itemNew.hItem;
    if (!GetParentItem(item) && notification->action == TVE_COLLAPSE) {
        while (HTREEITEM child = GetChildItem(item))
            SendMessageA(m_hWnd, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(child));
        // The button stays, so that the next expansion logs on anew (some tree-view
        // versions reset the indicator when the last child goes).
        SetChildrenIndicator(item, 1);
        SessionRef session(reinterpret_cast<LPMAPISESSION>(GetItemData(item)));
        if (session) {
            session.Reset();  // logged off and released, then the item forgets it
            SetItemData(item, 0);
        }
    }
    return 0;
}

LRESULT StoresTreeViewCtrl::OnDeleteItem(NMTREEVIEWA* notification)
{
    TRACE_CALL("OnDeleteItem");
    LPARAM data = notification->itemOld.lParam;
    if (!GetParentItem(notification->itemOld.hItem)) m_unicodeNames.erase(notification->itemOld.hItem);
    if (!data) return 0;
    // The item's data goes with the item: a store's identifier copy, a profile's session.
    if (GetParentItem(notification->itemOld.hItem))
        HeapBlock<SBinary>(reinterpret_cast<SBinary*>(data)).Reset();
    else
        SessionRef(reinterpret_cast<LPMAPISESSION>(data)).Reset();
    return 0;
}

HTREEITEM StoresTreeViewCtrl::InsertItem(HTREEITEM parent, const char* label, int image, bool withButton)
{
    TVINSERTSTRUCTA insert = {};
    insert.hParent = parent;
    insert.hInsertAfter = TVI_SORT;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | (withButton ? TVIF_CHILDREN : 0);
    insert.item.pszText = const_cast<char*>(label);
    insert.item.iImage = image;
    insert.item.iSelectedImage = image;
    insert.item.cChildren = withButton ? 1 : 0;
    return reinterpret_cast<HTREEITEM>(SendMessageA(m_hWnd, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
}

void StoresTreeViewCtrl::SetChildrenIndicator(HTREEITEM item, int children)
{
    TVITEMA update = {};
    update.mask = TVIF_HANDLE | TVIF_CHILDREN;
    update.hItem = item;
    update.cChildren = children;
    SendMessageA(m_hWnd, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&update));
}

HTREEITEM StoresTreeViewCtrl::GetParentItem(HTREEITEM item) const
{
    return reinterpret_cast<HTREEITEM>(SendMessageA(m_hWnd, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(item)));
}

HTREEITEM StoresTreeViewCtrl::GetChildItem(HTREEITEM item) const
{
    return reinterpret_cast<HTREEITEM>(SendMessageA(m_hWnd, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item)));
}

HTREEITEM StoresTreeViewCtrl::GetCaretItem() const
{
    return reinterpret_cast<HTREEITEM>(SendMessageA(m_hWnd, TVM_GETNEXTITEM, TVGN_CARET, 0));
}

LPARAM StoresTreeViewCtrl::GetItemData(HTREEITEM item) const
{
    TVITEMA query = {};
    query.mask = TVIF_PARAM;
    query.hItem = item;
    if (!SendMessageA(m_hWnd, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&query))) return 0;
    return query.lParam;
}

BOOL StoresTreeViewCtrl::SetItemData(HTREEITEM item, LPARAM data)
{
    TVITEMA update = {};
    update.mask = TVIF_PARAM;
    update.hItem = item;
    update.lParam = data;
    return static_cast<BOOL>(SendMessageA(m_hWnd, TVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&update)));
}
