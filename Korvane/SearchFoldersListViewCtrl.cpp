#include "SearchFoldersListViewCtrl.h"

#include <stdlib.h>
#include <string.h>

#include "AppContext.h"
#include "Reflection.h"
#include "resource.h"
#include "trace.h"
#include "utlis.h"

namespace {
const LONG kBatchRows = 20;
const ULONG kFolderSearch = 2;  // FOLDER_SEARCH
const ULONG kOpenStoreFlags = MDB_WRITE | MDB_NO_MAIL;  // 0x84
const ULONG kDeleteFlags = DEL_FOLDERS | FOLDER_DIALOG;  // 6
}

BOOL SearchFoldersListViewCtrl::ProcessWindowMessage(HWND hwnd, UINT msg, WPARAM wParam,
                                                     LPARAM lParam, LRESULT& result)
{
    if (msg == kReflectBase + WM_NOTIFY) {
        NMHDR* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->code == LVN_DELETEITEM) {
            BOOL handled = TRUE;
            result = OnDeleteItem(static_cast<int>(wParam), reinterpret_cast<NMLISTVIEW*>(lParam), handled);
            if (handled) return TRUE;
        }
    }
    return DefaultReflectedMessage(hwnd, msg, wParam, lParam, result);
}

LRESULT SearchFoldersListViewCtrl::InitControl()
{
    HRESULT hr = S_OK;
    TRACE_CALL_RET("InitControl", hr);
    m_imageList = ImageList_LoadImageA(g_app.Instance(), MAKEINTRESOURCEA(IDB_SEARCHFOLDER), 16, 16,
                                       RGB(255, 0, 255), IMAGE_BITMAP, 0);
    SendMessageA(m_hWnd, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(m_imageList));
    SendMessageA(m_hWnd, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP,
                 LVS_EX_FULLROWSELECT | LVS_EX_INFOTIP);
    const struct { UINT textId; int width; } columns[] = {
        {IDS_FOLDER_COLUMN, 180}, {IDS_PATH_COLUMN, 100}};
    for (int i = 0; i < 2; ++i) {
        std::string heading = LoadStringWhole(g_app.Instance(), columns[i].textId);
        LVCOLUMNA column = {};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        column.fmt = LVCFMT_LEFT;
        column.cx = columns[i].width;
        column.pszText = &heading[0];
        SendMessageA(m_hWnd, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&column));
    }
    return hr;
}

LRESULT SearchFoldersListViewCtrl::OnDeleteItem(int, NMLISTVIEW* notification, BOOL&)
{
    TRACE_CALL("OnDeleteItem");
    BOOL ok = FALSE;
    SBinary* record = GetItemRecord(notification->iItem, &ok);
    if (ok && record) free(record);
    return 0;
}

SBinary* SearchFoldersListViewCtrl::GetItemRecord(int index, BOOL* ok)
{
    LVITEMA item = {};
    item.mask = LVIF_PARAM;
    item.iItem = index;
    *ok = static_cast<BOOL>(SendMessageA(m_hWnd, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    return *ok ? reinterpret_cast<SBinary*>(item.lParam) : nullptr;
}

int SearchFoldersListViewCtrl::AppendFolder(const char* name, const char* path)
{
    LVITEMA item = {};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = static_cast<int>(SendMessageA(m_hWnd, LVM_GETITEMCOUNT, 0, 0));
    item.pszText = const_cast<char*>(name);
    item.iImage = 0;
    int index = static_cast<int>(SendMessageA(m_hWnd, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));

    LVITEMA sub = {};
    sub.mask = LVIF_TEXT;
    sub.iItem = index;
    sub.iSubItem = 1;
    sub.pszText = const_cast<char*>(path);
    SendMessageA(m_hWnd, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&sub));
    return index;
}

void SearchFoldersListViewCtrl::SetItemRecord(int index, SBinary* record)
{
    LVITEMA data = {};
    data.mask = LVIF_PARAM;
    data.iItem = index;
    data.lParam = reinterpret_cast<LPARAM>(record);
    SendMessageA(m_hWnd, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&data));
}

// Opens the store for writing, without its mail functions, for one scan or deletion.
static HRESULT OpenStore(LPMAPISESSION session, ULONG cbStoreId, LPBYTE storeId, LPMDB* store)
{
    HRESULT hr = session->OpenMsgStore(0, cbStoreId, reinterpret_cast<LPENTRYID>(storeId), nullptr, kOpenStoreFlags, store);
    if (FAILED(hr)) TRACE_FAILED("OpenMsgStore", hr);
    return hr;
}

HRESULT SearchFoldersListViewCtrl::InitSearchList(LPMAPISESSION session, ULONG cbStoreId, LPBYTE storeId)
{
    HRESULT hr = S_OK;
    TRACE_CALL_RET("InitSearchList", hr);
    LPMDB store = nullptr;
    LPMAPIFOLDER finder = nullptr;

    hr = OpenStore(session, cbStoreId, storeId, &store);
    if (SUCCEEDED(hr)) {
        hr = GetFinder(store, &finder);
        if (FAILED(hr)) {
            TRACE_FAILED("GetFinder", hr);
        } else {
            hr = BuildSearchList(finder, "");
            if (FAILED(hr)) TRACE_FAILED("BuildSearchList", hr);
        }
    }
    SafeRelease(finder);
    SafeRelease(store);
    return hr;
}

HRESULT SearchFoldersListViewCtrl::BuildSearchList(LPMAPIFOLDER folder, const char* path)
{
    HRESULT hr = S_OK;
    TRACE_CALL_RET("BuildSearchList", hr);
    PropTags<4> folderTags = {4, {kTagDisplayName, kTagFolderType, kTagEntryId, kTagContainerClass}};
    PropTags<7> columns = {7, {kTagEntryId, kTagDisplayName, PR_OBJECT_TYPE, PR_DEPTH,
                               PR_DISPLAY_TYPE, PR_STATUS, PR_COMMENT_A}};
    ULONG count = 0;
    LPSPropValue props = nullptr;
    LPMAPITABLE table = nullptr;
    LPSRowSet rows = nullptr;
    LPMAPIFOLDER subFolder = nullptr;
    char* subPath = nullptr;

    // Every path below ends the visit at |done|, where everything held is released.
    hr = folder->GetProps(folderTags.get(), 0, &count, &props);
    if (FAILED(hr)) {
        TRACE_FAILED("GetProps", hr);
        goto done;
    }
    if (count != 4 || props[0].ulPropTag != kTagDisplayName || props[1].ulPropTag != kTagFolderType ||
        props[2].ulPropTag != kTagEntryId) {
        hr = E_FAIL;
        TRACE_ERROR_LINE("cFinderProps not ok: hr=%lx\n", hr);
        goto done;
    }

    if (props[1].Value.l == static_cast<LONG>(kFolderSearch)) {
        SBinary* record = nullptr;
        int index = AppendFolder(props[0].Value.lpszA, path);
        SBinaryDup(&props[2].Value.bin, &record);  // on failure the row keeps null data
        SetItemRecord(index, record);
        // Folders with a container class are the client's own: never listed.
        if (props[3].ulPropTag == kTagContainerClass)
            SendMessageA(m_hWnd, LVM_DELETEITEM, index, 0);
    }

    hr = folder->GetHierarchyTable(0, &table);
    if (hr == MAPI_E_NO_SUPPORT) {
        hr = S_OK;  // a search folder has no sub-folders
        goto done;
    }
    if (FAILED(hr)) {
        TRACE_FAILED("GetHierarchyTable", hr);
        goto done;
    }
    hr = table->SetColumns(columns.get(), 0);
    if (FAILED(hr)) {
        TRACE_FAILED("SetColumns", hr);
        goto done;
    }
    for (;;) {
        hr = table->QueryRows(kBatchRows, 0, &rows);
        if (FAILED(hr)) {
            TRACE_FAILED("QueryRows", hr);
            goto done;
        }
        if (!rows || rows->cRows == 0) goto done;
        for (ULONG i = 0; i < rows->cRows; ++i) {
            SafeRelease(subFolder);
            const SRow& row = rows->aRow[i];
            if (row.cValues < 1 || row.lpProps[0].ulPropTag != kTagEntryId) {
                hr = E_FAIL;
                TRACE_ERROR_LINE("pRow->lpProps[0].ulPropTag not ok: hr=%lx\n", hr);
                goto done;
            }
            ULONG objectType = 0;
            hr = folder->OpenEntry(row.lpProps[0].Value.bin.cb,
                                   reinterpret_cast<LPENTRYID>(row.lpProps[0].Value.bin.lpb), nullptr,
                                   MAPI_MODIFY, &objectType, reinterpret_cast<LPUNKNOWN*>(&subFolder));
            if (FAILED(hr)) {
                subFolder = nullptr;
                TRACE_FAILED("OpenEntry", hr);
                goto done;
            }
            if (!subPath) {
                size_t pathLength = strlen(path);
                size_t nameLength = strlen(props[0].Value.lpszA);
                subPath = static_cast<char*>(malloc(pathLength + 1 + nameLength + 1));
                if (!subPath) {
                    hr = E_OUTOFMEMORY;
                    TRACE_FAILED("malloc", hr);
                    goto done;
                }
                memcpy(subPath, path, pathLength);
                subPath[pathLength] = '/';
                memcpy(subPath + pathLength + 1, props[0].Value.lpszA, nameLength + 1);
            }
            BuildSearchList(subFolder, subPath);  // a failure below ends only that visit
        }
        FreeRowSet(rows);
    }

done:
    free(subPath);
    SafeRelease(subFolder);
    MAPIFreeBuffer(props);
    FreeRowSet(rows);
    SafeRelease(table);
    return hr;
}

HRESULT SearchFoldersListViewCtrl::DeleteSelection(LPMAPISESSION session, ULONG cbStoreId, LPBYTE storeId)
{
    HWND dialog = GetParent(m_hWnd);
    HRESULT hr = S_OK;
    TRACE_CALL_RET("DeleteSelection", hr);
    LPMDB store = nullptr;
    LPMAPIFOLDER searchFolder = nullptr;
    LPMAPIFOLDER parent = nullptr;

    hr = OpenStore(session, cbStoreId, storeId, &store);
    if (SUCCEEDED(hr)) {
        for (;;) {
            int index = static_cast<int>(SendMessageA(m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                                      MAKELPARAM(LVNI_SELECTED, 0)));
            if (index < 0) break;
            SafeRelease(searchFolder);
            SafeRelease(parent);
            BOOL ok = FALSE;
            SBinary* record = GetItemRecord(index, &ok);
            if (!ok || !record) {
                hr = E_FAIL;
                TRACE_ERROR_LINE("GetItemData() failed: hr=%lx\n", hr);
                break;
            }
            ULONG objectType = 0;
            hr = store->OpenEntry(record->cb, reinterpret_cast<LPENTRYID>(record->lpb), nullptr,
                                  MAPI_MODIFY, &objectType, reinterpret_cast<LPUNKNOWN*>(&searchFolder));
            if (FAILED(hr)) {
                searchFolder = nullptr;
                TRACE_FAILED("OpenEntry", hr);
                break;
            }
            hr = GetParentFolder(store, searchFolder, &parent);
            if (FAILED(hr)) {
                TRACE_FAILED("GetParentFolder", hr);
                break;
            }
            SafeRelease(searchFolder);  // not held open while it is deleted
            hr = parent->DeleteFolder(record->cb, reinterpret_cast<LPENTRYID>(record->lpb),
                                      static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(dialog)), nullptr,
                                      kDeleteFlags);
            if (FAILED(hr)) {
                TRACE_FAILED("DeleteFolder", hr);
                break;
            }
            SendMessageA(m_hWnd, LVM_DELETEITEM, index, 0);
        }
    }
    SafeRelease(parent);
    SafeRelease(searchFolder);
    SafeRelease(store);
    return hr;
}
