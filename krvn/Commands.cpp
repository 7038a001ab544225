#include "Commands.h"


#include "Console.h"
#include "MailData.h"
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

// The profile the command works on, logged on to.
struct Target {
    ProfileRow profile;
    SessionRef session;
    std::vector<StoreRow> stores;
};

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

int ListProfiles(const Options& options)
{
    std::vector<ProfileRow> profiles;
    HRESULT hr = ReadProfiles(profiles);
    if (FAILED(hr)) return Unreachable(L"the profile table could not be read (hr=" + HresultText(hr) + L")");
    Report report;
    report.table.fields = {"name", "default"};
    for (const ProfileRow& profile : profiles) report.table.rows.push_back({Text(profile.name), Flag(profile.isDefault)});
    report.summary = Plural(profiles.size(), L"profile", L"profiles");
    WriteOut(Render(report, options.format));
    return kExitOk;
}

int ListStores(const Options& options)
{
    Target target;
    if (int code = OpenProfile(options, target)) return code;
    Report report;
    report.table.fields = {"profile", "name", "default", "entryid"};
    for (const StoreRow& store : target.stores)
        report.table.rows.push_back({Text(target.profile.name), Text(store.name), Flag(store.isDefault),
                                     Text(Hex(reinterpret_cast<const BYTE*>(store.entryId.data()),
                                              static_cast<ULONG>(store.entryId.size())))});
    report.summary = Plural(target.stores.size(), L"store", L"stores");
    WriteOut(Render(report, options.format));
    return kExitOk;
}

// Scans the chosen stores. With --all-stores a store that cannot be scanned
// is reported and left out (|skipped|); otherwise it ends the command.
int Scan(const Options& options, Target& target, std::vector<Found>& found,
         bool& skipped, Progress& progress)
{
    std::vector<size_t> chosen;
    for (size_t i = 0; i < target.stores.size(); ++i) {
        const StoreRow& store = target.stores[i];
        if (options.allStores || (options.hasStore ? SameName(store.name, options.store) : store.isDefault)) chosen.push_back(i);
        if (!options.allStores && !chosen.empty()) break;
    }
    if (chosen.empty() && !options.allStores)
        return Unreachable(options.hasStore ? L"no store named " + Quoted(options.store) + L" in profile " + Quoted(target.profile.name)
                                            : L"profile " + Quoted(target.profile.name) + L" has no default store");
    for (size_t i : chosen) {
        StoreRow& store = target.stores[i];
        Collector collector(found, i, &progress);
        ScanStep step = ScanStep::None;
        size_t before = found.size();
        HRESULT hr = ScanStoreFast(target.session.Get(), store.entryId, collector, &step, options.exactWalk);
        if (SUCCEEDED(hr)) continue;
        found.resize(before);  // what a failed scan found is not acted on
        std::wstring why = step == ScanStep::OpenStore ? L"could not be opened"
                         : step == ScanStep::GetFinder ? L"has no finder folder that could be opened"
                                                       : L"could not be scanned";
        std::wstring message = L"store " + Quoted(store.name) + L" " + why + L" (hr=" + HresultText(hr) + L")";
        if (!options.allStores) return Unreachable(message);
        WriteErr(L"krvn: " + message + L"; left out\r\n");
        skipped = true;
    }
    return kExitOk;
}

std::vector<Field> ListFields(const Target& target, const Found& folder)
{
    return {Text(target.profile.name), Text(target.stores[folder.store].name), Text(folder.name), Text(folder.path),
            Text(Hex(reinterpret_cast<const BYTE*>(folder.entryId.data()), static_cast<ULONG>(folder.entryId.size())))};
}

bool Selected(const Options& options, const Found& folder)
{
    if (options.all) return true;
    for (const std::wstring& pattern : options.names)
        if (MatchesPattern(folder.name, pattern)) return true;
    std::wstring id = Hex(reinterpret_cast<const BYTE*>(folder.entryId.data()), static_cast<ULONG>(folder.entryId.size()));
    for (const std::wstring& wanted : options.ids)
        if (SameName(id, wanted)) return true;
    return false;
}

int ListOrDelete(const Options& options)
{
    Target target;
    if (int code = OpenProfile(options, target)) return code;
    Progress progress;
    std::vector<Found> found;
    bool skipped = false;
    if (int code = Scan(options, target, found, skipped, progress)) return code;

    Report report;
    report.table.fields = {"profile", "store", "name", "path", "entryid"};
    if (options.command == Command::List) {
        for (const Found& folder : found) report.table.rows.push_back(ListFields(target, folder));
        report.summary = Plural(found.size(), L"search folder", L"search folders");
        WriteOut(Render(report, options.format));
        return skipped ? kExitUnreachable : kExitOk;
    }

    report.table.fields.push_back("outcome");
    report.table.fields.push_back("hr");
    long deleted = 0, failed = 0, wouldDelete = 0, notReached = 0;
    bool stopped = false;
    std::vector<Ref<IMsgStore>> open(target.stores.size());
    for (const Found& folder : found) {
        if (!Selected(options, folder)) continue;
        std::wstring outcome, hrText;
        if (options.dryRun) {
            outcome = L"would-delete";
            ++wouldDelete;
        } else if (stopped) {
            outcome = L"not-reached";
            ++notReached;
        } else {
            StoreRow& store = target.stores[folder.store];
            HRESULT hr = S_OK;
            if (!open[folder.store])
                hr = OpenStore(target.session.Get(), static_cast<ULONG>(store.entryId.size()),
                               reinterpret_cast<LPBYTE>(&store.entryId[0]), open[folder.store].Put());
            if (SUCCEEDED(hr)) hr = DeleteFound(open[folder.store].Get(), folder);
            if (SUCCEEDED(hr)) {
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
    report.summary = L"deleted " + std::to_wstring(deleted) + L", failed " + std::to_wstring(failed) + L", would delete " +
                     std::to_wstring(wouldDelete) + L", not reached " + std::to_wstring(notReached);
    report.counts = {{"deleted", deleted}, {"failed", failed}, {"would_delete", wouldDelete}, {"not_reached", notReached}};
    WriteOut(Render(report, options.format));
    if (failed) return kExitDeletionFailed;
    return skipped ? kExitUnreachable : kExitOk;
}

} // namespace

int RunCommand(const Options& options)
{
    switch (options.command) {
    case Command::Profiles: return ListProfiles(options);
    case Command::Stores: return ListStores(options);
    default: return ListOrDelete(options);
    }
}
