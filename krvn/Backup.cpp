#include "Backup.h"

#include <shlobj.h>
#include <stdio.h>
#include <stdlib.h>

#include "Conversions.h"

namespace {

const char kFormat[] = "krvn-backup";
const ULONGLONG kKeptDays = 180;
const ULONGLONG kDay = 24ULL * 60 * 60 * 10000000;  // in FILETIME ticks

std::string HexText(const std::string& bytes)
{
    return ToUtf8(HexOf(bytes));
}

bool Member(const Json& record, const char* key, const Json*& value)
{
    auto found = record.find(key);
    value = found == record.end() ? nullptr : &*found;
    return value != nullptr;
}

bool Id(const Json& record, const char* key, std::string& bytes, bool nullable = false)
{
    const Json* value = nullptr;
    if (!Member(record, key, value)) return false;
    if (nullable && value->is_null()) return true;
    return value->is_string() && FromHex(value->get<std::string>(), bytes);
}

// The time in a default backup's name (krvn-YYYYMMDD-HHMMSS-PID.jsonl), as
// FILETIME ticks; false for any other name.
bool BackupTime(const std::wstring& name, ULONGLONG& ticks)
{
    const std::wstring shape = L"krvn-dddddddd-dddddd-", end = L".jsonl";
    auto digits = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i)
            if (name[i] < L'0' || name[i] > L'9') return false;
        return to > from;
    };
    if (name.size() <= shape.size() + end.size() || name.compare(name.size() - end.size(), end.size(), end) != 0 ||
        !digits(shape.size(), name.size() - end.size()))
        return false;
    for (size_t i = 0; i < shape.size(); ++i)
        if (shape[i] == L'd' ? !digits(i, i + 1) : name[i] != shape[i]) return false;
    auto at = [&](size_t from, size_t count) { return static_cast<WORD>(std::stoi(name.substr(from, count))); };
    SYSTEMTIME time = {at(5, 4), at(9, 2), 0, at(11, 2), at(14, 2), at(16, 2), at(18, 2), 0};
    FILETIME file;
    if (!SystemTimeToFileTime(&time, &file)) return false;
    ticks = (static_cast<ULONGLONG>(file.dwHighDateTime) << 32) | file.dwLowDateTime;
    return true;
}

} // namespace

bool BackupLine(const std::wstring& profile, const StoreRow& store, const Found& folder, std::string& line, std::wstring& why, HRESULT& hr)
{
    const Criteria& criteria = folder.criteria;
    const Evidence& e = folder.evidence;
    const bool none = !criteria.read && criteria.hr == MAPI_E_NOT_INITIALIZED;  // never set: made again without
    Json form;
    std::string problem;
    if (!none && !criteria.read) {
        hr = criteria.hr;
        why = L"its search criteria could not be read: " + FromAnsi(criteria.step) + L" failed";
        return false;
    }
    if (!none && !(criteria.restriction && RestrictionToJson(*criteria.restriction, form, problem))) {
        hr = MAPI_E_TOO_COMPLEX;
        why = L"its restriction holds " + FromUtf8(problem);
        return false;
    }
    // Text goes through TextForm wherever it stands: a name need not be whole UTF-16.
    Json record = {{"format", kFormat}, {"version", kBackupVersion}, {"profile", TextForm(profile.c_str())}, {"store", TextForm(store.name.c_str())},
                   {"store_entryid", HexText(store.entryId)}, {"path", TextForm(PathText(folder.holders).c_str())}, {"holders", Json::array()}};
    for (const std::wstring& holder : folder.holders) record["holders"].push_back(TextForm(holder.c_str()));
    record["parent_entryid"] = folder.parentId.empty() ? Json() : Json(HexText(folder.parentId));
    record["name"] = TextForm(folder.name.c_str());
    record["comment"] = folder.hasComment ? TextForm(folder.comment.c_str()) : Json();
    record["entryid"] = HexText(folder.entryId);
    record["modified"] = e.hasModified ? Json(ToUtf8(UtcText(e.modified))) : Json();
    record["items"] = e.hasItems ? Json(e.items) : Json();
    record["criteria"] = none ? Json() : TextForm(criteria.text.c_str());
    record["restriction"] = none ? Json() : form;
    Json scope = Json::array();
    for (size_t i = 0; i < criteria.scopeIds.size(); ++i)
        scope.push_back({{"entryid", HexText(criteria.scopeIds[i])}, {"name", TextForm(criteria.scope[i].c_str())}});
    record["scope"] = none ? Json() : scope;
    record["search_state"] = none ? Json() : Json(criteria.state);
    record["criteria_error"] = none ? Json("it had no search criteria") : Json();
    record["criteria_hr"] = none ? Json(ToUtf8(HresultText(MAPI_E_NOT_INITIALIZED))) : Json();
    line = record.dump(-1, ' ', false, Json::error_handler_t::replace);
    return true;
}

bool ReadBackupLine(const std::string& line, BackupRecord& record, std::wstring& why)
{
    Json json = Json::parse(line, nullptr, false);
    const Json* value = nullptr;
    auto missing = [&](const char* key) { return why = L"'" + FromUtf8(key) + L"' is missing or not what it should be", false; };
    if (json.is_discarded() || !json.is_object()) return why = L"not a JSON object", false;
    if (!Member(json, "format", value) || *value != kFormat) return why = L"not a record of a krvn backup", false;
    if (!Member(json, "version", value) || !value->is_number_integer()) return missing("version");
    if (*value != kBackupVersion) return why = L"a record of version " + FromUtf8(value->dump()) + L", which this krvn does not read", false;
    // Text in either of its forms (a string, or {"utf16": HEX}); criteria and scope names only for people, so null will do.
    std::wstring unused;
    for (auto text : {std::make_pair("profile", &record.profile), std::make_pair("store", &record.store), std::make_pair("path", &record.path),
                      std::make_pair("criteria", &unused)})
        if (Member(json, text.first, value) && !value->is_null() && !TextFrom(*value, *text.second)) return missing(text.first);
    if (!Id(json, "store_entryid", record.storeId)) return missing("store_entryid");
    if (!Id(json, "parent_entryid", record.parentId, true)) return missing("parent_entryid");
    if (!Id(json, "entryid", record.entryId)) return missing("entryid");
    if (!Member(json, "name", value) || !TextFrom(*value, record.name) || record.name.empty()) return missing("name");
    if (!Member(json, "comment", value) || !(value->is_null() || TextFrom(*value, record.comment))) return missing("comment");
    record.hasComment = !value->is_null();
    if (!Member(json, "holders", value) || !value->is_array()) return missing("holders");
    for (const Json& holder : *value) {
        std::wstring name;
        if (!TextFrom(holder, name)) return missing("holders");
        record.holders.push_back(name);
    }
    if (!Member(json, "restriction", value)) return missing("restriction");
    if (value->is_null()) {  // backed up without its criteria: the record says why
        record.criteriaError = Member(json, "criteria_error", value) && value->is_string() ? FromUtf8(value->get<std::string>())
                                                                                          : L"its criteria were not backed up";
        record.criteriaHr = Member(json, "criteria_hr", value) && value->is_string()
                                ? static_cast<HRESULT>(strtoul(value->get<std::string>().c_str(), nullptr, 16))
                                : MAPI_E_NOT_FOUND;
        if (SUCCEEDED(record.criteriaHr)) {  // written by a krvn that recorded no cause: no success is given as one
            record.criteriaHr = MAPI_E_NOT_FOUND;
            record.criteriaError = L"its criteria were not backed up";
        }
        return true;
    }
    std::string problem;
    record.restriction = std::make_shared<BuiltRestriction>();
    if (!record.restriction->Build(*value, problem)) return why = FromUtf8(problem), false;
    if (!Member(json, "search_state", value) || !value->is_number_unsigned() || value->get<unsigned long long>() > 0xFFFFFFFF)
        return missing("search_state");
    record.state = value->get<ULONG>();
    if (!Member(json, "scope", value) || !value->is_array()) return missing("scope");
    for (const Json& searched : *value) {
        std::string id;
        if (!searched.is_object() || !Id(searched, "entryid", id) ||
            (Member(searched, "name", value) && !value->is_null() && !TextFrom(*value, unused)))
            return missing("scope");
        record.scopeIds.push_back(id);
    }
    return true;
}

std::wstring DefaultBackupPath()
{
    wchar_t local[MAX_PATH] = L"";
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local))) GetTempPathW(MAX_PATH, local);
    SYSTEMTIME now;
    GetSystemTime(&now);
    wchar_t name[64];
    swprintf(name, 64, L"krvn-%04u%02u%02u-%02u%02u%02u-%lu.jsonl", now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
             GetCurrentProcessId());
    std::wstring folder = local;
    if (!folder.empty() && folder.back() != L'\\') folder += L'\\';
    return folder + L"Korvane\\backups\\" + name;
}

void RemoveOldBackups(const std::wstring& path)
{
    std::wstring folder = path.substr(0, path.find_last_of(L'\\') + 1);
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    ULONGLONG limit = ((static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime) - kKeptDays * kDay;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((folder + L"krvn-*.jsonl").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        ULONGLONG made = 0;
        std::wstring name = found.cFileName;
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && BackupTime(name, made) && made < limit && folder + name != path)
            DeleteFileW((folder + name).c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
}
