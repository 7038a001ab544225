#include "utlis.h"

#include <stdlib.h>
#include <string.h>

#include "trace.h"

HRESULT SBinaryDup(const SBinary* source, SBinary** copy)
{
    HRESULT hr = S_OK;
    TRACE_CALL_RET("SBinaryDup", hr);
    SBinary* block = static_cast<SBinary*>(malloc(sizeof(SBinary) + source->cb));
    if (!block) {
        hr = E_OUTOFMEMORY;
        TRACE_FAILED("malloc", hr);
        return hr;
    }
    block->cb = source->cb;
    block->lpb = reinterpret_cast<LPBYTE>(block + 1);
    if (source->cb) memcpy(block->lpb, source->lpb, source->cb);
    *copy = block;
    return hr;
}

void FreeRowSet(LPSRowSet& rows)
{
    if (rows) {
        for (ULONG i = 0; i < rows->cRows; ++i) MAPIFreeBuffer(rows->aRow[i].lpProps);
        MAPIFreeBuffer(rows);
    }
    rows = nullptr;
}

namespace {

// GetFinder and GetParentFolder: read one PT_BINARY identifier from |source|
// and open what it names on |store| for writing.
HRESULT OpenFolderFromProperty(LPMDB store, LPMAPIPROP source, ULONG tag,
                               const char* invalidMessage, LPMAPIFOLDER* folder)
{
    PropTags<1> tags = {1, {tag}};
    ULONG count = 0;
    MapiBuffer<SPropValue> props;  // freed last
    Ref<IUnknown> opened;

    HRESULT hr = source->GetProps(tags.get(), 0, &count, props.Put());
    if (FAILED(hr)) {
        TRACE_FAILED("GetProps", hr);
        return hr;
    }
    if (count != 1 || !props || props->ulPropTag != tag) {
        hr = E_FAIL;
        TraceFormat(__FILE__, __LINE__, TRACE_ERROR, invalidMessage, (unsigned long)hr);
        return hr;
    }
    ULONG objectType = 0;
    hr = store->OpenEntry(props->Value.bin.cb, reinterpret_cast<LPENTRYID>(props->Value.bin.lpb), nullptr,
                          MAPI_MODIFY, &objectType, opened.Put());
    hr = Delivered(hr, opened);
    if (FAILED(hr)) {
        TRACE_FAILED("OpenEntry", hr);
        return hr;
    }
    // The caller gets a reference of its own; the local one goes with |opened|.
    *folder = reinterpret_cast<LPMAPIFOLDER>(opened.Get());
    opened->AddRef();
    return hr;
}

} // namespace

HRESULT GetFinder(LPMDB store, LPMAPIFOLDER* finder)
{
    HRESULT hr = S_OK;
    TRACE_CALL_RET("GetFinder", hr);
    hr = OpenFolderFromProperty(store, store, kTagFinderEntryId,
                                "pStoreProps invalid, failed: hr=%lx\n", finder);
    return hr;
}

HRESULT GetParentFolder(LPMDB store, LPMAPIPROP folder, LPMAPIFOLDER* parent)
{
    HRESULT hr = S_OK;
    TRACE_CALL_RET("GetParentFolder", hr);
    hr = OpenFolderFromProperty(store, folder, kTagParentEntryId,
                                "pPropArray invalid, failed: hr=%lx\n", parent);
    return hr;
}

HRESULT OpenProfileTable(Ref<IProfAdmin>& admin, Ref<IMAPITable>& table)
{
    PropTags<3> columns = {3, {kTagDisplayName, kTagDefaultProfile, kTagDisplayNameW}};
    HRESULT hr = MAPIAdminProfiles(0, admin.Put());
    hr = Delivered(hr, admin);
    if (SUCCEEDED(hr)) {
        hr = admin->GetProfileTable(0, table.Put());
        hr = Delivered(hr, table);
    }
    if (SUCCEEDED(hr)) hr = table->SetColumns(columns.get(), 0);
    return hr;
}

HRESULT OpenStoresTable(LPMAPISESSION session, Ref<IMAPITable>& table, bool unicodeName)
{
    PropTags<4> columns = {unicodeName ? 4u : 3u, {kTagEntryId, kTagDisplayName, kTagDefaultStore, kTagDisplayNameW}};
    HRESULT hr = session->GetMsgStoresTable(0, table.Put());
    hr = Delivered(hr, table);
    if (SUCCEEDED(hr)) hr = table->SetColumns(columns.get(), 0);
    return hr;
}

std::string LoadStringWhole(HINSTANCE instance, UINT id)
{
    std::string text;
    for (int size = 256;; size += 256) {
        text.assign(size, '\0');
        int length = LoadStringA(instance, id, &text[0], size);
        if (length <= 0) return std::string();
        // A text that leaves more than two characters free was read whole.
        if (size - length > 2) {
            text.resize(length);
            return text;
        }
    }
}

bool AnsiNameRoundTrips(const char* ansi, const wchar_t* wide)
{
    int length = MultiByteToWideChar(CP_ACP, 0, ansi, -1, nullptr, 0);
    if (length <= 0) return false;
    std::wstring back(length, L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi, -1, &back[0], length);
    return back.c_str() == std::wstring(wide);
}
