#include "MailData.h"

#include "Conversions.h"
#include "SearchFoldersListViewCtrl.h"
#include "utlis.h"

HRESULT ReadProfiles(std::vector<ProfileRow>& profiles, size_t* nameless)
{
    Ref<IProfAdmin> admin;
    Ref<IMAPITable> table;
    RowSet rows;
    HRESULT hr = OpenProfileTable(admin, table);
    while (SUCCEEDED(hr)) {
        hr = table->QueryRows(1, 0, rows.Put());
        hr = Delivered(hr, rows);
        if (FAILED(hr) || rows->cRows == 0) break;
        const SRow& row = rows->aRow[0];
        if (row.cValues < 3 || !row.lpProps || row.lpProps[0].ulPropTag != kTagDisplayName) {
            if (nameless) ++*nameless;
            continue;
        }
        ProfileRow profile;
        profile.ansiName = row.lpProps[0].Value.lpszA;
        // A row without the default flag is a profile that is not the default.
        profile.isDefault = row.lpProps[1].ulPropTag == kTagDefaultProfile && row.lpProps[1].Value.b;
        if (row.lpProps[2].ulPropTag == kTagDisplayNameW) {
            profile.name = row.lpProps[2].Value.lpszW;
            profile.ansiRoundTrips = AnsiNameRoundTrips(row.lpProps[0].Value.lpszA, row.lpProps[2].Value.lpszW);
        } else {
            profile.name = FromAnsi(row.lpProps[0].Value.lpszA);
        }
        profiles.push_back(profile);
    }
    return hr;
}

HRESULT Logon(const ProfileRow& profile, SessionRef& session)
{
    HRESULT hr = profile.ansiRoundTrips
                     ? MAPILogonEx(0, const_cast<LPSTR>(profile.ansiName.c_str()), nullptr, kLogonFlags, session.Put())
                     : MAPILogonEx(0, reinterpret_cast<LPSTR>(const_cast<wchar_t*>(profile.name.c_str())), nullptr,
                                   kLogonFlags | MAPI_UNICODE, session.Put());
    return Delivered(hr, session);
}

namespace {

// The name of a store whose row refused it as too long, from the store itself;
// where that fails, the call and its HRESULT.
void ReadOwnName(LPMAPISESSION session, StoreRow& store)
{
    Ref<IMsgStore> opened;
    PropTags<2> tags = {2, {kTagDisplayNameW, kTagDisplayName}};
    ULONG count = 0;
    MapiBuffer<SPropValue> props;
    store.nameStep = "OpenMsgStore";
    store.nameHr = OpenStore(session, static_cast<ULONG>(store.entryId.size()), reinterpret_cast<LPBYTE>(&store.entryId[0]), opened.Put());
    if (FAILED(store.nameHr)) return;
    store.nameStep = "GetProps";
    store.nameHr = opened->GetProps(tags.get(), 0, &count, props.Put());
    store.hasName = SUCCEEDED(store.nameHr) && count == 2 && props && TextOf(props.Get()[0], props.Get()[1], store.name);
    if (store.hasName) store.nameStep.clear(), store.nameHr = S_OK;
    else if (SUCCEEDED(store.nameHr)) store.nameHr = MAPI_E_NOT_FOUND;
}

} // namespace

HRESULT ReadStores(LPMAPISESSION session, std::vector<StoreRow>& stores)
{
    Ref<IMAPITable> table;
    RowSet rows;
    HRESULT hr = OpenStoresTable(session, table, true);
    while (SUCCEEDED(hr)) {
        hr = table->QueryRows(1, 0, rows.Put());
        hr = Delivered(hr, rows);
        if (FAILED(hr) || rows->cRows == 0) break;
        const SRow& row = rows->aRow[0];
        if (row.cValues < 4 || !row.lpProps) continue;
        const SPropValue* p = row.lpProps;
        StoreRow store;
        store.hasEntryId = p[0].ulPropTag == kTagEntryId;
        if (store.hasEntryId) store.entryId.assign(reinterpret_cast<const char*>(p[0].Value.bin.lpb), p[0].Value.bin.cb);
        // A name outside the ANSI code page is whole only in its Unicode form.
        store.hasName = TextOf(p[3], p[1], store.name);
        // A name too long for the row: the store itself has it.
        if (!store.hasName && store.hasEntryId && (Refused(p[3]) || Refused(p[1]))) ReadOwnName(session, store);
        store.isDefault = p[2].ulPropTag == kTagDefaultStore && p[2].Value.b;
        stores.push_back(store);
    }
    return hr;
}
