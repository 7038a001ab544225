#include "MailData.h"

#include "Records.h"
#include "utlis.h"

namespace {

std::wstring Upper(std::wstring text)
{
    if (!text.empty()) CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

} // namespace

HRESULT ReadProfiles(std::vector<ProfileRow>& profiles)
{
    Ref<IProfAdmin> admin;
    Ref<IMAPITable> table;
    RowSet rows;
    HRESULT hr = OpenProfileTable(admin, table);
    while (SUCCEEDED(hr)) {
        hr = table->QueryRows(1, 0, rows.Put());
        if (FAILED(hr) || !rows || rows->cRows == 0) break;
        const SRow& row = rows->aRow[0];
        if (row.cValues < 3 || row.lpProps[0].ulPropTag != kTagDisplayName || row.lpProps[1].ulPropTag != kTagDefaultProfile)
            continue;  // a row without a name or a default flag names no profile
        ProfileRow profile;
        profile.ansiName = row.lpProps[0].Value.lpszA;
        profile.isDefault = row.lpProps[1].Value.b != 0;
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
    if (profile.ansiRoundTrips)
        return MAPILogonEx(0, const_cast<LPSTR>(profile.ansiName.c_str()), nullptr, kLogonFlags, session.Put());
    return MAPILogonEx(0, reinterpret_cast<LPSTR>(const_cast<wchar_t*>(profile.name.c_str())), nullptr,
                       kLogonFlags | MAPI_UNICODE, session.Put());
}

HRESULT ReadStores(LPMAPISESSION session, std::vector<StoreRow>& stores)
{
    Ref<IMAPITable> table;
    RowSet rows;
    HRESULT hr = OpenStoresTable(session, table);
    while (SUCCEEDED(hr)) {
        hr = table->QueryRows(1, 0, rows.Put());
        if (FAILED(hr) || !rows || rows->cRows == 0) break;
        const SRow& row = rows->aRow[0];
        if (row.cValues < 3 || row.lpProps[0].ulPropTag != kTagEntryId || row.lpProps[1].ulPropTag != kTagDisplayName)
            continue;  // a store that cannot be named or opened
        StoreRow store;
        store.name = FromAnsi(row.lpProps[1].Value.lpszA);
        store.isDefault = row.lpProps[2].ulPropTag == kTagDefaultStore && row.lpProps[2].Value.b;
        store.entryId.assign(reinterpret_cast<const char*>(row.lpProps[0].Value.bin.lpb), row.lpProps[0].Value.bin.cb);
        stores.push_back(store);
    }
    return hr;
}

bool SameName(const std::wstring& a, const std::wstring& b)
{
    return Upper(a) == Upper(b);
}

bool MatchesPattern(const std::wstring& name, const std::wstring& pattern)
{
    // Greedy matching with one backtrack point for the last '*'.
    std::wstring n = Upper(name), p = Upper(pattern);
    size_t i = 0, j = 0, star = std::wstring::npos, mark = 0;
    while (i < n.size()) {
        if (j < p.size() && (p[j] == L'?' || p[j] == n[i])) {
            ++i;
            ++j;
        } else if (j < p.size() && p[j] == L'*') {
            star = j++;
            mark = i;
        } else if (star != std::wstring::npos) {
            j = star + 1;
            i = ++mark;
        } else {
            return false;
        }
    }
    while (j < p.size() && p[j] == L'*') ++j;
    return j == p.size();
}
