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

#include <vector>

#include "Holders.h"
#include "WindowObject.h"

// A search folder as the walk below a finder finds it.
struct SearchFolderInfo {
    const char* name;
    const char* path;                          // the path text of the folder that holds it
    // What the walk read of each folder along that path (as GetVisitProps
    // reads it: name, type, entry identifier, class, then the extra tags), the finder's first.
    const std::vector<const SPropValue*>& holders;
    const SBinary& entryId;
    const SBinary* parentId;                   // the holding folder's; null for the finder itself
    bool hasContainerClass;                    // the mail client's own: never to be listed
    const SPropValue* extra;                   // the walk's extra properties, in the order asked for
};

// Receives what the walk below a finder finds, in visit order: depth first,
// each folder before its sub-folders.
class SearchFolderSink {
public:
    // A folder whose type is FOLDER_SEARCH.
    virtual void OnSearchFolder(const SearchFolderInfo& folder) = 0;
    // Every folder whose properties were read, for progress counters.
    virtual void OnFolderVisited() {}
    // A visit that ended early: not everything in the folder |where| (the
    // folders from the finder on, as |holders| above; empty when the finder
    // itself could not be read) was reached. |step| names what failed.
    virtual void OnVisitEnded(const std::vector<const SPropValue*>& where, const char* step, HRESULT hr) {}

protected:
    ~SearchFolderSink() = default;
};

// Where a store scan stopped when it failed.
enum class ScanStep { None, OpenStore, GetFinder, Walk };

// Opens a store and its finder (InitSearchList's first steps); |failedAt|
// tells the step that failed, or None.
HRESULT OpenFinder(LPMAPISESSION session, ULONG cbStoreId, LPBYTE storeId, Ref<IMsgStore>& store, Ref<IMAPIFolder>& finder,
                   ScanStep& failedAt);
// Opens the store and its finder and walks below it (InitSearchList's work).
// |extraTags|: properties to read from every folder besides the four the walk needs.
HRESULT ScanStore(LPMAPISESSION session, ULONG cbStoreId, LPBYTE storeId, SearchFolderSink& sink,
                  ScanStep* failedAt = nullptr, const std::vector<ULONG>& extraTags = {});
// Visits |folder| and, depth first, every folder below it (BuildSearchList's
// work). No depth limit: the visits are kept on the heap, not on the stack.
HRESULT WalkSearchFolders(LPMAPIFOLDER folder, const char* path, SearchFolderSink& sink,
                          const std::vector<ULONG>& extraTags = {});
// Reads what a visit of |folder| needs (display name, folder type, entry
// identifier, container class, then |extraTags|) and checks the first three
// are there; a failure writes its trace line. props[3] is the class, when its
// tag says so.
HRESULT GetVisitProps(LPMAPIFOLDER folder, MapiBuffer<SPropValue>& props, const std::vector<ULONG>& extraTags = {});
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
    void OnSearchFolder(const SearchFolderInfo& folder) override;

    SBinary* GetItemRecord(int index, BOOL* ok);
    int AppendFolder(const char* name, const char* path);
    bool SetItemRecord(int index, SBinary* record);

    HIMAGELIST m_imageList = nullptr;
};
