#include "Commands.h"

#include <algorithm>
#include <memory>

#include "Console.h"
#include "MailData.h"
#include "Selection.h"
#include "StoreScan.h"
#include "trace.h"

namespace {

int Unreachable(const std::wstring& message)
{
    WriteErr(L"krvn: " + message + L"\r\n");
    return kExitUnreachable;
}

Field Text(const std::wstring& value) { return {value, false}; }
Field Flag(bool value) { return {value ? L"true" : L"false", true}; }
std::wstring Quoted(const std::wstring& name) { return L"'" + name + L"'"; }
std::wstring Plural(size_t n, const wchar_t* one, const wchar_t* many)
{
    return std::to_wstring(n) + L" " + (n == 1 ? one : many);
}
std::wstring HexOf(const std::string& bytes)
{
    return Hex(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<ULONG>(bytes.size()));
}

// What a command's work came to, for its exit code.
struct Result {
    bool outputFailed = false;
    bool interrupted = false;
    bool deletionFailed = false;
    bool incomplete = false;  // a store left out, or a place in one not reached

    int ExitCode() const
    {
        if (outputFailed) return kExitOutput;
        if (interrupted) return kExitInterrupted;
        if (deletionFailed) return kExitDeletionFailed;
        return incomplete ? kExitUnreachable : kExitOk;
    }
};

void Output(const std::wstring& text, Result& result)
{
    if (WriteOut(text)) return;
    result.outputFailed = true;
    WriteErr(L"krvn: the output could not be written (error " + std::to_wstring(GetLastError()) + L")\r\n");
}

// The profile the command works on, logged on to.
struct Target {
    ProfileRow profile;
    SessionRef session;
    std::vector<StoreRow> stores;
};

// A store as messages name it.
std::wstring StoreName(const StoreRow& store)
{
    if (store.hasName) return Quoted(store.name);
    return store.hasEntryId ? L"with entryid " + HexOf(store.entryId) : L"without a name";
}

// What the store table lacks of a store, for the message that leaves it out.
std::wstring Lacking(const std::wstring& profile, const StoreRow& store)
{
    return L"a store of profile " + profile + L" has no " + (store.hasEntryId ? L"name" : L"entry identifier") +
           L" in the store table (" + (store.hasName ? Quoted(store.name) : L"entryid " + HexOf(store.entryId)) + L")";
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

// The stores a command scans: every one that can be opened with
// --all-stores (the others are reported), else the one named, identified or
// marked the default.
int ChooseStores(const Options& options, const Target& target, std::vector<size_t>& chosen, Result& result)
{
    const std::wstring profile = Quoted(target.profile.name);
    if (options.allStores) {
        for (size_t i = 0; i < target.stores.size(); ++i) {
            const StoreRow& store = target.stores[i];
            if (store.hasName && store.hasEntryId) {
                chosen.push_back(i);
                continue;
            }
            WriteErr(L"krvn: " + Lacking(profile, store) + L"; left out\r\n");
            result.incomplete = true;
        }
        return kExitOk;
    }
    std::vector<size_t> matches;
    for (size_t i = 0; i < target.stores.size(); ++i) {
        const StoreRow& store = target.stores[i];
        if (options.hasStoreId ? store.hasEntryId && SameName(HexOf(store.entryId), options.storeId)
            : options.hasStore ? store.hasName && SameName(store.name, options.store)
                               : store.isDefault)
            matches.push_back(i);
    }
    if (matches.empty())
        return Unreachable(options.hasStoreId ? L"no store with the entry identifier " + options.storeId + L" in profile " + profile
                           : options.hasStore ? L"no store named " + Quoted(options.store) + L" in profile " + profile
                                              : L"profile " + profile + L" has no default store");
    if (matches.size() > 1 && options.hasStore) {
        std::wstring ids;
        for (size_t i : matches) ids += (ids.empty() ? L"" : L", ") + HexOf(target.stores[i].entryId);
        WriteErr(L"krvn: " + std::to_wstring(matches.size()) + L" stores of profile " + profile + L" are named " +
                 Quoted(options.store) + L" (entryid " + ids + L"); choose one with --store-id HEX\r\n");
        return kExitUsage;
    }
    const StoreRow& store = target.stores[matches[0]];
    if (!store.hasEntryId)
        return Unreachable(L"store " + StoreName(store) + L" has no entry identifier in the store table; it cannot be opened");
    chosen.push_back(matches[0]);
    return kExitOk;
}

std::wstring DamageText(const Damage& damage)
{
    std::wstring why = damage.step == "properties"       ? L"a folder lacks its name, folder type or entry identifier"
                     : damage.step == "entry identifier" ? L"a folder's row has no entry identifier"
                     : damage.step == "malloc"           ? L"memory ran out"
                                                         : FromAnsi(damage.step.c_str()) + L" failed";
    why += L" (hr=" + HresultText(damage.hr) + L")";
    return damage.path.empty() ? L"the finder folder could not be read: " + why
                               : L"not everything in " + damage.path + L" was reached: " + why;
}

// What the scan of the chosen stores found, in krvn's order, and where it met damage.
struct Scanned {
    std::vector<Found> found;
    std::vector<Damage> damage;
};

// Scans the chosen stores. A store that cannot be opened, or whose finder
// cannot, ends the command unless --all-stores leaves it out; what a scan
// reached is kept however it ended, and every damaged place is reported.
int Scan(const Options& options, Target& target, const std::vector<size_t>& chosen, Scanned& scanned, Progress& progress,
         Result& result, const Interruption* interruption = nullptr)
{
    for (size_t i : chosen) {
        if (interruption && interruption->Requested()) break;
        const StoreRow& store = target.stores[i];
        size_t before = scanned.found.size(), damaged = scanned.damage.size();
        Collector collector(scanned.found, scanned.damage, i, &progress);
        ScanStep step = ScanStep::None;
        HRESULT hr = ScanStoreFast(target.session.Get(), store.entryId, collector, &step, options.exactWalk);
        std::sort(scanned.found.begin() + before, scanned.found.end(), ListedBefore);
        for (size_t d = damaged; d < scanned.damage.size(); ++d)
            WriteErr(L"krvn: store " + StoreName(store) + L": " + DamageText(scanned.damage[d]) + L"\r\n");
        result.incomplete |= scanned.damage.size() > damaged;
        if (SUCCEEDED(hr) || step == ScanStep::Walk) continue;
        std::wstring message = L"store " + StoreName(store) + L" " +
                               (step == ScanStep::OpenStore ? L"could not be opened" : L"has no finder folder that could be opened") +
                               L" (hr=" + HresultText(hr) + L")";
        if (!options.allStores) return Unreachable(message);
        WriteErr(L"krvn: " + message + L"; left out\r\n");
        result.incomplete = true;
    }
    return kExitOk;
}

int ListProfiles(const Options& options)
{
    std::vector<ProfileRow> profiles;
    HRESULT hr = ReadProfiles(profiles);
    if (FAILED(hr)) return Unreachable(L"the profile table could not be read (hr=" + HresultText(hr) + L")");
    Report report;
    report.table.fields = {"name", "default"};
    for (const ProfileRow& profile : profiles) report.table.rows.push_back({Text(profile.name), Flag(profile.isDefault)});
    report.summary = Plural(profiles.size(), L"profile", L"profiles");
    Result result;
    Output(Render(report, options.format), result);
    return result.ExitCode();
}

int ListStores(const Options& options)
{
    Target target;
    if (int code = OpenProfile(options, target)) return code;
    Report report;
    Result result;
    report.table.fields = {"profile", "name", "default", "entryid"};
    for (const StoreRow& store : target.stores) {
        if (!store.hasName || !store.hasEntryId) {
            WriteErr(L"krvn: " + Lacking(Quoted(target.profile.name), store) + L"\r\n");
            result.incomplete = true;
            continue;
        }
        report.table.rows.push_back({Text(target.profile.name), Text(store.name), Flag(store.isDefault), Text(HexOf(store.entryId))});
    }
    report.summary = Plural(report.table.rows.size(), L"store", L"stores");
    Output(Render(report, options.format), result);
    return result.ExitCode();
}

std::vector<Field> ListFields(const Target& target, const Found& folder)
{
    return {Text(target.profile.name), Text(target.stores[folder.store].name), Text(folder.name),
            Text(PathText(folder.holders)), Text(HexOf(folder.entryId))};
}

const std::vector<std::string> kListFields = {"profile", "store", "name", "path", "entryid"};

int List(const Options& options)
{
    Target target;
    if (int code = OpenProfile(options, target)) return code;
    Result result;
    std::vector<size_t> chosen;
    if (int code = ChooseStores(options, target, chosen, result)) return code;
    Progress progress;
    Scanned scanned;
    if (int code = Scan(options, target, chosen, scanned, progress, result)) return code;
    Report report;
    report.table.fields = kListFields;
    for (const Found& folder : scanned.found)
        if (Picked(options, folder)) report.table.rows.push_back(ListFields(target, folder));
    report.summary = Plural(report.table.rows.size(), L"search folder", L"search folders");
    Output(Render(report, options.format), result);
    return result.ExitCode();
}

int Delete(const Options& options)
{
    Interruption interruption;  // from here on Ctrl+C lets the deletion in flight finish
    Target target;
    if (int code = OpenProfile(options, target)) return code;
    Result result;
    std::vector<size_t> chosen;
    if (int code = ChooseStores(options, target, chosen, result)) return code;
    Progress progress;
    Scanned scanned;
    if (int code = Scan(options, target, chosen, scanned, progress, result, &interruption)) return code;

    Report report;
    report.table.fields = kListFields;
    report.table.fields.push_back("outcome");
    report.table.fields.push_back("hr");
    long deleted = 0, failed = 0, wouldDelete = 0, notReached = 0;
    bool stopped = false;
    std::vector<Ref<IMsgStore>> stores(target.stores.size());
    std::vector<std::unique_ptr<Deleter>> deleters(target.stores.size());  // let go of before the stores
    for (const Found& folder : scanned.found) {
        if (!Picked(options, folder)) continue;
        std::wstring outcome, hrText;
        if (options.dryRun) {
            outcome = L"would-delete";
            ++wouldDelete;
        } else if (stopped || interruption.Requested()) {
            outcome = L"not-reached";
            ++notReached;
        } else {
            StoreRow& store = target.stores[folder.store];
            HRESULT hr = S_OK;
            if (!deleters[folder.store]) {
                hr = OpenStore(target.session.Get(), static_cast<ULONG>(store.entryId.size()),
                               reinterpret_cast<LPBYTE>(&store.entryId[0]), stores[folder.store].Put());
                if (SUCCEEDED(hr)) deleters[folder.store].reset(new Deleter(stores[folder.store].Get()));
            }
            if (SUCCEEDED(hr)) hr = deleters[folder.store]->Delete(folder);
            // Only S_OK is a deletion: a warning such as a partial completion may leave the folder there.
            if (hr == S_OK) {
                outcome = L"deleted";
                ++deleted;
                progress.Deleted();
            } else {
                outcome = L"failed";
                hrText = HresultText(hr);
                ++failed;
                stopped = !options.keepGoing;
            }
        }
        std::vector<Field> row = ListFields(target, folder);
        row.push_back(Text(outcome));
        row.push_back(Text(hrText));
        report.table.rows.push_back(row);
    }
    deleters.clear();
    result.interrupted = interruption.Requested();
    result.deletionFailed = failed > 0;

    report.summary = L"deleted " + std::to_wstring(deleted) + L", failed " + std::to_wstring(failed) + L", would delete " +
                     std::to_wstring(wouldDelete) + L", not reached " + std::to_wstring(notReached);
    report.counts = {{"deleted", deleted}, {"failed", failed}, {"would_delete", wouldDelete}, {"not_reached", notReached}};
    Table incomplete;
    incomplete.fields = {"store", "path", "step", "hr"};
    for (const Damage& damage : scanned.damage)
        incomplete.rows.push_back({Text(target.stores[damage.store].name), Text(damage.path), Text(FromAnsi(damage.step.c_str())),
                                   Text(HresultText(damage.hr))});
    report.lists = {{"incomplete", incomplete}};
    Output(Render(report, options.format), result);
    return result.ExitCode();
}

} // namespace

int RunCommand(const Options& options)
{
    switch (options.command) {
    case Command::Profiles: return ListProfiles(options);
    case Command::Stores: return ListStores(options);
    case Command::List: return List(options);
    default: return Delete(options);
    }
}
