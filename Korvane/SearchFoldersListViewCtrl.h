// The list of the selected store's search folders, and the scan and the
// deletion behind it. Each row owns a copy of its folder's entry identifier
// (an SBinary block from SBinaryDup).
//
// The scan and the deletion are also free functions, so that the console
// program runs the very same code: the walk hands every search folder it
// finds to a SearchFolderSink (the list appends a row).
#pragma once
#include <windows.h>
#include <commctrl.h>
#include <mapix.h>

#include "Holders.h"
#include "WindowObject.h"

// Receives what the walk below a finder finds, in visit order: depth first,
// each folder before its sub-folders.
class SearchFolderSink {
public:
    // A folder whose type is FOLDER_SEARCH; |path| is the path of the folder
    // that holds it. Only one without a container class is to be listed.
    virtual void OnSearchFolder(const char* name, const char* path, const SBinary& entryId,
                                bool hasContainerClass) = 0;
    // Every folder whose properties were read, for progress counters.
    virtual void OnFolderVisited() {}

protected:
    ~SearchFolderSink() = default;
};

// Where a store scan stopped when it failed.
enum class ScanStep { None, OpenStore, GetFinder, Walk };

// Opens the store and its finder and walks below it (InitSearchList's work).
HRESULT ScanStore(LPMAPISESSION session, ULONG cbStoreId, LPBYTE storeId, SearchFolderSink& sink,
                  ScanStep* failedAt = nullptr);
// Visits |folder| and, depth first, every folder below it (BuildSearchList's
// work). No depth limit: the visits are kept on the heap, not on the stack.
HRESULT WalkSearchFolders(LPMAPIFOLDER folder, const char* path, SearchFolderSink& sink);
// Reads what a visit of |folder| needs (display name, folder type, entry
// identifier, container class) and checks the first three are there; a
// failure writes its trace line. props[3] is the class, when its tag says so.
HRESULT GetVisitProps(LPMAPIFOLDER folder, MapiBuffer<SPropValue>& props);
// Opens a store for writing, without its mail functions.
HRESULT OpenStore(LPMAPISESSION session, ULONG cbStoreId, LPBYTE storeId, LPMDB* store);
// Deletes one search folder from its parent folder (DeleteSelection's work
// for one row): opens it, finds its parent, lets it go, deletes it.
HRESULT DeleteSearchFolder(LPMDB store, const SBinary& entryId, ULONG_PTR ui, ULONG flags);

class SearchFoldersListViewCtrl : public ControlObject, private SearchFolderSink {
public:
    LRESULT InitControl();
    HRESULT InitSearchList(LPMAPISESSION session, ULONG cbStoreId, LPBYTE storeId);
    HRESULT BuildSearchList(LPMAPIFOLDER folder, const char* path);
    HRESULT DeleteSelection(LPMAPISESSION session, ULONG cbStoreId, LPBYTE storeId);

private:
    BOOL OnReflectedNotify(NMHDR* header, LRESULT& result) override;
    LRESULT OnDeleteItem(int controlId, NMLISTVIEW* notification, BOOL& handled);
    void OnSearchFolder(const char* name, const char* path, const SBinary& entryId, bool hasContainerClass) override;

    SBinary* GetItemRecord(int index, BOOL* ok);
    int AppendFolder(const char* name, const char* path);
    bool SetItemRecord(int index, SBinary* record);

    HIMAGELIST m_imageList = nullptr;
};
