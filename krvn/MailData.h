// What krvn reads of the profiles and stores, through the same MAPI calls as
// the dialog's tree (profile table, logon without any user interface, store table).
#pragma once
#include <windows.h>
#include <mapix.h>

#include <string>
#include <vector>

#include "Holders.h"

struct ProfileRow {
    std::wstring name;     // the Unicode name, or the ANSI one read through the code page
    std::string ansiName;
    bool isDefault = false;
    bool ansiRoundTrips = true;  // else the logon goes by the Unicode name
};

struct StoreRow {
    std::wstring name;
    bool isDefault = false;
    std::string entryId;
};

HRESULT ReadProfiles(std::vector<ProfileRow>& profiles);
HRESULT Logon(const ProfileRow& profile, SessionRef& session);
HRESULT ReadStores(LPMAPISESSION session, std::vector<StoreRow>& stores);

// Case-insensitive comparison and wildcard matching (* and ?) over whole names.
bool SameName(const std::wstring& a, const std::wstring& b);
bool MatchesPattern(const std::wstring& name, const std::wstring& pattern);
