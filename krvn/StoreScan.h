// krvn's scan of a store: one table of every folder below the finder
// (CONVENIENT_DEPTH), read in large batches, with the dialog's walk as the
// fallback wherever that table cannot be had or cannot be trusted; and the
// deletion of what it found.
#pragma once
#include <windows.h>
#include <mapix.h>

#include <string>
#include <vector>

#include "Console.h"
#include "SearchFoldersListViewCtrl.h"

// A search folder that the dialog would list, with the store it is in.
struct Found {
    size_t store;
    std::wstring name, path;
    std::string entryId;
    std::string parentId;  // known from the deep table; empty after the walk
};

// Collects what a scan finds. Folders with a container class are the mail
// client's own and are never listed, so never deleted.
class Collector : public SearchFolderSink {
public:
    Collector(std::vector<Found>& found, size_t store, Progress* progress)
        : found_(found), store_(store), progress_(progress) {}
    void OnSearchFolder(const char* name, const char* path, const SBinary& entryId, bool hasContainerClass) override;
    void OnFolderVisited() override;
    // The same, from the deep table, which also knows the folder's parent.
    void Add(const std::string& name, const std::string& path, const std::string& entryId, const std::string& parentId,
             bool hasContainerClass);

private:
    std::vector<Found>& found_;
    size_t store_;
    Progress* progress_;
};

// Scans one store: the deep table unless |exactWalk|, else (or when the table
// fails) the dialog's walk. On failure |failedAt| tells the step.
HRESULT ScanStoreFast(LPMAPISESSION session, std::string storeId, Collector& collector, ScanStep* failedAt, bool exactWalk);

// Deletes one found folder from its parent, with DEL_FOLDERS and no user interface.
HRESULT DeleteFound(LPMDB store, const Found& folder);
