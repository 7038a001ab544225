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
    std::wstring name;     // the Unicode name where the table gives it, else the ANSI one
    bool hasName = false;
    bool isDefault = false;
    std::string entryId;
    bool hasEntryId = false;  // a row without one names a store that cannot be opened
    // A name too long for the store table is read from the store; where that
    // failed, the call (OpenMsgStore or GetProps) and its HRESULT.
    std::string nameStep;
    HRESULT nameHr = S_OK;
};

// The profiles of the profile table; |nameless| counts the rows without a
// name, which name no profile that could be logged on to.
HRESULT ReadProfiles(std::vector<ProfileRow>& profiles, size_t* nameless = nullptr);
HRESULT Logon(const ProfileRow& profile, SessionRef& session);
// Every row of the session's store table, also those without a name or an
// entry identifier (the caller reports them).
HRESULT ReadStores(LPMAPISESSION session, std::vector<StoreRow>& stores);
