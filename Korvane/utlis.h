// Small helpers over Extended MAPI shared by the tree and the list, and the
// whole-string resource loader.
#pragma once
#include <windows.h>
#include <mapix.h>
#include <string>

#include "Holders.h"

// Property tags the program reads.
const ULONG kTagEntryId = 0x0FFF0102;          // PR_ENTRYID
const ULONG kTagDisplayName = 0x3001001E;      // PR_DISPLAY_NAME_A
const ULONG kTagDisplayNameW = 0x3001001F;     // PR_DISPLAY_NAME_W
const ULONG kTagDefaultProfile = 0x3D04000B;   // PR_DEFAULT_PROFILE
const ULONG kTagDefaultStore = 0x3400000B;     // PR_DEFAULT_STORE
const ULONG kTagFinderEntryId = 0x35E70102;    // PR_FINDER_ENTRYID
const ULONG kTagParentEntryId = 0x0E090102;    // PR_PARENT_ENTRYID
const ULONG kTagFolderType = 0x36010003;       // PR_FOLDER_TYPE
const ULONG kTagContainerClass = 0x3613001E;   // PR_CONTAINER_CLASS_A

// Logon without any user interface: a new session, extended, no mail, short waits.
const ULONG kLogonFlags = MAPI_NEW_SESSION | MAPI_EXTENDED | MAPI_NO_MAIL | MAPI_TIMEOUT_SHORT;  // 0x00108022

// An SPropTagArray of a fixed number of tags, usable as LPSPropTagArray.
template <ULONG N>
struct PropTags {
    ULONG cValues;
    ULONG aulPropTag[N];
    LPSPropTagArray get() { return reinterpret_cast<LPSPropTagArray>(this); }
};

// Copies an entry identifier into one heap block: SBinary header, then the
// bytes. The block is freed with free(). |copy| is written only on success.
HRESULT SBinaryDup(const SBinary* source, SBinary** copy);

// Opens the store's finder folder for writing; the caller releases it.
HRESULT GetFinder(LPMDB store, LPMAPIFOLDER* finder);

// Opens |folder|'s parent folder for writing; the caller releases it.
HRESULT GetParentFolder(LPMDB store, LPMAPIPROP folder, LPMAPIFOLDER* parent);

// The profile table with its columns set: PR_DISPLAY_NAME_A, PR_DEFAULT_PROFILE
// and PR_DISPLAY_NAME_W (the last tells whether the ANSI name names the profile).
HRESULT OpenProfileTable(Ref<IProfAdmin>& admin, Ref<IMAPITable>& table);
// A session's message-store table with its columns set: PR_ENTRYID,
// PR_DISPLAY_NAME_A, PR_DEFAULT_STORE, and with |unicodeName| PR_DISPLAY_NAME_W.
HRESULT OpenStoresTable(LPMAPISESSION session, Ref<IMAPITable>& table, bool unicodeName = false);

// Whether |ansi|, read back through the ANSI code page, is the whole of
// |wide|: a profile whose name does not round-trip is reached by its Unicode name.
bool AnsiNameRoundTrips(const char* ansi, const wchar_t* wide);

// Loads a string resource whole, however long; a missing one gives "".
std::string LoadStringWhole(HINSTANCE instance, UINT id);
