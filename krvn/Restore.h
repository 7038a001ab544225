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
    explicit Restorer(Target& target) : m_target(target) {}
    Restored Restore(const BackupRecord& record, bool dryRun);

private:
    // The sub-folders of a folder: their names (Unicode where the provider has them) and identifiers.
    using Children = std::vector<std::pair<std::wstring, std::string>>;

    HRESULT OpenStore(const std::string& storeId, LPMDB& store);
    HRESULT FindParent(LPMDB store, const BackupRecord& record, LPMAPIFOLDER& parent);
    HRESULT ByPath(LPMDB store, const std::vector<std::wstring>& holders, Ref<IMAPIFolder>& parent);
    HRESULT ReadChildren(LPMAPIFOLDER folder, Children& children);
    // Whether |parent| has a sub-folder of that name (its sub-folders read once); |hr| when they could not be read.
    bool Exists(LPMAPIFOLDER parent, const std::wstring& name, HRESULT& hr);
    Restored Make(LPMAPIFOLDER parent, const BackupRecord& record);

    Target& m_target;
    std::map<std::string, Ref<IMsgStore>> m_stores;  // by entry identifier
    // Parents by store and recorded parent; let go of before the stores.
    std::map<std::pair<std::string, std::string>, Ref<IMAPIFolder>> m_parents;
    std::map<std::pair<std::string, std::string>, HRESULT> m_parentsNotFound;
    std::map<LPMAPIFOLDER, Children> m_children;  // read where nothing is made
};
