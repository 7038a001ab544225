#include "Restore.h"

#include "Conversions.h"
#include "Patterns.h"
#include "trace.h"
#include "utlis.h"

namespace {

const LONG kBatch = 1000;

// The flags of SetSearchCriteria that give a folder the search state it had.
ULONG SearchFlags(ULONG state)
{
    return (state & SEARCH_RUNNING ? RESTART_SEARCH : STOP_SEARCH) | (state & SEARCH_RECURSIVE ? RECURSIVE_SEARCH : SHALLOW_SEARCH) |
           (state & SEARCH_FOREGROUND ? FOREGROUND_SEARCH : BACKGROUND_SEARCH);
}

std::wstring Why(const wchar_t* what, HRESULT hr)
{
    return std::wstring(what) + L" (hr=" + HresultText(hr) + L")";
}

LPENTRYID EntryId(const std::string& id)
{
    return reinterpret_cast<LPENTRYID>(const_cast<char*>(id.data()));
}

} // namespace

const StoreRow* Restorer::Destination(const BackupRecord& record) const
{
    if (m_into) return m_into;
    for (const StoreRow& row : m_target.stores)
        if (row.hasEntryId && row.entryId == record.storeId) return &row;
    return nullptr;
}

HRESULT Restorer::OpenStore(const std::string& storeId, LPMDB& store)
{
    Ref<IMsgStore>& opened = m_stores[storeId];
    for (size_t i = 0; !opened && i < m_target.stores.size(); ++i) {
        const StoreRow& row = m_target.stores[i];
        if (!row.hasEntryId || row.entryId != storeId) continue;
        HRESULT hr = m_target.Open(i, opened);
        if (FAILED(hr)) return hr;
    }
    store = opened.Get();
    return store ? S_OK : MAPI_E_NOT_FOUND;
}

Restorer::Lookup Restorer::ReadChildren(LPMDB store, LPMAPIFOLDER folder, Children& children)
{
    PropTags<3> columns = {3, {kTagEntryId, kTagDisplayNameW, kTagDisplayName}};
    Ref<IMAPITable> table;
    Lookup lookup = {Delivered(folder->GetHierarchyTable(0, table.Put()), table), "GetHierarchyTable"};
    if (SUCCEEDED(lookup.hr)) lookup = {table->SetColumns(columns.get(), 0), "SetColumns"};
    for (RowSet rows; SUCCEEDED(lookup.hr);) {
        lookup = {Delivered(table->QueryRows(kBatch, 0, rows.Put()), rows), "QueryRows"};
        if (FAILED(lookup.hr) || rows->cRows == 0) break;
        for (ULONG i = 0; i < rows->cRows; ++i) {
            const SPropValue* p = rows->aRow[i].lpProps;
            if (rows->aRow[i].cValues < 3 || !p || p[0].ulPropTag != kTagEntryId) continue;
            Child child;
            child.id.assign(reinterpret_cast<const char*>(p[0].Value.bin.lpb), p[0].Value.bin.cb);
            TextOf(p[1], p[2], child.name);
            // A name the row refused or may have cut, as the scan reads it: from the folder.
            if (RowNameDoubtful(p[2], p[1])) {
                const char* step = "";
                std::string ownId;
                child.unread.hr = ReadOwn(store, child.id, ownId, child.name, &step);
                if (FAILED(child.unread.hr)) child.unread.step = step;
            }
            children.push_back(std::move(child));
        }
    }
    if (FAILED(lookup.hr)) TraceFormat(__FILE__, __LINE__, TRACE_ERROR, "%s() failed: hr=%lx\n", lookup.step.c_str(), (unsigned long)lookup.hr);
    return lookup;
}

Restorer::Lookup Restorer::Named(const Children& children, const std::wstring& name, const Child*& found)
{
    Lookup unread = {MAPI_E_NOT_FOUND, ""};
    found = nullptr;
    for (const Child& child : children) {
        if (FAILED(child.unread.hr)) {
            if (unread.step.empty()) unread = child.unread;
        } else if (SameName(child.name, name)) {
            found = &child;
            return Lookup();
        }
    }
    return unread;
}

// The folder that the names below the finder lead to, each the first sub-folder of its name.
Restorer::Lookup Restorer::ByPath(LPMDB store, const std::vector<std::wstring>& holders, Ref<IMAPIFolder>& parent)
{
    Lookup lookup = {GetFinder(store, parent.Put()), "GetFinder"};
    for (size_t level = 1; SUCCEEDED(lookup.hr) && level < holders.size(); ++level) {
        Children children;
        const Child* child = nullptr;
        lookup = ReadChildren(store, parent.Get(), children);
        if (SUCCEEDED(lookup.hr)) lookup = Named(children, holders[level], child);
        if (FAILED(lookup.hr)) break;
        ULONG type = 0;
        Ref<IMAPIFolder> next;
        lookup = {Delivered(parent->OpenEntry(static_cast<ULONG>(child->id.size()), EntryId(child->id), nullptr, MAPI_MODIFY, &type,
                                              PutUnknown(next)),
                            next),
                  "OpenEntry"};
        if (SUCCEEDED(lookup.hr)) parent.Reset(next.Detach());
    }
    if (FAILED(lookup.hr)) parent.Reset();
    return lookup;
}

Restorer::Lookup Restorer::FindParent(LPMDB store, const std::string& storeId, const BackupRecord& record, LPMAPIFOLDER& parent)
{
    auto key = std::make_pair(storeId, record.parentId);
    auto notFound = m_parentsNotFound.find(key);
    if (notFound != m_parentsNotFound.end()) return notFound->second;
    Ref<IMAPIFolder>& found = m_parents[key];
    if (!found) {
        ULONG type = 0;
        HRESULT hr = Delivered(store->OpenEntry(static_cast<ULONG>(record.parentId.size()), EntryId(record.parentId), nullptr,
                                                MAPI_MODIFY, &type, PutUnknown(found)),
                               found);
        if (FAILED(hr) || type != MAPI_FOLDER) {
            found.Reset();
            // Not found by its identifier is no failure; any other answer is one, unless the path finds it.
            Lookup byId = {hr, FAILED(hr) && hr != MAPI_E_NOT_FOUND ? "OpenEntry" : ""};
            Lookup byPath = ByPath(store, record.holders, found);
            if (FAILED(byPath.hr)) {
                m_parents.erase(key);
                if (byPath.step.empty() && !byId.step.empty()) byPath = byId;
                return m_parentsNotFound[key] = byPath;
            }
        }
    }
    parent = found.Get();
    return Lookup();
}

// Gives |made| the recorded criteria; one that never had any gets none.
HRESULT Restorer::SetCriteria(LPMAPIFOLDER made, const BackupRecord& record)
{
    if (record.MadeWithout()) return S_OK;
    std::vector<SBinary> ids;
    for (const std::string& id : record.scopeIds) ids.push_back({static_cast<ULONG>(id.size()), reinterpret_cast<LPBYTE>(const_cast<char*>(id.data()))});
    ENTRYLIST scope = {static_cast<ULONG>(ids.size()), ids.empty() ? nullptr : ids.data()};
    return made->SetSearchCriteria(const_cast<LPSRestriction>(record.restriction->Get()), &scope, SearchFlags(record.state));
}

Restored Restorer::Make(LPMAPIFOLDER parent, const BackupRecord& record)
{
    Restored result;
    Ref<IMAPIFolder> made;
    HRESULT hr = parent->CreateFolder(FOLDER_SEARCH, reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(record.name.c_str())),
                                      record.hasComment ? reinterpret_cast<LPTSTR>(const_cast<wchar_t*>(record.comment.c_str())) : nullptr,
                                      nullptr, MAPI_UNICODE, made.Put());
    hr = Delivered(hr, made);
    if (hr == MAPI_E_COLLISION) {  // a folder of that name is there: nothing is made
        result.outcome = Restored::Exists;
        return result;
    }
    if (FAILED(hr)) {
        TRACE_FAILED("CreateFolder", hr);
        result.hr = hr;
        result.reason = Why(L"the folder could not be made", hr);
        return result;
    }
    PropTags<1> tags = {1, {kTagEntryId}};
    ULONG count = 0;
    MapiBuffer<SPropValue> props;
    if (SUCCEEDED(made->GetProps(tags.get(), 0, &count, props.Put())) && count == 1 && props && props->ulPropTag == kTagEntryId)
        result.newId.assign(reinterpret_cast<const char*>(props->Value.bin.lpb), props->Value.bin.cb);
    hr = SetCriteria(made.Get(), record);
    if (SUCCEEDED(hr)) {
        result.outcome = Restored::Made;
        Made(parent, record, result.newId);
        return result;
    }
    TRACE_FAILED("SetSearchCriteria", hr);
    result.hr = hr;
    result.reason = hr == MAPI_E_NOT_FOUND     ? Why(L"a folder it searches is gone", hr)
                  : hr == MAPI_E_TOO_COMPLEX   ? Why(L"the store refuses its restriction", hr)
                                               : Why(L"its search criteria could not be set", hr);
    // Not a search folder without its criteria: the folder just made goes again.
    made.Reset();
    HRESULT removed = result.newId.empty() ? MAPI_E_NOT_FOUND
                                           : parent->DeleteFolder(static_cast<ULONG>(result.newId.size()), EntryId(result.newId), 0, nullptr, DEL_FOLDERS);
    if (removed != S_OK) result.reason += L"; the folder made could not be taken away again (hr=" + HresultText(removed) + L")";
    return result;
}

void Restorer::Made(LPMAPIFOLDER parent, const BackupRecord& record, const std::string& id)
{
    auto known = m_children.find(parent);
    if (known != m_children.end()) known->second.push_back({record.name, id, Lookup()});
}

Restorer::Lookup Restorer::Exists(LPMDB store, LPMAPIFOLDER parent, const std::wstring& name)
{
    auto known = m_children.find(parent);
    if (known == m_children.end()) {
        Children children;
        Lookup read = ReadChildren(store, parent, children);
        if (FAILED(read.hr)) return read;
        known = m_children.emplace(parent, std::move(children)).first;
    }
    const Child* found = nullptr;
    return Named(known->second, name, found);
}

Restored Restorer::Restore(const BackupRecord& record, bool dryRun)
{
    Restored result;
    auto fail = [&](HRESULT hr, const std::wstring& why) {
        result.hr = hr;
        result.reason = why;
        return result;
    };
    // Where it goes: its store (or the one chosen), and the folder that held it.
    const std::string& storeId = m_into ? m_into->entryId : record.storeId;
    LPMDB store = nullptr;
    LPMAPIFOLDER parent = nullptr;
    HRESULT storeHr = record.parentId.empty() ? MAPI_E_NO_SUPPORT : OpenStore(storeId, store);
    Lookup lookup = SUCCEEDED(storeHr) ? FindParent(store, storeId, record, parent) : Lookup{storeHr, "OpenMsgStore"};
    // A folder of its name there already: nothing to make, whatever the record holds.
    Lookup there = {MAPI_E_NOT_FOUND, ""};
    const bool makeable = record.restriction || record.MadeWithout();
    if (parent && (dryRun || !makeable)) there = Exists(store, parent, record.name);
    if (SUCCEEDED(there.hr)) {
        result.outcome = Restored::Exists;
        return result;
    }
    if (!makeable) return fail(record.criteriaHr, L"it was backed up without its search criteria: " + record.criteriaError);
    if (record.parentId.empty()) return fail(storeHr, L"it was the finder folder itself, which is not made again");
    if (FAILED(storeHr))
        return fail(storeHr, Why((L"its store (entryid " + HexOf(storeId) + L") is not in profile " + Quoted(m_target.profile.name) +
                                  L" or could not be opened").c_str(), storeHr));
    const std::wstring holder = L"the folder that held it, " + record.path + L", ";
    if (FAILED(lookup.hr) && lookup.step.empty())
        return fail(lookup.hr, Why((holder + L"is gone: not found by its entry identifier nor by its path").c_str(), lookup.hr));
    if (FAILED(lookup.hr))
        return fail(lookup.hr, Why((holder + L"could not be looked for: " + FromAnsi(lookup.step.c_str()) + L" failed").c_str(), lookup.hr));
    if (!there.step.empty())
        return fail(there.hr, Why((L"the folder that held it could not be read: " + FromAnsi(there.step.c_str()) + L" failed").c_str(), there.hr));
    if (!dryRun) return Make(parent, record);
    result.outcome = Restored::WouldMake;
    Made(parent, record, std::string());  // a dry run treats it as made
    return result;
}
