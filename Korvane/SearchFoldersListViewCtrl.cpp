#include "SearchFoldersListViewCtrl.h"

#include <string.h>

#include <memory>
#include <vector>

#include "AppContext.h"
#include "resource.h"
#include "trace.h"
#include "utlis.h"

namespace {
const LONG kBatchRows = 20;
const LONG kFolderSearch = 2;  // FOLDER_SEARCH
const ULONG kOpenStoreFlags = MDB_WRITE | MDB_NO_MAIL;  // 0x84
const ULONG kDeleteFlags = DEL_FOLDERS | FOLDER_DIALOG;  // 6
}

// --- The scan ---------------------------------------------------------------

HRESULT OpenStore(LPMAPISESSION session, ULONG cbStoreId, LPBYTE storeId, LPMDB* store)
{
    HRESULT hr = session->OpenMsgStore(0, cbStoreId, reinterpret_cast<LPENTRYID>(storeId), nullptr, kOpenStoreFlags, store);
    hr = Delivered(hr, *store);
    if (FAILED(hr)) TRACE_FAILED("OpenMsgStore", hr);
    return hr;
}

HRESULT OpenFinder(LPMAPISESSION session, ULONG cbStoreId, LPBYTE storeId, Ref<IMsgStore>& store, Ref<IMAPIFolder>& finder,
                   ScanStep& failedAt)
{
    failedAt = ScanStep::OpenStore;
    HRESULT hr = OpenStore(session, cbStoreId, storeId, store.Put());
    if (FAILED(hr)) return hr;
    failedAt = ScanStep::GetFinder;
    hr = GetFinder(store.Get(), finder.Put());
    if (FAILED(hr)) TRACE_FAILED("GetFinder", hr);
    else failedAt = ScanStep::None;
    return hr;
}

HRESULT ScanStore(LPMAPISESSION session, ULONG cbStoreId, LPBYTE storeId, SearchFolderSink& sink, ScanStep* failedAt,
                  const std::vector<ULONG>& extraTags)
{
    HRESULT hr = S_OK;
    TRACE_CALL_RET("InitSearchList", hr);
    Ref<IMsgStore> store;
    Ref<IMAPIFolder> finder;  // released before the store
    ScanStep step;

    hr = OpenFinder(session, cbStoreId, storeId, store, finder, step);
    if (SUCCEEDED(hr)) {
        hr = WalkSearchFolders(finder.Get(), "", sink, extraTags);
        if (FAILED(hr)) {
            TRACE_FAILED("BuildSearchList", hr);
            step = ScanStep::Walk;
        }
    }
    if (failedAt) *failedAt = step;
    return hr;
}

HRESULT GetVisitProps(LPMAPIFOLDER folder, MapiBuffer<SPropValue>& props, const std::vector<ULONG>& extraTags)
{
    std::vector<ULONG> tags = {4 + static_cast<ULONG>(extraTags.size()), kTagDisplayName, kTagFolderType, kTagEntryId,
                               kTagContainerClass};
    tags.insert(tags.end(), extraTags.begin(), extraTags.end());
    ULONG count = 0;
    HRESULT hr = folder->GetProps(reinterpret_cast<LPSPropTagArray>(tags.data()), 0, &count, props.Put());
    if (FAILED(hr)) {
        TRACE_FAILED("GetProps", hr);
        return hr;
    }
    const SPropValue* p = props.Get();
    if (count != tags.size() - 1 || !p || p[0].ulPropTag != kTagDisplayName || p[1].ulPropTag != kTagFolderType ||
        p[2].ulPropTag != kTagEntryId) {
        hr = E_FAIL;
        TRACE_ERROR_LINE("cFinderProps not ok: hr=%lx\n", hr);
    }
    return hr;
}

namespace {

// What the visit of one folder holds while the visits below it run. The
// members go in reverse order: the sub-folder path, the open sub-folder, the
// property array, the row batch, the table, and last the exit line.
struct Visit {
    Visit(int line, LPMAPIFOLDER folder, const char* path) : header(__FILE__, line), folder(folder), path(path) {}

    TraceEntryHeader header;
    HRESULT hr = S_OK;
    TraceCallRet trace{"BuildSearchList", hr};
    LPMAPIFOLDER folder;  // the caller's: the finder, or the visit above's sub-folder
    const char* path;     // likewise
    bool readingRows = false;
    const char* failedStep = nullptr;  // what ended the visit early, for the sink
    Ref<IMAPITable> table;
    RowSet rows;
    ULONG nextRow = 0;
    MapiBuffer<SPropValue> props;
    bool propsRead = false;
    Ref<IMAPIFolder> subFolder;
    HeapBlock<char> subPath;

    bool Fail(const char* step, HRESULT result)
    {
        hr = result;
        failedStep = step;
        return false;
    }
};

// Depth first, as a recursion would go, with the visits on the heap: a
// failure ends only the visit where it happened, and the visit above goes on
// with its next sub-folder.
class Walk {
public:
    Walk(SearchFolderSink& sink, const std::vector<ULONG>& extraTags) : m_sink(sink), m_extraTags(extraTags) {}

    HRESULT Run(LPMAPIFOLDER folder, const char* path)
    {
        Enter(folder, path);
        for (;;) {
            Visit& v = *m_visits.back();
            if (v.readingRows && NextSubFolder(v)) {
                Enter(v.subFolder.Get(), v.subPath.Get());
                continue;
            }
            HRESULT hr = v.hr;
            if (v.failedStep) m_sink.OnVisitEnded(Holders(m_visits.size() - (v.propsRead ? 0 : 1)), v.failedStep, hr);
            m_visits.pop_back();  // releases what the visit held and writes its exit line
            if (m_visits.empty()) return hr;
        }
    }

private:
    void Enter(LPMAPIFOLDER folder, const char* path)
    {
        m_visits.push_back(std::make_unique<Visit>(__LINE__, folder, path));
        m_visits.back()->readingRows = BeginVisit(*m_visits.back());
    }

    // The properties read by the first |count| visits.
    const std::vector<const SPropValue*>& Holders(size_t count)
    {
        m_holders.clear();
        for (size_t i = 0; i < count; ++i) m_holders.push_back(m_visits[i]->props.Get());
        return m_holders;
    }

    // The folder's own part of the visit: its properties, its listing, its
    // hierarchy table. False when the visit ends here (with |v.hr|).
    bool BeginVisit(Visit& v)
    {
        PropTags<7> columns = {7, {kTagEntryId, kTagDisplayName, PR_OBJECT_TYPE, PR_DEPTH, PR_DISPLAY_TYPE, PR_STATUS,
                                   PR_COMMENT_A}};
        v.hr = GetVisitProps(v.folder, v.props, m_extraTags);
        if (FAILED(v.hr)) return v.Fail(v.props ? "properties" : "GetProps", v.hr);
        v.propsRead = true;
        const SPropValue* props = v.props.Get();
        m_sink.OnFolderVisited();
        if (props[1].Value.l == kFolderSearch) {
            size_t depth = m_visits.size() - 1;
            const SBinary* parentId = depth ? &m_visits[depth - 1]->props.Get()[2].Value.bin : nullptr;
            m_sink.OnSearchFolder({props[0].Value.lpszA, v.path, Holders(depth), props[2].Value.bin, parentId,
                                   props[3].ulPropTag == kTagContainerClass, props + 4});
        }

        v.hr = v.folder->GetHierarchyTable(0, v.table.Put());
        if (v.hr == MAPI_E_NO_SUPPORT) {
            v.hr = S_OK;  // a search folder has no sub-folders
            return false;
        }
        v.hr = Delivered(v.hr, v.table);
        if (FAILED(v.hr)) {
            TRACE_FAILED("GetHierarchyTable", v.hr);
            return v.Fail("GetHierarchyTable", v.hr);
        }
        v.hr = v.table->SetColumns(columns.get(), 0);
        if (FAILED(v.hr)) {
            TRACE_FAILED("SetColumns", v.hr);
            return v.Fail("SetColumns", v.hr);
        }
        return true;
    }

    // Opens the next sub-folder of the visit, fetching rows in batches; false
    // when the visit ends (with |v.hr|).
    bool NextSubFolder(Visit& v)
    {
        for (;;) {
            if (!v.rows || v.nextRow == v.rows->cRows) {
                v.nextRow = 0;
                v.hr = v.table->QueryRows(kBatchRows, 0, v.rows.Put());  // the previous batch goes first
                v.hr = Delivered(v.hr, v.rows);
                if (FAILED(v.hr)) {
                    TRACE_FAILED("QueryRows", v.hr);
                    return v.Fail("QueryRows", v.hr);
                }
                if (v.rows->cRows == 0) return false;
            }
            const SRow& row = v.rows->aRow[v.nextRow++];
            v.subFolder.Reset();
            if (row.cValues < 1 || row.lpProps[0].ulPropTag != kTagEntryId) {
                v.hr = E_FAIL;
                TRACE_ERROR_LINE("pRow->lpProps[0].ulPropTag not ok: hr=%lx\n", v.hr);
                return v.Fail("entry identifier", v.hr);
            }
            ULONG objectType = 0;
            v.hr = v.folder->OpenEntry(row.lpProps[0].Value.bin.cb, reinterpret_cast<LPENTRYID>(row.lpProps[0].Value.bin.lpb),
                                       nullptr, MAPI_MODIFY, &objectType, PutUnknown(v.subFolder));
            v.hr = Delivered(v.hr, v.subFolder);
            if (FAILED(v.hr)) {
                TRACE_FAILED("OpenEntry", v.hr);
                return v.Fail("OpenEntry", v.hr);
            }
            if (!v.subPath) {
                // This folder's path, "/" and its name: shared by all its sub-folders.
                size_t pathLength = strlen(v.path);
                const char* name = v.props.Get()[0].Value.lpszA;
                size_t nameLength = strlen(name);
                v.subPath.Reset(static_cast<char*>(malloc(pathLength + 1 + nameLength + 1)));
                if (!v.subPath) {
                    v.hr = E_OUTOFMEMORY;
                    TRACE_FAILED("malloc", v.hr);
                    return v.Fail("malloc", v.hr);
                }
                memcpy(v.subPath.Get(), v.path, pathLength);
                v.subPath.Get()[pathLength] = '/';
                memcpy(v.subPath.Get() + pathLength + 1, name, nameLength + 1);
            }
            return true;
        }
    }

    SearchFolderSink& m_sink;
    const std::vector<ULONG>& m_extraTags;
    std::vector<std::unique_ptr<Visit>> m_visits;
    std::vector<const SPropValue*> m_holders;
};

} // namespace

HRESULT WalkSearchFolders(LPMAPIFOLDER folder, const char* path, SearchFolderSink& sink, const std::vector<ULONG>& extraTags)
{
    return Walk(sink, extraTags).Run(folder, path);
}

// --- Deletion ---------------------------------------------------------------

HRESULT DeleteSearchFolder(LPMDB store, const SBinary& entryId, ULONG_PTR ui, ULONG flags)
{
    Ref<IMAPIFolder> parent;
    Ref<IMAPIFolder> searchFolder;
    ULONG objectType = 0;
    HRESULT hr = store->OpenEntry(entryId.cb, reinterpret_cast<LPENTRYID>(entryId.lpb), nullptr, MAPI_MODIFY,
                                  &objectType, PutUnknown(searchFolder));
    hr = Delivered(hr, searchFolder);
    if (FAILED(hr)) {
        TRACE_FAILED("OpenEntry", hr);
        return hr;
    }
    hr = GetParentFolder(store, searchFolder.Get(), parent.Put());
    if (FAILED(hr)) {
        TRACE_FAILED("GetParentFolder", hr);
        return hr;
    }
    searchFolder.Reset();  // not held open while it is deleted
    hr = parent->DeleteFolder(entryId.cb, reinterpret_cast<LPENTRYID>(entryId.lpb), static_cast<ULONG>(ui), nullptr, flags);
    if (FAILED(hr)) TRACE_FAILED("DeleteFolder", hr);
    return hr;
}

// --- The list control -------------------------------------------------------

BOOL SearchFoldersListViewCtrl::OnReflectedNotify(NMHDR* header, LRESULT& result)
{
    if (header->code != LVN_DELETEITEM) return FALSE;
    BOOL handled = TRUE;
    result = OnDeleteItem(static_cast<int>(header->idFrom), reinterpret_cast<NMLISTVIEW*>(header), handled);
    return handled;
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
    HeapBlock<SBinary>(ok ? record : nullptr).Reset();  // the row's record goes with the row
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

bool SearchFoldersListViewCtrl::SetItemRecord(int index, SBinary* record)
{
    LVITEMA data = {};
    data.mask = LVIF_PARAM;
    data.iItem = index;
    data.lParam = reinterpret_cast<LPARAM>(record);
    return SendMessageA(m_hWnd, LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&data)) != 0;
}

void SearchFoldersListViewCtrl::OnSearchFolder(const SearchFolderInfo& folder)
{
    int index = AppendFolder(folder.name, folder.path);
    HeapBlock<SBinary> record;
    SBinaryDup(&folder.entryId, record.Put());  // on failure the row keeps null data
    if (SetItemRecord(index, record.Get())) record.Detach();  // the row owns it now
    // Folders with a container class are the client's own: never listed.
    if (folder.hasContainerClass) SendMessageA(m_hWnd, LVM_DELETEITEM, index, 0);
}

HRESULT SearchFoldersListViewCtrl::InitSearchList(LPMAPISESSION session, ULONG cbStoreId, LPBYTE storeId)
{
    return ScanStore(session, cbStoreId, storeId, *this);
}

HRESULT SearchFoldersListViewCtrl::BuildSearchList(LPMAPIFOLDER folder, const char* path)
{
    return WalkSearchFolders(folder, path, *this);
}

HRESULT SearchFoldersListViewCtrl::DeleteSelection(LPMAPISESSION session, ULONG cbStoreId, LPBYTE storeId)
{
    HWND dialog = GetParent(m_hWnd);
    HRESULT hr = S_OK;
    TRACE_CALL_RET("DeleteSelection", hr);
    Ref<IMsgStore> store;

    hr = OpenStore(session, cbStoreId, storeId, store.Put());
    if (FAILED(hr)) return hr;
    for (;;) {
        // The deleted row leaves the list, so the first selected row is always the next one.
        int index = static_cast<int>(SendMessageA(m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(-1),
                                                  MAKELPARAM(LVNI_SELECTED, 0)));
        if (index < 0) break;
        BOOL ok = FALSE;
        SBinary* record = GetItemRecord(index, &ok);
        if (!ok || !record) {
            hr = E_FAIL;
            TRACE_ERROR_LINE("GetItemData() failed: hr=%lx\n", hr);
            break;
        }
        hr = DeleteSearchFolder(store.Get(), *record, reinterpret_cast<ULONG_PTR>(dialog), kDeleteFlags);
        if (FAILED(hr)) break;
        SendMessageA(m_hWnd, LVM_DELETEITEM, index, 0);
    }
    return hr;
}
