#include "RestoreCommand.h"

#include "Conversions.h"
#include "Files.h"
#include "Restore.h"
#include "Selection.h"

namespace {

// The whole of a file; false with |error|, the system's text for the call that failed.
bool ReadWhole(const std::wstring& path, std::string& text, std::wstring& error)
{
    const std::wstring file = L"the backup file " + Quoted(path);
    Handle handle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size = {};
    DWORD read = 0;
    if (!handle.IsOpen() || !GetFileSizeEx(handle.Get(), &size)) return error = file + L" cannot be read (" + SystemError(GetLastError()) + L")", false;
    if (size.QuadPart >= 0x7FFFFFFF) return error = file + L" is too large to read (2 GiB or more)", false;
    text.resize(static_cast<size_t>(size.QuadPart));
    if (!text.empty() && !ReadFile(handle.Get(), &text[0], static_cast<DWORD>(text.size()), &read, nullptr))
        return error = file + L" cannot be read (" + SystemError(GetLastError()) + L")", false;
    if (read != text.size()) return error = file + L" cannot be read (it changed while it was read)", false;
    return true;
}

// The records of a backup, in its order; each line that is no record goes to |unreadable|.
std::vector<BackupRecord> ReadBackup(const std::wstring& path, const std::string& text, Table& unreadable)
{
    std::vector<BackupRecord> records;
    size_t number = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = std::min(text.find('\n', start), text.size());
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (number == 1 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);  // a BOM that an editor added
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find_first_not_of(" \t") == std::string::npos) continue;
        BackupRecord record;
        std::wstring why;
        if (ReadBackupLine(line, record, why)) {
            records.push_back(std::move(record));
            continue;
        }
        Message(L"backup " + Quoted(path) + L" line " + std::to_wstring(number) + L": " + why + L"; left out");
        unreadable.rows.push_back({NumberField(number), TextField(why)});
    }
    return records;
}

} // namespace

int RestoreCommand(const Options& options, Record& record)
{
    // The backup first: one that cannot be read stops all before anything is done.
    const std::wstring path = ExpandPath(options.from);
    std::string text;
    std::wstring error;
    if (!ReadWhole(path, text, error)) return Unreachable(error);
    auto unreadable = std::make_shared<Table>();
    unreadable->fields = {"line", "reason"};
    std::vector<BackupRecord> records = ReadBackup(path, text, *unreadable);

    Interruption interruption;  // from here on Ctrl+C lets the folder in hand be made
    Target target;
    if (int code = OpenProfile(options, target)) return code;
    const bool named = options.hasStore || options.hasStoreId;  // then every record goes into that store
    size_t into = 0;
    if (named)
        if (int code = FindStore(options, target, into)) return code;
    Restorer restorer(target, named ? &target.stores[into] : nullptr);
    Result result;
    Report report;
    report.name = "folders";
    // |store| is where the record goes (with -s, the store chosen), |backup_store| the one the backup names where that differs.
    report.table.fields = {"store", "name", "path", "entryid", "outcome", "new_entryid", "hr", "reason", "backup_store"};
    size_t counts[5] = {};  // restored, exists, would restore, failed, not reached
    bool stopped = false;
    for (const BackupRecord& backedUp : records) {
        if (!Picked(options, backedUp.name, backedUp.entryId)) continue;
        Restored restored;
        size_t outcome = 4;
        if (!stopped && !interruption.Requested()) {
            restored = restorer.Restore(backedUp, options.dryRun);
            outcome = restored.outcome == Restored::Made ? 0 : restored.outcome == Restored::Exists ? 1 : restored.outcome == Restored::WouldMake ? 2 : 3;
            stopped = outcome == 3 && !options.keepGoing;
        }
        ++counts[outcome];
        static const wchar_t* const names[] = {L"restored", L"exists", L"would-restore", L"failed", L"not-reached"};
        const StoreRow* into = restorer.Destination(backedUp);
        const std::wstring& store = into && into->hasName ? into->name : backedUp.store;
        report.table.rows.push_back({TextField(store), TextField(backedUp.name), TextField(backedUp.path), TextField(HexOf(backedUp.entryId)),
                                     TextField(names[outcome]), restored.newId.empty() ? NullField() : TextField(HexOf(restored.newId)),
                                     outcome == 3 ? TextField(HresultText(restored.hr)) : NullField(),
                                     restored.reason.empty() ? NullField() : TextField(restored.reason),
                                     store == backedUp.store ? NullField() : TextField(backedUp.store)});
    }
    result.interrupted = interruption.Requested();
    result.deletionFailed = counts[3] > 0;
    result.incomplete = !unreadable->rows.empty();

    report.summary = L"restored " + std::to_wstring(counts[0]) + L", exists " + std::to_wstring(counts[1]) + L", failed " +
                     std::to_wstring(counts[3]) + L", would restore " + std::to_wstring(counts[2]) + L", not reached " +
                     std::to_wstring(counts[4]) +
                     (unreadable->rows.empty() ? L"" : L"; " + Plural(unreadable->rows.size(), L"line", L"lines") + L" of the backup could not be read");
    report.values = {{"restored", NumberField(counts[0])}, {"exists", NumberField(counts[1])}, {"would_restore", NumberField(counts[2])},
                     {"failed", NumberField(counts[3])}, {"not_reached", NumberField(counts[4])}};
    report.lists = {{"unreadable", *unreadable}};
    record.Add("profile", TextField(target.profile.name));
    record.Add("from", TextField(path));
    for (const auto& value : report.values) record.Add(value.first.c_str(), value.second);
    record.Add("folders", NestedField(std::make_shared<Table>(report.table)));
    record.Add("unreadable", NestedField(unreadable));
    Output(Render(report, options.format), result);
    return result.ExitCode();
}
