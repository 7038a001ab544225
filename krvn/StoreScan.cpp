#include "StoreScan.h"

#include <set>

#include "Conversions.h"
#include "trace.h"
#include "utlis.h"

const std::vector<ULONG> kVisitTags = {PR_LAST_MODIFICATION_TIME, PR_CONTENT_COUNT, kTagDisplayNameW, PR_COMMENT_W, PR_COMMENT_A};

namespace {

const LONG kDeepBatch = 1000;
const LONG kFolderSearch = 2;  // FOLDER_SEARCH

std::string Bytes(const SBinary& bin)
{
    return std::string(reinterpret_cast<const char*>(bin.lpb), bin.cb);
}

// What krvn keeps of the kVisitTags values at |extra|, however they were read.
struct Visited {
    Evidence evidence;
    bool hasNameW = false;
    std::wstring nameW;
    bool hasComment = false;
    bool commentRefused = false;  // too long for the row: its folder has it
    std::wstring comment;
};

Visited ReadVisited(const SPropValue* extra)
{
    Visited v;
    v.evidence.hasModified = extra[0].ulPropTag == PR_LAST_MODIFICATION_TIME;
    if (v.evidence.hasModified) v.evidence.modified = extra[0].Value.ft;
    v.evidence.hasItems = extra[1].ulPropTag == PR_CONTENT_COUNT;
    if (v.evidence.hasItems) v.evidence.items = static_cast<ULONG>(extra[1].Value.l);
    v.hasNameW = extra[2].ulPropTag == kTagDisplayNameW && extra[2].Value.lpszW;
    if (v.hasNameW) v.nameW = extra[2].Value.lpszW;
    v.hasComment = TextOf(extra[3], extra[4], v.comment);
    v.commentRefused = !v.hasComment && (Refused(extra[3]) || Refused(extra[4]));
    return v;
}

// A folder's name as its visit read it (|props| as GetVisitProps reads them
// with kVisitTags): the Unicode name where the provider has one.
std::wstring VisitName(const SPropValue* props)
{
    std::wstring name;
    TextOf(props[4 + 2], props[0], name);
    return name;
}

std::vector<std::wstring> Names(const std::vector<const SPropValue*>& visits)
{
    std::vector<std::wstring> out;
    for (const SPropValue* props : visits) out.push_back(VisitName(props));
    return out;
}

// A found folder from what its visit or row read.
Found MakeFound(std::wstring name, std::vector<std::wstring> holders, std::string id, std::string parent, const Visited& v)
{
    Found found = {0, std::move(name), std::move(holders), std::move(id), std::move(parent), v.evidence};
    found.hasComment = v.hasComment;
    found.commentRefused = v.commentRefused;
    found.comment = v.comment;
    return found;
}

// What a missing column came with: its error, or E_FAIL for a value of another type.
HRESULT Lack(const SPropValue& value)
{
    return PROP_TYPE(value.ulPropTag) == PT_ERROR ? value.Value.err : E_FAIL;
}

// One row of the deep table, as far as the row holds it.
struct Row {
    bool hasId = false, hasName = false, hasType = false, hasParent = false;
    std::string id, ansiName, parent;
    std::wstring name;        // the Unicode name where the row has one
    bool search = false, hasClass = false;
    bool nameRefused = false;  // too long for the row
    bool nameDoubtful = false;  // refused, or maybe cut: its folder has it whole
    HRESULT lacking = S_OK;    // the error of its first missing identifier, name or type
    Visited visited;
};

enum { kId, kName, kType, kClass, kParent, kVisited, kColumns = kVisited + 5 };

// |wide| in the ANSI code page, as the 8-bit name of a folder shows it.
std::string Narrow(const wchar_t* wide)
{
    int length = WideCharToMultiByte(CP_ACP, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    std::string out(length > 0 ? length : 1, '\0');
    WideCharToMultiByte(CP_ACP, 0, wide, -1, &out[0], length, nullptr, nullptr);
    out.resize(out.size() - 1);
    return out;
}

// Reads every row of the finder's deep table; false when the table cannot be
// had or fails part way (the walk then does the work).
bool ReadDeepTable(LPMAPIFOLDER finder, std::vector<Row>& rows)
{
    PropTags<kColumns> columns = {kColumns, {kTagEntryId, kTagDisplayName, kTagFolderType, kTagContainerClass, kTagParentEntryId}};
    std::copy(kVisitTags.begin(), kVisitTags.end(), columns.aulPropTag + kVisited);
    Ref<IMAPITable> table;
    HRESULT hr = finder->GetHierarchyTable(CONVENIENT_DEPTH, table.Put());
    hr = Delivered(hr, table);
    if (SUCCEEDED(hr)) hr = table->SetColumns(columns.get(), 0);
    for (RowSet batch; SUCCEEDED(hr);) {
        hr = table->QueryRows(kDeepBatch, 0, batch.Put());
        hr = Delivered(hr, batch);
        if (FAILED(hr) || batch->cRows == 0) break;
        for (ULONG i = 0; i < batch->cRows; ++i) {
            const SRow& r = batch->aRow[i];
            if (r.cValues < kColumns || !r.lpProps) return false;
            const SPropValue* p = r.lpProps;
            Row row;
            row.hasId = p[kId].ulPropTag == kTagEntryId;
            row.hasName = p[kName].ulPropTag == kTagDisplayName;
            row.nameRefused = !row.hasName && Refused(p[kName]);
            row.hasName |= row.nameRefused;
            row.hasType = p[kType].ulPropTag == kTagFolderType;
            row.hasParent = p[kParent].ulPropTag == kTagParentEntryId;
            if (row.hasId) row.id = Bytes(p[kId].Value.bin);
            if (row.hasName && !row.nameRefused) row.ansiName = p[kName].Value.lpszA;
            if (row.hasParent) row.parent = Bytes(p[kParent].Value.bin);
            row.search = row.hasType && p[kType].Value.l == kFolderSearch;
            row.hasClass = p[kClass].ulPropTag == kTagContainerClass;
            for (int column : {kId, kName, kType})
                if (row.lacking == S_OK && p[column].ulPropTag != columns.aulPropTag[column] && !(column == kName && row.nameRefused))
                    row.lacking = Lack(p[column]);
            row.visited = ReadVisited(p + kVisited);
            row.nameDoubtful = RowNameDoubtful(p[kName], p[kVisited + 2]);
            if (row.hasName) row.name = row.visited.hasNameW ? row.visited.nameW : FromAnsi(row.ansiName.c_str());
            rows.push_back(std::move(row));
        }
    }
    if (FAILED(hr)) TraceFormat(__FILE__, __LINE__, TRACE_WARNING, "deep hierarchy table failed: hr=%lx\n", (unsigned long)hr);
    return SUCCEEDED(hr);
}

using Children = std::map<std::string, std::vector<size_t>>;

// Places the rows below the finder by their parents' entry identifiers. The
// table is trusted only where its identifiers are whole: the finder's direct
// sub-folders carry the finder's own identifier byte for byte, every other row
// another row's, no two rows share one (a cut makes them alike), and none is
// as long as a provider's usual cut. A row that cannot be reached from the
// finder must hang below a row without an identifier, and is skipped with it.
bool PlaceRows(const std::string& finderId, const std::vector<Row>& rows, Children& children)
{
    if (rows.empty()) return true;
    std::set<std::string> ids = {finderId};
    bool direct = false, idless = false;
    for (size_t i = 0; i < rows.size(); ++i) {
        const Row& row = rows[i];
        if (!row.hasParent || row.parent.size() >= kTableCut || row.id.size() >= kTableCut) return false;
        if (row.hasId && !ids.insert(row.id).second) return false;
        idless |= !row.hasId;
        direct |= row.parent == finderId;
        children[row.parent].push_back(i);
    }
    if (!direct) return false;
    size_t reached = 0;
    std::vector<const std::string*> below = {&finderId};
    while (!below.empty()) {
        auto it = children.find(*below.back());
        below.pop_back();
        if (it == children.end()) continue;
        for (size_t i : it->second) {
            ++reached;
            if (rows[i].hasId) below.push_back(&rows[i].id);
        }
    }
    return reached == rows.size() || idless;
}

// A provider may cut the strings and binaries of its rows short. The longest
// identifier, when longer than the finder's own (which the rows carried whole),
// is compared with its folder's own: if it was cut, the walk decides. A name
// the row may not hold whole is read from its folder.
bool CheckCuts(LPMDB store, const std::string& finderId, std::vector<Row>& rows)
{
    const Row* longest = nullptr;
    for (const Row& row : rows)
        if (row.hasId && (!longest || row.id.size() > longest->id.size())) longest = &row;
    std::string ownId;
    std::wstring ownName;
    if (longest && longest->id.size() > finderId.size() && (FAILED(ReadOwn(store, longest->id, ownId, ownName)) || ownId != longest->id))
        return false;
    for (Row& row : rows)
        if (row.hasId && row.hasName && row.nameDoubtful && FAILED(ReadOwn(store, row.id, ownId, row.name)))
            return false;
    return true;
}

// Lists the search folders below the finder from the placed rows. A row
// without an identifier, a name or a folder type cannot be judged: it is
// skipped with everything below it, and reported.
void ListRows(const std::string& finderId, const std::wstring& finderName, const std::vector<Row>& rows,
              const Children& children, Collector& collector)
{
    struct Level {
        const std::vector<size_t>* rows;
        size_t next;
        std::vector<std::wstring> names;  // of this level's folder, from the finder on
    };
    std::vector<Level> levels;
    auto enter = [&](const std::string& id, std::vector<std::wstring> names) {
        auto it = children.find(id);
        if (it != children.end()) levels.push_back({&it->second, 0, std::move(names)});
    };
    enter(finderId, {finderName});
    while (!levels.empty()) {
        Level& level = levels.back();
        if (level.next == level.rows->size()) {
            levels.pop_back();
            continue;
        }
        const Row& row = rows[(*level.rows)[level.next++]];
        if (!row.hasId || !row.hasName || !row.hasType) {
            collector.Damaged(level.names, row.hasId ? "properties" : "entry identifier", row.lacking);
            continue;
        }
        collector.OnFolderVisited();
        std::vector<std::wstring> names = level.names;  // |level| may move when a level is entered
        if (row.search) collector.Add(MakeFound(row.name, names, row.id, row.parent, row.visited), row.hasClass);
        names.push_back(row.name);
        enter(row.id, std::move(names));
    }
}

// The finder as the walk visits it, then everything below it from the deep
// table, or by the walk when the table cannot be had or trusted.
HRESULT ScanFinder(LPMDB store, LPMAPIFOLDER finder, Collector& collector)
{
    MapiBuffer<SPropValue> props;
    HRESULT hr = GetVisitProps(finder, props, kVisitTags);
    if (FAILED(hr)) {
        collector.Damaged({}, props ? "properties" : "GetProps", hr);
        return hr;
    }
    const SPropValue* p = props.Get();
    collector.OnFolderVisited();
    std::wstring finderName = VisitName(p);
    if (p[1].Value.l == kFolderSearch) {
        // A search folder has no sub-folders: the walk lists it and ends there.
        collector.Add(MakeFound(finderName, {}, Bytes(p[2].Value.bin), std::string(), ReadVisited(p + 4)),
                      p[3].ulPropTag == kTagContainerClass);
        return S_OK;
    }
    std::string finderId = Bytes(p[2].Value.bin);
    std::vector<Row> rows;
    Children children;
    if (ReadDeepTable(finder, rows) && PlaceRows(finderId, rows, children) && CheckCuts(store, finderId, rows)) {
        ListRows(finderId, finderName, rows, children, collector);
        return S_OK;
    }
    TraceFormat(__FILE__, __LINE__, TRACE_WARNING, "the deep hierarchy table cannot be used: walking the folders\n");
    hr = WalkSearchFolders(finder, "", collector, kVisitTags);
    if (FAILED(hr)) TRACE_FAILED("BuildSearchList", hr);
    return hr;
}

} // namespace

bool RowNameDoubtful(const SPropValue& ansi, const SPropValue& wide)
{
    if (Refused(ansi) || Refused(wide)) return true;
    bool hasAnsi = ansi.ulPropTag == kTagDisplayName && ansi.Value.lpszA, hasWide = wide.ulPropTag == kTagDisplayNameW && wide.Value.lpszW;
    return (hasAnsi && strlen(ansi.Value.lpszA) >= kTableCut) || (hasWide && wcslen(wide.Value.lpszW) >= kTableCut) ||
           (hasAnsi && hasWide && Narrow(wide.Value.lpszW) != ansi.Value.lpszA);
}

HRESULT ReadOwn(LPMDB store, const std::string& id, std::string& ownId, std::wstring& name, const char** step)
{
    Ref<IMAPIProp> folder;
    ULONG type = 0;
    if (step) *step = "OpenEntry";
    HRESULT hr = store->OpenEntry(static_cast<ULONG>(id.size()), reinterpret_cast<LPENTRYID>(const_cast<char*>(id.data())),
                                  nullptr, 0, &type, PutUnknown(folder));
    if (FAILED(hr = Delivered(hr, folder))) return hr;
    if (step) *step = "GetProps";
    PropTags<3> tags = {3, {kTagEntryId, kTagDisplayName, kTagDisplayNameW}};
    ULONG count = 0;
    MapiBuffer<SPropValue> props;
    if (FAILED(hr = folder->GetProps(tags.get(), 0, &count, props.Put()))) return hr;
    const SPropValue* p = props.Get();
    if (count != 3 || !p || p[0].ulPropTag != kTagEntryId || p[1].ulPropTag != kTagDisplayName) return MAPI_E_NOT_FOUND;
    ownId = Bytes(p[0].Value.bin);
    return TextOf(p[2], p[1], name) ? S_OK : MAPI_E_NOT_FOUND;
}

std::wstring PathText(const std::vector<std::wstring>& names)
{
    std::wstring text;
    for (const std::wstring& name : names) text += L"/" + name;
    return text;
}

void Collector::OnSearchFolder(const SearchFolderInfo& folder)
{
    Visited visited = ReadVisited(folder.extra);
    Add(MakeFound(visited.hasNameW ? visited.nameW : FromAnsi(folder.name), Names(folder.holders), Bytes(folder.entryId),
                  folder.parentId ? Bytes(*folder.parentId) : std::string(), visited),
        folder.hasContainerClass);
}

void Collector::OnFolderVisited()
{
    if (m_progress) m_progress->Scanned();
}

void Collector::OnVisitEnded(const std::vector<const SPropValue*>& where, const char* step, HRESULT hr)
{
    Damaged(Names(where), step, hr);
}

void Collector::Add(Found folder, bool hasContainerClass)
{
    if (hasContainerClass) return;
    folder.store = m_store;
    m_found.push_back(std::move(folder));
}

void Collector::Damaged(std::vector<std::wstring> where, const char* step, HRESULT hr)
{
    Damage damage = {m_store, PathText(where), step, hr};
    if (m_reported.insert({damage.path, {damage.step, hr}}).second) m_damage.push_back(std::move(damage));
}

HRESULT ScanStoreFast(LPMAPISESSION session, std::string storeId, Collector& collector, ScanStep* failedAt, bool exactWalk)
{
    ULONG cb = static_cast<ULONG>(storeId.size());
    LPBYTE id = reinterpret_cast<LPBYTE>(&storeId[0]);
    if (exactWalk) return ScanStore(session, cb, id, collector, failedAt, kVisitTags);
    HRESULT hr = S_OK;
    TRACE_CALL_RET("ScanStoreFast", hr);
    Ref<IMsgStore> store;
    Ref<IMAPIFolder> finder;  // released before the store
    hr = OpenFinder(session, cb, id, store, finder, *failedAt);
    if (SUCCEEDED(hr)) {
        hr = ScanFinder(store.Get(), finder.Get(), collector);
        if (FAILED(hr)) *failedAt = ScanStep::Walk;
    }
    return hr;
}

HRESULT Deleter::Delete(const Found& folder, const char*& step)
{
    step = "DeleteFolder";
    SBinary id = {static_cast<ULONG>(folder.entryId.size()), reinterpret_cast<LPBYTE>(const_cast<char*>(folder.entryId.data()))};
    if (folder.parentId.empty()) return DeleteSearchFolder(m_store, id, 0, DEL_FOLDERS);
    // Siblings share their parent: it is opened once, for all of them.
    Ref<IMAPIFolder>& parent = m_parents[folder.parentId];
    if (!parent) {
        ULONG type = 0;
        HRESULT hr = m_store->OpenEntry(static_cast<ULONG>(folder.parentId.size()),
                                        reinterpret_cast<LPENTRYID>(const_cast<char*>(folder.parentId.data())), nullptr,
                                        MAPI_MODIFY, &type, PutUnknown(parent));
        hr = Delivered(hr, parent);
        if (FAILED(hr)) {
            TRACE_FAILED("OpenEntry", hr);
            parent.Reset();
            step = "OpenEntry";
            return hr;
        }
    }
    HRESULT hr = parent->DeleteFolder(id.cb, reinterpret_cast<LPENTRYID>(id.lpb), 0, nullptr, DEL_FOLDERS);
    if (FAILED(hr)) TRACE_FAILED("DeleteFolder", hr);
    return hr;
}
