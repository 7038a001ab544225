#include "DeleteCommand.h"

#include <map>

#include "Backup.h"
#include "Conversions.h"
#include "Files.h"

namespace {

// Deletes found folders, opening each store once and each parent once.
class Deletions {
public:
    explicit Deletions(Target& target) : m_target(target), m_stores(target.stores.size()), m_deleters(target.stores.size()) {}

    // On failure |step| names the call that failed.
    HRESULT Delete(const Found& folder, const char*& step)
    {
        if (!m_deleters[folder.store]) {
            step = "OpenMsgStore";
            HRESULT hr = m_target.Open(folder.store, m_stores[folder.store]);
            if (FAILED(hr)) return hr;
            m_deleters[folder.store].reset(new Deleter(m_stores[folder.store].Get()));
        }
        return m_deleters[folder.store]->Delete(folder, step);
    }

private:
    Target& m_target;
    std::vector<Ref<IMsgStore>> m_stores;
    std::vector<std::unique_ptr<Deleter>> m_deleters;  // let go of before the stores
};

// Why a selected folder is not backed up, and so not deleted: a restore could not make it again.
struct NotBackedUp {
    HRESULT hr;
    std::wstring reason;
};

// What the backup of a run came to.
struct BackupMade {
    std::wstring path;            // empty: none was made
    std::wstring none;            // then why not
    size_t withoutCriteria = 0;   // folders backed up without search criteria (they never had any)
    std::map<const Found*, NotBackedUp> left;  // the selected folders it could not take
};

// Backs up the selected folders that a restore can make again, to the file
// --backup names or to a new default one, durable before it returns. One it
// cannot take (its store or the folder could not be opened again, its
// criteria could not be read or kept) is left out, and is never deleted.
// Nothing may be deleted unless this succeeds; where it takes no folder, no
// file is made or named.
int WriteBackup(const Options& options, const Work& work, BackupMade& made)
{
    std::string lines;
    for (const Found* folder : work.selected) {
        const Criteria& criteria = folder->criteria;
        std::string line;
        std::wstring why;
        HRESULT hr = criteria.hr;
        if (!criteria.reached) why = FromAnsi(criteria.step) + L" failed";
        else if (BackupLine(work.target.profile.name, work.target.stores[folder->store], *folder, line, why, hr)) {
            made.withoutCriteria += !criteria.read;
            lines += line + "\r\n";
            continue;
        }
        made.left[folder] = {hr, L"not backed up: " + why};
    }
    if (lines.empty()) {
        made.none = L"none of the selected folders could be backed up";
        return kExitOk;
    }
    const bool named = !options.backup.empty();
    AppendFile file;
    std::wstring error;
    if (!file.Open(named ? options.backup : DefaultBackupPath(), L"the backup file", error))
        return Unreachable(error + L"; nothing was deleted");
    if (!file.Append(lines))
        return Unreachable(L"the backup file " + Quoted(file.Path()) + L" could not be written whole " + file.Failure() + L"; nothing was deleted");
    made.path = file.Path();
    if (!named) RemoveOldBackups(made.path);
    return kExitOk;
}

} // namespace

int DeleteCommand(const Options& options, Record& record)
{
    Interruption interruption;  // from here on Ctrl+C lets the deletion in flight finish
    Work work;
    Progress progress;
    const bool backingUp = !options.dryRun && !options.noBackup;
    if (int code = Prepare(options, work, progress, &interruption, backingUp)) return code;
    BackupMade backup;
    backup.none = options.dryRun ? L"a dry run deletes nothing" : options.noBackup ? L"--no-backup was given" : L"nothing was selected";
    if (backingUp && !work.selected.empty())
        if (int code = WriteBackup(options, work, backup)) return code;
    Target& target = work.target;
    auto acted = std::make_shared<Table>();  // every folder acted on, for the record
    acted->fields = {"store", "name", "path", "entryid", "modified", "items", "outcome", "hr", "reason"};

    Report report;
    report.name = "folders";
    report.table.fields = RecordNames(options);
    report.table.fields.insert(report.table.fields.end(), {"outcome", "hr", "reason"});
    size_t deleted = 0, failed = 0, wouldDelete = 0, notReached = 0;
    bool stopped = false;
    Deletions deletions(target);
    for (const Found* folder : work.selected) {
        std::wstring outcome, hrText, reason;
        auto fail = [&](HRESULT hr, const std::wstring& why) {
            outcome = L"failed";
            hrText = HresultText(hr);
            reason = why;
            ++failed;
            stopped = !options.keepGoing;
        };
        if (options.dryRun) {
            outcome = L"would-delete";
            ++wouldDelete;
        } else if (stopped || interruption.Requested()) {
            outcome = L"not-reached";
            ++notReached;
        } else if (backup.left.count(folder)) {
            const NotBackedUp& left = backup.left.at(folder);
            fail(left.hr, left.reason);
        } else {
            const char* step = "";
            HRESULT hr = deletions.Delete(*folder, step);
            // Only S_OK is a deletion: a warning such as a partial completion may leave the folder there.
            if (hr == S_OK) {
                outcome = L"deleted";
                ++deleted;
                progress.Deleted();
            } else {
                const std::string call = step;
                fail(hr, call == "OpenMsgStore" ? L"its store could not be opened: OpenMsgStore failed"
                       : call == "OpenEntry"    ? L"the folder that holds it could not be opened: OpenEntry failed"
                       : SUCCEEDED(hr)          ? L"DeleteFolder answered a warning: the folder may still be there"
                                                : L"DeleteFolder failed");
            }
        }
        std::vector<Field> row = RecordFields(options, target, *folder);
        for (const std::wstring* text : {&outcome, &hrText, &reason}) row.push_back(TextField(*text));
        acted->rows.push_back({row[1], row[2], row[3], row[4], row[5], row[6], row.end()[-3], row.end()[-2], row.end()[-1]});
        report.table.rows.push_back(std::move(row));
    }
    work.result.interrupted = interruption.Requested();
    work.result.deletionFailed = failed > 0;

    report.summary = L"deleted " + std::to_wstring(deleted) + L", failed " + std::to_wstring(failed) + L", would delete " +
                     std::to_wstring(wouldDelete) + L", not reached " + std::to_wstring(notReached) + Unread(options, work);
    if (!backup.path.empty())
        report.summary += L"; backup " + backup.path +
                          (backup.withoutCriteria ? L" (" + Plural(backup.withoutCriteria, L"folder", L"folders") + L" without search criteria, never set)" : L"");
    else if (backingUp && !work.selected.empty())
        report.summary += L"; nothing was backed up: " + backup.none;
    report.values = {{"deleted", NumberField(deleted)}, {"failed", NumberField(failed)}, {"would_delete", NumberField(wouldDelete)},
                     {"not_reached", NumberField(notReached)}};
    if (options.criteria) report.values.push_back({"criteria_unread", NumberField(work.criteriaUnread)});
    report.values.push_back({"backup", backup.path.empty() ? NullField() : TextField(backup.path)});
    report.values.push_back({"backup_without_criteria", NumberField(backup.withoutCriteria)});
    report.values.push_back({"backup_reason", backup.path.empty() ? TextField(backup.none) : NullField()});
    std::shared_ptr<Table> incomplete = Incomplete(work);
    report.lists = {{"incomplete", *incomplete}};
    RecordTarget(record, work);
    for (const auto& value : report.values) record.Add(value.first.c_str(), value.second);
    record.Add("folders", NestedField(acted));
    record.Add("incomplete", NestedField(incomplete));
    Output(Render(report, options.format), work.result);
    return work.result.ExitCode();
}
