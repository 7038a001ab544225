#include "Commands.h"

#include <algorithm>
#include <map>
#include <memory>

#include "AuditLog.h"
#include "Conversions.h"
#include "Files.h"
#include "Selection.h"
#include "Work.h"

namespace {

Field Text(const std::wstring& value) { return TextField(value); }
Field Flag(bool value) { return LiteralField(value ? L"true" : L"false"); }

int ListProfiles(const Options& options)
{
    std::vector<ProfileRow> profiles;
    size_t nameless = 0;
    HRESULT hr = ReadProfiles(profiles, &nameless);
    if (FAILED(hr)) return Unreachable(L"the profile table could not be read (hr=" + HresultText(hr) + L")");
    Report report;
    report.table.fields = {"name", "default"};
    for (const ProfileRow& profile : profiles) report.table.rows.push_back({Text(profile.name), Flag(profile.isDefault)});
    report.summary = Plural(profiles.size(), L"profile", L"profiles");
    Result result;
    if (nameless) {
        WriteErr(L"krvn: " + Plural(nameless, L"row", L"rows") + L" of the profile table without a name left out\r\n");
        result.incomplete = true;
    }
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

// A run's record for the audit log: what the command adds to when, where, who and what.
struct Record {
    Table table;
    void Add(const char* name, Field value)
    {
        table.fields.push_back(name);
        table.rows[0].push_back(std::move(value));
    }
};

// What the scan could not read whole: the stores left out (without a path)
// and the places in stores.
std::shared_ptr<Table> Incomplete(const Work& work)
{
    auto places = std::make_shared<Table>();
    places->fields = {"store", "path", "step", "hr", "reason"};
    for (const Damage& damage : work.scanned.damage) {
        const StoreRow& store = work.target.stores[damage.store];
        places->rows.push_back({store.hasName ? Text(store.name) : NullField(), damage.leftOut ? NullField() : Text(damage.path),
                                Text(FromAnsi(damage.step.c_str())), damage.hr == S_OK ? NullField() : Text(HresultText(damage.hr)),
                                Text(DamageText(damage))});
    }
    return places;
}

// The profile and the stores read that a record names.
void RecordTarget(Record& record, const Work& work)
{
    std::vector<std::wstring> stores;
    for (size_t store : work.stores) stores.push_back(work.target.stores[store].name);
    record.Add("profile", TextField(work.target.profile.name));
    record.Add("stores", ListField(stores));
}

Field TimeField(bool known, const FILETIME& time) { return known ? Text(UtcText(time)) : NullField(); }

std::vector<std::string> RecordNames(const Options& options)
{
    std::vector<std::string> names = {"profile", "store", "name", "path", "entryid", "modified", "items"};
    if (options.criteria) names.insert(names.end(), {"criteria", "scope"});
    return names;
}

std::vector<Field> RecordFields(const Options& options, const Target& target, const Found& folder)
{
    const Evidence& e = folder.evidence;
    std::vector<Field> row = {Text(target.profile.name), Text(target.stores[folder.store].name), Text(folder.name),
                              Text(PathText(folder.holders)), Text(HexOf(folder.entryId)), TimeField(e.hasModified, e.modified),
                              e.hasItems ? NumberField(e.items) : NullField()};
    if (options.criteria) {
        const Criteria& c = folder.criteria;
        row.push_back(c.read ? Text(c.text) : NullField());
        row.push_back(c.read ? ListField(c.scope) : NullField());
    }
    return row;
}

std::wstring Unread(const Options& options, const Work& work)
{
    return options.criteria && work.criteriaUnread
               ? L"; criteria of " + std::to_wstring(work.criteriaUnread) + L" could not be read"
               : std::wstring();
}

int List(const Options& options)
{
    Work work;
    Progress progress;
    if (int code = Prepare(options, work, progress)) return code;
    Report report;
    report.table.fields = RecordNames(options);
    for (const Found* folder : work.selected) report.table.rows.push_back(RecordFields(options, work.target, *folder));
    report.summary = Plural(report.table.rows.size(), L"search folder", L"search folders") + Unread(options, work);
    Output(Render(report, options.format), work.result);
    return work.result.ExitCode();
}

// Deletes found folders, opening each store once and each parent once.
class Deletions {
public:
    explicit Deletions(Target& target) : m_target(target), m_stores(target.stores.size()), m_deleters(target.stores.size()) {}

    HRESULT Delete(const Found& folder)
    {
        if (!m_deleters[folder.store]) {
            HRESULT hr = m_target.Open(folder.store, m_stores[folder.store]);
            if (FAILED(hr)) return hr;
            m_deleters[folder.store].reset(new Deleter(m_stores[folder.store].Get()));
        }
        return m_deleters[folder.store]->Delete(folder);
    }

private:
    Target& m_target;
    std::vector<Ref<IMsgStore>> m_stores;
    std::vector<std::unique_ptr<Deleter>> m_deleters;  // let go of before the stores
};

int Delete(const Options& options, Record& record)
{
    Interruption interruption;  // from here on Ctrl+C lets the deletion in flight finish
    Work work;
    Progress progress;
    if (int code = Prepare(options, work, progress, &interruption)) return code;
    Target& target = work.target;
    auto acted = std::make_shared<Table>();  // every folder acted on, for the record
    acted->fields = {"store", "name", "path", "entryid", "modified", "items", "outcome", "hr"};

    Report report;
    report.name = "folders";
    report.table.fields = RecordNames(options);
    report.table.fields.insert(report.table.fields.end(), {"outcome", "hr"});
    long deleted = 0, failed = 0, wouldDelete = 0, notReached = 0;
    bool stopped = false;
    Deletions deletions(target);
    for (const Found* folder : work.selected) {
        std::wstring outcome, hrText;
        if (options.dryRun) {
            outcome = L"would-delete";
            ++wouldDelete;
        } else if (stopped || interruption.Requested()) {
            outcome = L"not-reached";
            ++notReached;
        } else {
            HRESULT hr = deletions.Delete(*folder);
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
        std::vector<Field> row = RecordFields(options, target, *folder);
        row.push_back(Text(outcome));
        row.push_back(Text(hrText));
        acted->rows.push_back({row[1], row[2], row[3], row[4], row[5], row[6], row.end()[-2], row.end()[-1]});
        report.table.rows.push_back(std::move(row));
    }
    work.result.interrupted = interruption.Requested();
    work.result.deletionFailed = failed > 0;

    report.summary = L"deleted " + std::to_wstring(deleted) + L", failed " + std::to_wstring(failed) + L", would delete " +
                     std::to_wstring(wouldDelete) + L", not reached " + std::to_wstring(notReached) + Unread(options, work);
    report.counts = {{"deleted", deleted}, {"failed", failed}, {"would_delete", wouldDelete}, {"not_reached", notReached}};
    if (options.criteria) report.counts.push_back({"criteria_unread", static_cast<long>(work.criteriaUnread)});
    std::shared_ptr<Table> incomplete = Incomplete(work);
    report.lists = {{"incomplete", *incomplete}};
    RecordTarget(record, work);
    for (const auto& count : report.counts) record.Add(count.first.c_str(), NumberField(count.second));
    record.Add("folders", NestedField(acted));
    record.Add("incomplete", NestedField(incomplete));
    Output(Render(report, options.format), work.result);
    return work.result.ExitCode();
}

// The oldest and newest modification of a set of folders.
struct Span {
    bool any = false;
    FILETIME oldest = {}, newest = {};

    void Add(const Evidence& e)
    {
        if (!e.hasModified) return;
        if (!any || CompareFileTime(&e.modified, &oldest) < 0) oldest = e.modified;
        if (!any || CompareFileTime(&e.modified, &newest) > 0) newest = e.modified;
        any = true;
    }
};

// A store's summary: its search folders, the empty ones, their span, and the
// groups of their names, most numerous first, ties in ordinal order of the
// pattern. Names group as --name matches them, ignoring case: a group shows
// the spelling of its first member, and how many folders its pattern selects.
struct StoreSummary {
    size_t folders = 0, empty = 0;
    Span span;
    struct Group {
        std::wstring pattern;
        size_t count = 0, selects = 0;
        Span span;
    };
    std::vector<Group> groups;
};

StoreSummary Summarise(const Work& work, size_t store)
{
    StoreSummary summary;
    std::map<std::wstring, StoreSummary::Group> groups;  // by the pattern in upper case
    std::vector<std::wstring> names;
    for (const Found* folder : work.selected) {
        if (folder->store != store) continue;
        ++summary.folders;
        summary.empty += folder->evidence.hasItems && folder->evidence.items == 0;
        summary.span.Add(folder->evidence);
        std::wstring pattern = GroupPattern(folder->name), key = pattern;
        CharUpperBuffW(&key[0], static_cast<DWORD>(key.size()));
        StoreSummary::Group& group = groups[key];
        if (!group.count) group.pattern = pattern;
        ++group.count;
        group.span.Add(folder->evidence);
        names.push_back(folder->name);
    }
    NameIndex index(names);
    for (auto& group : groups) {
        group.second.selects = index.Matches(group.second.pattern);
        summary.groups.push_back(group.second);
    }
    std::stable_sort(summary.groups.begin(), summary.groups.end(),
                     [](const StoreSummary::Group& a, const StoreSummary::Group& b) { return a.count > b.count; });
    return summary;
}

// A group's row: its pattern (marked in text when it is wildcards only), its
// count, how many its pattern selects (marked in text when more), its span.
std::vector<Field> GroupFields(const StoreSummary::Group& group)
{
    std::vector<Field> row = {Text(group.pattern), NumberField(group.count), NumberField(group.selects),
                              TimeField(group.span.any, group.span.oldest), TimeField(group.span.any, group.span.newest)};
    if (OnlyWildcards(group.pattern)) row[0].mark = L"(any name)";
    if (group.selects > group.count) row[2].mark = L"(+" + std::to_wstring(group.selects - group.count) + L" others)";
    return row;
}

int Summary(const Options& options)
{
    Work work;
    Progress progress;
    if (int code = Prepare(options, work, progress)) return code;
    const std::vector<std::string> storeNames = {"profile", "store", "search_folders", "empty", "oldest", "newest"};
    Report flat, nested;  // one row per group (text, csv); one object per store (json)
    flat.table.fields = storeNames;
    flat.table.fields.insert(flat.table.fields.end(), {"pattern", "count", "selects", "group_oldest", "group_newest"});
    nested.name = "stores";
    nested.table.fields = storeNames;
    nested.table.fields.push_back("groups");
    size_t total = 0;
    for (size_t store : work.stores) {  // the stores read: one left out is no store without search folders
        StoreSummary summary = Summarise(work, store);
        total += summary.folders;
        std::vector<Field> row = {Text(work.target.profile.name), Text(work.target.stores[store].name), NumberField(summary.folders),
                                  NumberField(summary.empty), TimeField(summary.span.any, summary.span.oldest),
                                  TimeField(summary.span.any, summary.span.newest)};
        auto groups = std::make_shared<Table>();
        groups->fields = {"pattern", "count", "selects", "oldest", "newest"};
        for (const StoreSummary::Group& group : summary.groups) {
            groups->rows.push_back(GroupFields(group));
            flat.table.rows.push_back(row);
            flat.table.rows.back().insert(flat.table.rows.back().end(), groups->rows.back().begin(), groups->rows.back().end());
        }
        if (summary.groups.empty()) {  // a store without search folders still shows its counts
            flat.table.rows.push_back(row);
            flat.table.rows.back().insert(flat.table.rows.back().end(), 5, NullField());
        }
        row.push_back(NestedField(groups));
        nested.table.rows.push_back(row);
    }
    nested.lists = {{"incomplete", *Incomplete(work)}};
    flat.summary = Plural(work.stores.size(), L"store", L"stores") + L", " + Plural(total, L"search folder", L"search folders") +
                   (work.leftOut ? L"; " + Plural(work.leftOut, L"store", L"stores") + L" left out, not read" : L"") +
                   Unread(options, work);
    Output(Render(options.format == Format::Json ? nested : flat, options.format), work.result);
    return work.result.ExitCode();
}

int Check(const Options& options, Record& record)
{
    Work work;
    Progress progress(false);  // a remediation fails on anything on standard error
    if (int code = Prepare(options, work, progress)) return code;
    RecordTarget(record, work);
    record.Add("incomplete", NestedField(Incomplete(work)));
    if (work.result.incomplete) return work.result.ExitCode();  // a count over what was not reached is no answer
    size_t count = work.selected.size();
    bool exceeded = count > options.over;
    record.Add("count", NumberField(count));
    record.Add("over", NumberField(options.over));
    record.Add("exceeded", LiteralField(exceeded ? L"true" : L"false"));
    std::wstring text;
    if (options.format == Format::Json) {
        text = L"{\"count\": " + std::to_wstring(count) + L", \"over\": " + std::to_wstring(options.over) + L", \"stores\": " +
               std::to_wstring(work.stores.size()) + L", \"exceeded\": " + (exceeded ? L"true" : L"false") + L"}\r\n";
    } else if (options.format == Format::Csv) {
        text = L"count,over,stores,exceeded\r\n" + std::to_wstring(count) + L"," + std::to_wstring(options.over) + L"," +
               std::to_wstring(work.stores.size()) + L"," + (exceeded ? L"true" : L"false") + L"\r\n";
    } else {
        std::wstring where = options.allStores ? Plural(work.stores.size(), L"store", L"stores")
                                               : Quoted(work.target.stores[work.stores[0]].name);
        text = Plural(count, L"search folder", L"search folders") + L" in " + where + (count == 1 ? L" matches, " : L" match, ") +
               (exceeded ? L"over" : L"within") + L" the limit of " + std::to_wstring(options.over) + L"\r\n";
    }
    Output(text, work.result);
    if (work.result.outputFailed) return kExitOutput;
    return exceeded ? kExitCheckExceeded : kExitOk;
}

} // namespace

int RunCommand(const Options& options, const std::vector<std::wstring>& arguments)
{
    AppendFile log;
    std::wstring error;
    if (options.hasLog && !log.Open(options.log, L"the log file", error)) return Unreachable(error);  // before anything is done
    Record record = {RunRecord(arguments)};
    HRESULT hr = MAPIInitialize(nullptr);
    int code;
    if (FAILED(hr)) {
        code = Unreachable(L"MAPI could not be initialised (hr=" + HresultText(hr) +
                           L"); is a mail client of this program's bitness installed?");
    } else {
        switch (options.command) {
        case Command::Profiles: code = ListProfiles(options); break;
        case Command::Stores: code = ListStores(options); break;
        case Command::List: code = List(options); break;
        case Command::Summary: code = Summary(options); break;
        case Command::Check: code = Check(options, record); break;
        default: code = Delete(options, record); break;
        }
        MAPIUninitialize();
    }
    if (!log.IsOpen()) return code;
    record.Add("exit_code", NumberField(static_cast<unsigned>(code)));
    if (!LastTrouble().empty()) record.Add("error", TextField(LastTrouble()));
    if (!log.Append(ToUtf8(JsonLine(record.table, 0) + L"\r\n"))) {
        WriteErr(L"krvn: the record could not be appended to the log file '" + log.Path() + L"'\r\n");
        return kExitOutput;
    }
    return code;
}
