// The making again of backed-up search folders in the stores of a profile:
// each in its recorded parent (found by its entry identifier, else by its
// path below the finder), with its name, comment, restriction, searched
// folders and search state. A folder whose criteria cannot be set is taken
// away again: no half-made search folder stays behind.
#pragma once
#include <windows.h>
#include <mapix.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "Backup.h"
#include "Work.h"

// What became of one record.
struct Restored {
    enum Outcome { Made, Exists, WouldMake, Failed } outcome = Failed;
    HRESULT hr = S_OK;
    std::wstring reason;  // why it failed
    std::string newId;    // of the folder made
};

class Restorer {
public:
    // With |into|, every record goes into that store of the target (after a
    // profile is made again, a store's entry identifier may change).
    explicit Restorer(Target& target, const StoreRow* into = nullptr) : m_target(target), m_into(into) {}
    Restored Restore(const BackupRecord& record, bool dryRun);
    // The store of the profile that |record| goes into: the one chosen, or the
    // one of its recorded entry identifier; null where the profile has none such.
    const StoreRow* Destination(const BackupRecord& record) const;

private:
    // How a look-up ended: found; found nothing (|step| empty, MAPI_E_NOT_FOUND);
    // or not known, for the call |step| failed with |hr|.
    struct Lookup {
        HRESULT hr = S_OK;
        std::string step;
    };
    // A sub-folder: its name (Unicode where the provider has it; read from the
    // folder where the row may not hold it whole) and identifier; |unread|
    // failed where its name could not be read at all.
    struct Child {
        std::wstring name;
        std::string id;
        Lookup unread;
    };
    using Children = std::vector<Child>;

    HRESULT OpenStore(const std::string& storeId, LPMDB& store);
    Lookup FindParent(LPMDB store, const std::string& storeId, const BackupRecord& record, LPMAPIFOLDER& parent);
    Lookup ByPath(LPMDB store, const std::vector<std::wstring>& holders, Ref<IMAPIFolder>& parent);
    Lookup ReadChildren(LPMDB store, LPMAPIFOLDER folder, Children& children);
    // The first of |children| named |name| (any case); where none is, NOT_FOUND,
    // or the failure of a child whose name could not be read (it may be the one).
    static Lookup Named(const Children& children, const std::wstring& name, const Child*& found);
    // Whether |parent| has a sub-folder of that name (its sub-folders read once):
    // found, NOT_FOUND, or the call that failed.
    Lookup Exists(LPMDB store, LPMAPIFOLDER parent, const std::wstring& name);
    // What this run made, or would make, in |parent| is there from now on.
    void Made(LPMAPIFOLDER parent, const BackupRecord& record, const std::string& id);
    static HRESULT SetCriteria(LPMAPIFOLDER made, const BackupRecord& record);
    Restored Make(LPMAPIFOLDER parent, const BackupRecord& record);

    Target& m_target;
    const StoreRow* m_into;
    std::map<std::string, Ref<IMsgStore>> m_stores;  // by entry identifier
    // Parents by store and recorded parent; let go of before the stores.
    std::map<std::pair<std::string, std::string>, Ref<IMAPIFolder>> m_parents;
    std::map<std::pair<std::string, std::string>, Lookup> m_parentsNotFound;
    std::map<LPMAPIFOLDER, Children> m_children;  // read where nothing is made
};
