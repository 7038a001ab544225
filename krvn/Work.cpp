#include "Work.h"

#include <algorithm>

#include "Conversions.h"
#include "Selection.h"
#include "trace.h"

namespace {

std::wstring g_trouble;  // the last message of a command that could not go on, for its record

// Notes a chosen store that is left out: on standard error, in the scan's damage, in the result.
void LeaveOut(Work& work, size_t store, const char* step, HRESULT hr, const std::wstring& message)
{
    Message(message + L"; left out");
    Damage damage = {store, std::wstring(), step, hr, true};
    work.scanned.damage.push_back(damage);
    work.result.incomplete = true;
}

// The stores a command scans: every one of the profile with --all-stores
// (those that cannot be opened are left out), else the one named,
// identified or marked the default.
int ChooseStores(const Options& options, Work& work, std::vector<size_t>& chosen)
{
    const Target& target = work.target;
    const std::wstring profile = Quoted(target.profile.name);
    if (options.allStores) {
        for (size_t i = 0; i < target.stores.size(); ++i) {
            const StoreRow& store = target.stores[i];
            if (store.hasName && store.hasEntryId) chosen.push_back(i);
            else LeaveOut(work, i, store.nameStep.empty() ? "store table" : store.nameStep.c_str(), store.nameHr, Lacking(profile, store));
        }
        return kExitOk;
    }
    size_t store = 0;
    if (int code = FindStore(options, target, store)) return code;
    chosen.push_back(store);
    return kExitOk;
}

// Scans the chosen stores. A store that cannot be opened, or whose finder
// cannot, ends the command unless --all-stores leaves it out; what a scan
// reached is kept however it ended, and every damaged place is reported.
int Scan(const Options& options, Work& work, const std::vector<size_t>& chosen, Progress& progress, const Interruption* interruption)
{
    Scanned& scanned = work.scanned;
    for (size_t i : chosen) {
        if (interruption && interruption->Requested()) break;
        const StoreRow& store = work.target.stores[i];
        size_t before = scanned.found.size(), damaged = scanned.damage.size();
        Collector collector(scanned.found, scanned.damage, i, &progress);
        ScanStep step = ScanStep::None;
        HRESULT hr = ScanStoreFast(work.target.session.Get(), store.entryId, collector, &step, options.exactWalk);
        std::sort(scanned.found.begin() + before, scanned.found.end(), ListedBefore);
        for (size_t d = damaged; d < scanned.damage.size(); ++d)
            Message(L"store " + StoreName(store) + L": " + DamageText(scanned.damage[d]));
        work.result.incomplete |= scanned.damage.size() > damaged;
        if (SUCCEEDED(hr) || step == ScanStep::Walk) {
            work.stores.push_back(i);
            continue;
        }
        bool opened = step != ScanStep::OpenStore;
        std::wstring message = L"store " + StoreName(store) + L" " +
                               (opened ? L"has no finder folder that could be opened" : L"could not be opened") +
                               L" (hr=" + HresultText(hr) + L")";
        if (!options.allStores) return Unreachable(message);
        LeaveOut(work, i, opened ? "GetFinder" : "OpenMsgStore", hr, message);
    }
    return kExitOk;
}

ULONGLONG Now()
{
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    return (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
}

// Reads the criteria of the selected folders, opening each store once. A
// folder whose store cannot be opened again is not reached: it says why.
void ReadCriteria(Work& work, bool keepRestrictions)
{
    for (size_t store : work.stores) {
        Ref<IMsgStore> opened;
        HRESULT hr = work.target.Open(store, opened);
        CriteriaReader reader(opened.Get(), keepRestrictions);
        for (Found* folder : work.selected) {
            if (folder->store != store) continue;
            if (FAILED(hr)) {
                folder->criteria.hr = hr;
                folder->criteria.step = "OpenMsgStore";
                continue;
            }
            // For the backup, a comment the table may have cut or refused is read whole from the folder.
            bool ownComment = keepRestrictions && (folder->commentRefused || (folder->hasComment && folder->comment.size() >= kTableCut));
            folder->criteria = reader.Read(folder->entryId, ownComment);
            if (folder->criteria.hasComment) {
                folder->hasComment = true;
                folder->comment = folder->criteria.comment;
            }
        }
    }
    for (const Found* folder : work.selected) work.criteriaUnread += !folder->criteria.read;
}

} // namespace

HRESULT Target::Open(size_t store, Ref<IMsgStore>& opened)
{
    std::string& id = stores[store].entryId;
    return OpenStore(session.Get(), static_cast<ULONG>(id.size()), reinterpret_cast<LPBYTE>(&id[0]), opened.Put());
}

int Unreachable(const std::wstring& message)
{
    g_trouble = message;
    Message(message);
    return kExitUnreachable;
}

const std::wstring& LastTrouble()
{
    return g_trouble;
}

void Output(const std::wstring& text, Result& result)
{
    if (WriteOut(text)) return;
    DWORD error = GetLastError();
    result.outputFailed = true;
    Message(L"the output could not be written (" + SystemError(error) + L")");
}

std::wstring StoreName(const StoreRow& store)
{
    if (store.hasName) return Quoted(store.name);
    return store.hasEntryId ? L"with entryid " + HexOf(store.entryId) : L"without a name";
}

std::wstring Lacking(const std::wstring& profile, const StoreRow& store)
{
    if (store.hasEntryId && !store.nameStep.empty()) {
        const std::wstring which = L"the store with entryid " + HexOf(store.entryId) + L" of profile " + profile;
        const std::wstring hr = L" (hr=" + HresultText(store.nameHr) + L")";
        return store.nameStep == "OpenMsgStore"
                   ? which + L" could not be opened" + hr + L", so its name, too long for the store table, could not be read"
                   : L"the name of " + which + L", too long for the store table, could not be read from the store: " +
                         FromAnsi(store.nameStep.c_str()) + L" failed" + hr;
    }
    return L"a store of profile " + profile + L" has no " + (store.hasEntryId ? L"name" : L"entry identifier") +
           L" in the store table (" + (store.hasName ? Quoted(store.name) : L"entryid " + HexOf(store.entryId)) + L")";
}

std::wstring DamageText(const Damage& damage)
{
    std::wstring hr = damage.hr == S_OK ? L"" : L" (hr=" + HresultText(damage.hr) + L")";
    if (damage.leftOut) {
        std::wstring why = damage.step == "OpenMsgStore" ? L"the store could not be opened"
                         : damage.step == "GetFinder"    ? L"the store has no finder folder that could be opened"
                         : damage.step == "GetProps"     ? L"the store's name, too long for the store table, could not be read from the store"
                                                         : L"the store table gives no name or entry identifier for it";
        return why + hr;
    }
    std::wstring why = damage.step == "properties"       ? L"a folder lacks its name, folder type or entry identifier"
                     : damage.step == "entry identifier" ? L"a folder's row has no entry identifier"
                     : damage.step == "malloc"           ? L"memory ran out"
                                                         : FromAnsi(damage.step.c_str()) + L" failed";
    return damage.path.empty() ? L"the finder folder could not be read: " + why + hr
                               : L"not everything in " + damage.path + L" was reached: " + why + hr;
}

int FindStore(const Options& options, const Target& target, size_t& chosen)
{
    const std::wstring profile = Quoted(target.profile.name);
    std::vector<size_t> matches;
    for (size_t i = 0; i < target.stores.size(); ++i) {
        const StoreRow& store = target.stores[i];
        if (options.hasStoreId ? store.hasEntryId && SameName(HexOf(store.entryId), options.storeId)
            : options.hasStore ? store.hasName && SameName(store.name, options.store)
                               : store.isDefault)
            matches.push_back(i);
    }
    // A store whose name could not be read may be the one named: say so rather than that there is none.
    for (size_t i = 0; matches.empty() && options.hasStore && i < target.stores.size(); ++i)
        if (!target.stores[i].hasName && !target.stores[i].nameStep.empty())
            return Unreachable(L"no store of profile " + profile + L" is named " + Quoted(options.store) + L" as far as could be read: " +
                               Lacking(profile, target.stores[i]) + L"; it may be that store");
    if (matches.empty())
        return Unreachable(options.hasStoreId ? L"no store with the entry identifier " + options.storeId + L" in profile " + profile
                           : options.hasStore ? L"no store named " + Quoted(options.store) + L" in profile " + profile
                                              : L"profile " + profile + L" has no default store");
    if (matches.size() > 1 && options.hasStore) {
        std::wstring ids;
        for (size_t i : matches) ids += (ids.empty() ? L"" : L", ") + HexOf(target.stores[i].entryId);
        Message(std::to_wstring(matches.size()) + L" stores of profile " + profile + L" are named " + Quoted(options.store) +
                L" (entryid " + ids + L"); choose one with --store-id HEX");
        return kExitUsage;
    }
    const StoreRow& store = target.stores[matches[0]];
    if (!store.hasEntryId)
        return Unreachable(L"store " + StoreName(store) + L" has no entry identifier in the store table; it cannot be opened");
    chosen = matches[0];
    return kExitOk;
}

int OpenProfile(const Options& options, Target& target)
{
    std::vector<ProfileRow> profiles;
    HRESULT hr = ReadProfiles(profiles);
    if (FAILED(hr)) return Unreachable(L"the profile table could not be read (hr=" + HresultText(hr) + L")");
    const ProfileRow* chosen = nullptr;
    for (const ProfileRow& profile : profiles)
        if (!chosen && (options.hasProfile ? SameName(profile.name, options.profile) : profile.isDefault)) chosen = &profile;
    if (!chosen)
        return Unreachable(options.hasProfile ? L"no profile named " + Quoted(options.profile) : L"there is no default profile");
    target.profile = *chosen;
    hr = Logon(target.profile, target.session);
    if (FAILED(hr))
        return Unreachable(L"the logon to profile " + Quoted(target.profile.name) + L" failed (hr=" + HresultText(hr) + L")");
    hr = ReadStores(target.session.Get(), target.stores);
    if (FAILED(hr))
        return Unreachable(L"the stores of profile " + Quoted(target.profile.name) + L" could not be read (hr=" +
                           HresultText(hr) + L")");
    return kExitOk;
}

int Prepare(const Options& options, Work& work, Progress& progress, const Interruption* interruption, bool forBackup)
{
    std::vector<size_t> chosen;
    if (int code = OpenProfile(options, work.target)) return code;
    if (int code = ChooseStores(options, work, chosen)) return code;
    if (int code = Scan(options, work, chosen, progress, interruption)) return code;
    // The cheap filters first: criteria cost two calls a folder.
    ULONGLONG now = Now();
    for (Found& folder : work.scanned.found)
        if (Picked(options, folder.name, folder.entryId) && PassesEvidence(options, folder, now)) work.selected.push_back(&folder);
    if (options.criteria || forBackup) ReadCriteria(work, forBackup);
    work.selected.erase(std::remove_if(work.selected.begin(), work.selected.end(),
                                       [&](const Found* folder) { return !PassesCriteria(options, *folder); }),
                        work.selected.end());
    return kExitOk;
}
