// krvn's scan of a store: one table of every folder below the finder
// (CONVENIENT_DEPTH), read in large batches, with the dialog's walk as the
// fallback wherever that table cannot be had or cannot be trusted; and the
// deletion of what it found.
#pragma once
#include <windows.h>
#include <mapix.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "Console.h"
#include "Criteria.h"
#include "SearchFoldersListViewCtrl.h"

// What a folder shows of its use: when it last changed, how much it holds.
struct Evidence {
    bool hasModified = false;
    FILETIME modified = {};
    bool hasItems = false;
    ULONG items = 0;
};

// A search folder that krvn lists: one without a container class (those are
// the mail client's own, never listed, so never deleted). Names are the
// provider's Unicode names where it has them.
struct Found {
    size_t store;
    std::wstring name;
    std::vector<std::wstring> holders;  // the folders that hold it, the finder first
    std::string entryId;
    std::string parentId;  // the holding folder's entry identifier; empty for the finder itself
    Evidence evidence;
    bool hasComment = false;
    bool commentRefused = false;  // the row refused it as too long: the backup reads it from the folder
    std::wstring comment;  // PR_COMMENT, kept for the backup
    Criteria criteria;     // read only when asked for, or for the backup
};

// "/Finder/G": the path of the folder that holds |folder|, as the dialog shows it.
std::wstring PathText(const std::vector<std::wstring>& names);

// A place that the scan could not read whole: a place in a store, or a
// store left out as a whole.
struct Damage {
    size_t store;
    std::wstring path;  // the folder not everything in which was reached; "" for the finder itself
    std::string step;   // what failed: a MAPI call, or the properties a folder lacks
    HRESULT hr;         // S_OK where nothing failed (a store row that lacks what opens it)
    bool leftOut = false;
};

// Collects what a scan finds and where it met damage.
class Collector : public SearchFolderSink {
public:
    Collector(std::vector<Found>& found, std::vector<Damage>& damage, size_t store, Progress* progress)
        : m_found(found), m_damage(damage), m_store(store), m_progress(progress) {}
    void OnSearchFolder(const SearchFolderInfo& folder) override;
    void OnFolderVisited() override;
    void OnVisitEnded(const std::vector<const SPropValue*>& where, const char* step, HRESULT hr) override;
    // The same, from the deep table's rows (the store is the collector's).
    void Add(Found folder, bool hasContainerClass);
    void Damaged(std::vector<std::wstring> where, const char* step, HRESULT hr);

private:
    std::vector<Found>& m_found;
    std::vector<Damage>& m_damage;
    std::set<std::pair<std::wstring, std::pair<std::string, HRESULT>>> m_reported;  // one report per place and cause
    size_t m_store;
    Progress* m_progress;
};

// Providers commonly cut the strings and binaries of table rows at 255 bytes.
const size_t kTableCut = 255;

// Whether a table row's name (its 8-bit and Unicode values) may not be the
// folder's whole name: refused as too long, as long as a provider's usual
// cut, or its two forms disagree (one was cut). Such a name is read from the folder.
bool RowNameDoubtful(const SPropValue& ansi, const SPropValue& wide);
// A folder's own entry identifier and display name (Unicode where it has
// one), read from the folder itself; where they could not be read, the
// HRESULT, and in |step| the call that failed (OpenEntry or GetProps).
HRESULT ReadOwn(LPMDB store, const std::string& id, std::string& ownId, std::wstring& name, const char** step = nullptr);

// What krvn reads of each folder besides what the walk needs: the evidence
// (modification time, item count), the Unicode name and the comment; the
// walk and the deep table read them alike.
extern const std::vector<ULONG> kVisitTags;

// Scans one store: the deep table unless |exactWalk|, else (or where the
// table cannot be used) the dialog's walk. What the scan reached is collected
// even when it fails part way (the damage says where); |failedAt| tells a
// failure to open the store or its finder.
HRESULT ScanStoreFast(LPMAPISESSION session, std::string storeId, Collector& collector, ScanStep* failedAt, bool exactWalk);

// Deletes found folders from their parents, with DEL_FOLDERS and no user
// interface, opening each parent once.
class Deleter {
public:
    explicit Deleter(LPMDB store) : m_store(store) {}
    // On failure |step| names the call that failed: OpenEntry (of the parent) or DeleteFolder.
    HRESULT Delete(const Found& folder, const char*& step);

private:
    LPMDB m_store;
    std::map<std::string, Ref<IMAPIFolder>> m_parents;
};
