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

HRESULT Restorer::ReadChildren(LPMAPIFOLDER folder, Children& children)
{
    PropTags<3> columns = {3, {kTagEntryId, kTagDisplayNameW, kTagDisplayName}};
    Ref<IMAPITable> table;
    HRESULT hr = Delivered(folder->GetHierarchyTable(0, table.Put()), table);
    if (SUCCEEDED(hr)) hr = table->SetColumns(columns.get(), 0);
    for (RowSet rows; SUCCEEDED(hr);) {
        hr = Delivered(table->QueryRows(kBatch, 0, rows.Put()), rows);
        if (FAILED(hr) || rows->cRows == 0) break;
        for (ULONG i = 0; i < rows->cRows; ++i) {
            const SPropValue* p = rows->aRow[i].lpProps;
            if (rows->aRow[i].cValues < 3 || !p || p[0].ulPropTag != kTagEntryId) continue;
            std::wstring name;
            TextOf(p[1], p[2], name);
            children.emplace_back(name, std::string(reinterpret_cast<const char*>(p[0].Value.bin.lpb), p[0].Value.bin.cb));
        }
    }
    if (FAILED(hr)) TRACE_FAILED("ReadChildren", hr);
    return hr;
}

// The folder that the names below the finder lead to, each the first sub-folder of its name.
HRESULT Restorer::ByPath(LPMDB store, const std::vector<std::wstring>& holders, Ref<IMAPIFolder>& parent)
{
    HRESULT hr = GetFinder(store, parent.Put());
    for (size_t level = 1; SUCCEEDED(hr) && level < holders.size(); ++level) {
        Children children;
        hr = ReadChildren(parent.Get(), children);
        if (FAILED(hr)) break;
        hr = MAPI_E_NOT_FOUND;
        for (const auto& child : children) {
            if (!SameName(child.first, holders[level])) continue;
            ULONG type = 0;
            Ref<IMAPIFolder> next;
            hr = Delivered(parent->OpenEntry(static_cast<ULONG>(child.second.size()), EntryId(child.second), nullptr, MAPI_MODIFY,
                                             &type, PutUnknown(next)),
                           next);
            if (SUCCEEDED(hr)) parent.Reset(next.Detach());
            break;
        }
    }
    if (FAILED(hr)) parent.Reset();
    return hr;
}

HRESULT Restorer::FindParent(LPMDB store, const BackupRecord& record, LPMAPIFOLDER& parent)
{
    auto key = std::make_pair(record.storeId, record.parentId);
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
            HRESULT byPath = ByPath(store, record.holders, found);
            if (FAILED(byPath)) {
                m_parents.erase(key);
                return m_parentsNotFound[key] = FAILED(hr) ? hr : byPath;
            }
        }
    }
    parent = found.Get();
    return S_OK;
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
    std::vector<SBinary> ids;
    for (const std::string& id : record.scopeIds) ids.push_back({static_cast<ULONG>(id.size()), reinterpret_cast<LPBYTE>(const_cast<char*>(id.data()))});
    ENTRYLIST scope = {static_cast<ULONG>(ids.size()), ids.empty() ? nullptr : ids.data()};
    hr = made->SetSearchCriteria(const_cast<LPSRestriction>(record.restriction->Get()), &scope, SearchFlags(record.state));
    if (SUCCEEDED(hr)) {
        result.outcome = Restored::Made;
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

bool Restorer::Exists(LPMAPIFOLDER parent, const std::wstring& name, HRESULT& hr)
{
    auto known = m_children.find(parent);
    if (known == m_children.end()) {
        known = m_children.emplace(parent, Children()).first;
        hr = ReadChildren(parent, known->second);
        if (FAILED(hr)) m_children.erase(known);
        if (FAILED(hr)) return false;
    }
    for (const auto& child : known->second)
        if (SameName(child.first, name)) return true;
    return false;
}

Restored Restorer::Restore(const BackupRecord& record, bool dryRun)
{
    Restored result;
    auto fail = [&](HRESULT hr, const std::wstring& why) {
        result.hr = hr;
        result.reason = why;
        return result;
    };
    // Where it goes: its store, and the folder that held it.
    LPMDB store = nullptr;
    LPMAPIFOLDER parent = nullptr;
    HRESULT storeHr = record.parentId.empty() ? MAPI_E_NO_SUPPORT : OpenStore(record.storeId, store);
    HRESULT parentHr = SUCCEEDED(storeHr) ? FindParent(store, record, parent) : storeHr;
    // A folder of its name there already: nothing to make, whatever the record holds.
    HRESULT hr = S_OK;
    if (parent && (dryRun || !record.restriction) && Exists(parent, record.name, hr)) {
        result.outcome = Restored::Exists;
        return result;
    }
    if (!record.restriction) return fail(record.criteriaHr, L"it was backed up without its search criteria: " + record.criteriaError);
    if (record.parentId.empty()) return fail(storeHr, L"it was the finder folder itself, which is not made again");
    if (FAILED(storeHr))
        return fail(storeHr, Why((L"its store (entryid " + HexOf(record.storeId) + L") is not in profile " + Quoted(m_target.profile.name) +
                                  L" or could not be opened").c_str(), storeHr));
    if (FAILED(parentHr))
        return fail(parentHr, Why((L"the folder that held it, " + Visible(record.path) +
                                   L", is gone: not found by its entry identifier nor by its path").c_str(), parentHr));
    if (FAILED(hr)) return fail(hr, Why(L"the folder that held it could not be read", hr));
    if (!dryRun) return Make(parent, record);
    result.outcome = Restored::WouldMake;
    return result;
}
