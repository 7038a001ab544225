// The backup krvn makes before it deletes: one JSON object per search
// folder, on a line of its own (JSON Lines, UTF-8), holding what it takes to
// make the folder again: its place, name, comment, evidence and search
// criteria (the restriction losslessly, the searched folders, the state).
// And the reading of such a line, for a restore.
#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "MailData.h"
#include "RestrictionForm.h"
#include "StoreScan.h"

const int kBackupVersion = 1;

// One search folder as a backup holds it.
struct BackupRecord {
    std::wstring profile, store;
    std::string storeId, parentId, entryId;  // the parent's is empty for a finder that is itself a search folder
    std::wstring path;                       // of the folder that holds it, as krvn shows it
    std::vector<std::wstring> holders;       // the folders along that path, the finder first
    std::wstring name;
    bool hasComment = false;
    std::wstring comment;
    // The search criteria; without a restriction the folder cannot be made
    // again, unless it never had any (criteriaHr MAPI_E_NOT_INITIALIZED).
    std::shared_ptr<BuiltRestriction> restriction;
    std::wstring criteriaError;             // why there are none
    HRESULT criteriaHr = S_OK;
    bool MadeWithout() const { return !restriction && criteriaHr == MAPI_E_NOT_INITIALIZED; }
    std::vector<std::string> scopeIds;      // the searched folders
    ULONG state = 0;                        // SEARCH_RUNNING, SEARCH_RECURSIVE, SEARCH_FOREGROUND, …
};

// The line (without its line break) that backs up |folder|, which the backup
// reached: with its criteria, read and kept losslessly, or without any where
// it never had any (a search folder whose criteria were never set answers
// MAPI_E_NOT_INITIALIZED; a restore makes it again without). False, with
// |why| and |hr| and no line, where a restore could not make it again: its
// criteria could not be read, or its restriction holds what MAPI does not define.
bool BackupLine(const std::wstring& profile, const StoreRow& store, const Found& folder, std::string& line, std::wstring& why, HRESULT& hr);
// Reads one line of a backup; false with |why|.
bool ReadBackupLine(const std::string& line, BackupRecord& record, std::wstring& why);

// Where a backup goes without --backup:
// %LOCALAPPDATA%\Korvane\backups\krvn-YYYYMMDD-HHMMSS-PID.jsonl, the time in UTC.
std::wstring DefaultBackupPath();
// Removes the backups of that name in |path|'s folder that are older than 180
// days by the time in their names; never |path| itself, nor any other file.
void RemoveOldBackups(const std::wstring& path);
