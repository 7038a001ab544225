#include "StoreScan.h"

#include <map>

#include "Records.h"
#include "trace.h"
#include "utlis.h"

namespace {

const LONG kDeepBatch = 1000;
const LONG kFolderSearch = 2;  // FOLDER_SEARCH
// Providers may cut the strings and binaries of table rows at 255 bytes.
const size_t kTableCut = 255;

std::string Bytes(const SBinary& bin)
{
    return std::string(reinterpret_cast<const char*>(bin.lpb), bin.cb);
}

// One row of the deep table, as far as the row holds it.
struct Row {
    bool hasId = false, hasName = false, hasType = false, hasParent = false;
    std::string id, name, parent;
    bool search = false, hasClass = false;
};

enum { kId, kName, kType, kClass, kParent };

// Reads every row of the finder's deep table; false when the table cannot be
// had or fails part way (the walk then does the work).
bool ReadDeepTable(LPMAPIFOLDER finder, std::vector<Row>& rows)
{
    PropTags<5> columns = {5, {kTagEntryId, kTagDisplayName, kTagFolderType, kTagContainerClass, kTagParentEntryId}};
    Ref<IMAPITable> table;
    HRESULT hr = finder->GetHierarchyTable(CONVENIENT_DEPTH, table.Put());
    if (SUCCEEDED(hr)) hr = table->SetColumns(columns.get(), 0);
    for (RowSet batch; SUCCEEDED(hr);) {
        hr = table->QueryRows(kDeepBatch, 0, batch.Put());
        if (FAILED(hr) || !batch || batch->cRows == 0) break;
        for (ULONG i = 0; i < batch->cRows; ++i) {
            const SRow& r = batch->aRow[i];
            if (r.cValues < 5) return false;
            const SPropValue* p = r.lpProps;
            Row row;
            row.hasId = p[kId].ulPropTag == kTagEntryId;
            row.hasName = p[kName].ulPropTag == kTagDisplayName;
            row.hasType = p[kType].ulPropTag == kTagFolderType;
            row.hasParent = p[kParent].ulPropTag == kTagParentEntryId;
            if (row.hasId) row.id = Bytes(p[kId].Value.bin);
            if (row.hasName) row.name = p[kName].Value.lpszA;
            if (row.hasParent) row.parent = Bytes(p[kParent].Value.bin);
            row.search = row.hasType && p[kType].Value.l == kFolderSearch;
            row.hasClass = p[kClass].ulPropTag == kTagContainerClass;
            // A row that cannot be placed, or an identifier that may be cut, cannot be trusted.
            if (!row.hasParent || row.id.size() >= kTableCut || row.parent.size() >= kTableCut) return false;
            // The walk's visit of a folder ends at a sub-folder row without an entry
            // identifier; which siblings follow it is the order of the folder's own
            // table, which a deep table need not keep. The walk decides then.
            if (!row.hasId) return false;
            rows.push_back(row);
        }
    }
    if (FAILED(hr)) TraceFormat(__FILE__, __LINE__, TRACE_WARNING, "deep hierarchy table failed: hr=%lx\n", (unsigned long)hr);
    return SUCCEEDED(hr);
}

// The folder's own display name, for a name that the table may have cut.
bool ReadName(LPMDB store, const std::string& id, std::string& name)
{
    Ref<IMAPIProp> folder;
    ULONG type = 0;
    if (FAILED(store->OpenEntry(static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(const_cast<char*>(id.data())),
                                nullptr, 0, &type, PutUnknown(folder))))
        return false;
    PropTags<1> tags = {1, {kTagDisplayName}};
    ULONG count = 0;
    MapiBuffer<SPropValue> props;
    if (FAILED(folder->GetProps(tags.get(), 0, &count, props.Put())) || count != 1 || props->ulPropTag != kTagDisplayName)
        return false;
    name = props->Value.lpszA;
    return true;
}

// Lists what the walk would list, from the deep table's rows: depth first from
// the finder, sub-folders in table order, with the walk's rule that a folder
// without a name or a type is skipped with everything below it. False when a
// name cannot be read.
struct Listed {
    std::string name, path, id, parent;
    bool hasClass;
};

bool ListFromRows(LPMDB store, const std::string& finderId, const std::string& finderName, std::vector<Row>& rows,
                  std::vector<Listed>& listed, Collector& collector)
{
    std::map<std::string, std::vector<size_t>> children;
    for (size_t i = 0; i < rows.size(); ++i) children[rows[i].parent].push_back(i);
    struct Level {
        const std::vector<size_t>* rows;
        size_t next;
        std::string path;  // the path that this level's folders show
    };
    std::vector<Level> levels;
    static const std::vector<size_t> none;
    auto enter = [&](const std::string& id, const std::string& path) {
        auto it = children.find(id);
        levels.push_back({it == children.end() ? &none : &it->second, 0, path});
    };
    enter(finderId, "/" + finderName);
    while (!levels.empty()) {
        Level& level = levels.back();
        if (level.next == level.rows->size()) {
            levels.pop_back();
            continue;
        }
        Row& row = rows[(*level.rows)[level.next++]];
        if (!row.hasName || !row.hasType) continue;
        collector.OnFolderVisited();
        if (row.name.size() >= kTableCut && !ReadName(store, row.id, row.name)) return false;
        std::string path = level.path;  // |level| may move when a level is entered
        if (row.search) listed.push_back({row.name, path, row.id, row.parent, row.hasClass});
        enter(row.id, path + "/" + row.name);
    }
    return true;
}

// The finder as the walk visits it, then everything below it from the deep
// table, or by the walk when the table cannot be had or trusted.
HRESULT ScanFinder(LPMDB store, LPMAPIFOLDER finder, Collector& collector)
{
    MapiBuffer<SPropValue> props;
    HRESULT hr = GetVisitProps(finder, props);
    if (FAILED(hr)) return hr;
    const SPropValue* p = props.Get();
    collector.OnFolderVisited();
    if (p[1].Value.l == kFolderSearch) {
        // A search folder has no sub-folders: the walk lists it and ends there.
        collector.Add(p[0].Value.lpszA, "", Bytes(p[2].Value.bin), std::string(), p[3].ulPropTag == kTagContainerClass);
        return S_OK;
    }
    std::vector<Row> rows;
    std::vector<Listed> listed;  // committed only when the whole table could be used
    if (ReadDeepTable(finder, rows) && ListFromRows(store, Bytes(p[2].Value.bin), p[0].Value.lpszA, rows, listed, collector)) {
        for (const Listed& folder : listed) collector.Add(folder.name, folder.path, folder.id, folder.parent, folder.hasClass);
        return S_OK;
    }
    TraceFormat(__FILE__, __LINE__, TRACE_WARNING, "the deep hierarchy table cannot be used: walking the folders\n");
    hr = WalkSearchFolders(finder, "", collector);
    if (FAILED(hr)) TRACE_FAILED("BuildSearchList", hr);
    return hr;
}

} // namespace

void Collector::OnSearchFolder(const char* name, const char* path, const SBinary& entryId, bool hasContainerClass)
{
    if (!hasContainerClass) found_.push_back({store_, FromAnsi(name), FromAnsi(path), Bytes(entryId), std::string()});
}

void Collector::OnFolderVisited()
{
    if (progress_) progress_->Scanned();
}

void Collector::Add(const std::string& name, const std::string& path, const std::string& entryId,
                    const std::string& parentId, bool hasContainerClass)
{
    if (!hasContainerClass)
        found_.push_back({store_, FromAnsi(name.c_str()), FromAnsi(path.c_str()), entryId, parentId});
}

HRESULT ScanStoreFast(LPMAPISESSION session, std::string storeId, Collector& collector, ScanStep* failedAt, bool exactWalk)
{
    if (exactWalk)
        return ScanStore(session, static_cast<ULONG>(storeId.size()), reinterpret_cast<LPBYTE>(&storeId[0]), collector, failedAt);
    HRESULT hr = S_OK;
    TRACE_CALL_RET("ScanStoreFast", hr);
    Ref<IMsgStore> store;
    Ref<IMAPIFolder> finder;  // released before the store
    ScanStep step = ScanStep::OpenStore;
    hr = OpenStore(session, static_cast<ULONG>(storeId.size()), reinterpret_cast<LPBYTE>(&storeId[0]), store.Put());
    if (SUCCEEDED(hr)) {
        step = ScanStep::GetFinder;
        hr = GetFinder(store.Get(), finder.Put());
        if (FAILED(hr)) TRACE_FAILED("GetFinder", hr);
    }
    if (SUCCEEDED(hr)) {
        step = ScanStep::Walk;
        hr = ScanFinder(store.Get(), finder.Get(), collector);
    }
    *failedAt = FAILED(hr) ? step : ScanStep::None;
    return hr;
}

HRESULT DeleteFound(LPMDB store, const Found& folder)
{
    SBinary id = {static_cast<ULONG>(folder.entryId.size()), reinterpret_cast<LPBYTE>(const_cast<char*>(folder.entryId.data()))};
    if (folder.parentId.empty()) return DeleteSearchFolder(store, id, 0, DEL_FOLDERS);
    // The deep table named the parent: open it alone, and delete from it.
    Ref<IMAPIFolder> parent;
    ULONG type = 0;
    HRESULT hr = store->OpenEntry(static_cast<ULONG>(folder.parentId.size()),
                                  reinterpret_cast<LPENTRYID>(const_cast<char*>(folder.parentId.data())), nullptr, MAPI_MODIFY,
                                  &type, PutUnknown(parent));
    if (FAILED(hr)) {
        TRACE_FAILED("OpenEntry", hr);
        return hr;
    }
    hr = parent->DeleteFolder(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), 0, nullptr, DEL_FOLDERS);
    if (FAILED(hr)) TRACE_FAILED("DeleteFolder", hr);
    return hr;
}
