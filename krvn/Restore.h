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

private:
    // The sub-folders of a folder: their names (Unicode where the provider has them) and identifiers.
    using Children = std::vector<std::pair<std::wstring, std::string>>;
    // How a look-up ended: found; found nothing (|step| empty, MAPI_E_NOT_FOUND);
    // or not known, for the call |step| failed with |hr|.
    struct Lookup {
        HRESULT hr = S_OK;
        std::string step;
    };

    HRESULT OpenStore(const std::string& storeId, LPMDB& store);
    Lookup FindParent(LPMDB store, const std::string& storeId, const BackupRecord& record, LPMAPIFOLDER& parent);
    Lookup ByPath(LPMDB store, const std::vector<std::wstring>& holders, Ref<IMAPIFolder>& parent);
    Lookup ReadChildren(LPMAPIFOLDER folder, Children& children);
    // Whether |parent| has a sub-folder of that name (its sub-folders read once); |hr| when they could not be read.
    bool Exists(LPMAPIFOLDER parent, const std::wstring& name, HRESULT& hr);
    // What this run made, or would make, in |parent| is there from now on.
    void Made(LPMAPIFOLDER parent, const BackupRecord& record, const std::string& id);
    Restored Make(LPMAPIFOLDER parent, const BackupRecord& record);

    Target& m_target;
    const StoreRow* m_into;
    std::map<std::string, Ref<IMsgStore>> m_stores;  // by entry identifier
    // Parents by store and recorded parent; let go of before the stores.
    std::map<std::pair<std::string, std::string>, Ref<IMAPIFolder>> m_parents;
    std::map<std::pair<std::string, std::string>, Lookup> m_parentsNotFound;
    std::map<LPMAPIFOLDER, Children> m_children;  // read where nothing is made
};
