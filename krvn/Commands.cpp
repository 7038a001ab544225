#include "Commands.h"

#include <algorithm>
#include <map>
#include <memory>

#include "AuditLog.h"
#include "Conversions.h"
#include "DeleteCommand.h"
#include "Files.h"
#include "Reporting.h"
#include "RestoreCommand.h"
#include "SummaryCommand.h"

namespace {

Field Text(const std::wstring& value) { return TextField(value); }

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
        Message(Plural(nameless, L"row", L"rows") + L" of the profile table without a name left out");
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
            Message(Lacking(Quoted(target.profile.name), store));
            result.incomplete = true;
            continue;
        }
        report.table.rows.push_back({Text(target.profile.name), Text(store.name), Flag(store.isDefault), Text(HexOf(store.entryId))});
    }
    report.summary = Plural(report.table.rows.size(), L"store", L"stores");
    Output(Render(report, options.format), result);
    return result.ExitCode();
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
        case Command::Summary: code = SummaryCommand(options); break;
        case Command::Check: code = Check(options, record); break;
        case Command::Restore: code = RestoreCommand(options, record); break;
        default: code = DeleteCommand(options, record); break;
        }
        MAPIUninitialize();
    }
    if (!log.IsOpen()) return code;
    record.Add("exit_code", NumberField(static_cast<unsigned>(code)));
    if (!LastTrouble().empty()) record.Add("error", TextField(LastTrouble()));
    if (!log.Append(ToUtf8(JsonLine(record.table, 0) + L"\r\n"))) {
        Message(L"the record could not be appended to the log file " + Quoted(log.Path()) + L" " + log.Failure());
        return kExitOutput;
    }
    return code;
}
