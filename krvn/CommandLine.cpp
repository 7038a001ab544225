#include "CommandLine.h"

#include <windows.h>

#include "Patterns.h"

namespace {

struct CommandName {
    const wchar_t* name;
    Command command;
};
const CommandName kCommands[] = {{L"profiles", Command::Profiles}, {L"stores", Command::Stores}, {L"list", Command::List},
                                 {L"delete", Command::Delete}, {L"summary", Command::Summary}, {L"check", Command::Check},
                                 {L"restore", Command::Restore}};

// Which commands take an option.
enum : unsigned { kProfiles = 1, kStores = 2, kList = 4, kDelete = 8, kSummary = 16, kCheck = 32, kRestore = 64 };
const unsigned kAll = 127, kScans = kList | kDelete | kSummary | kCheck;

unsigned Bit(Command command)
{
    switch (command) {
    case Command::Profiles: return kProfiles;
    case Command::Stores: return kStores;
    case Command::List: return kList;
    case Command::Delete: return kDelete;
    case Command::Summary: return kSummary;
    case Command::Restore: return kRestore;
    default: return kCheck;
    }
}

// The largest count of days or folders krvn takes: far more than any can need.
const unsigned long long kLargestNumber = 999999999999999ULL;

// ASCII digits only, up to kLargestNumber; |error| says what is wrong with |option VALUE|.
std::wstring WholeNumber(const wchar_t* option, const std::wstring& text, unsigned long long& value, const wchar_t* unit)
{
    const std::wstring given = std::wstring(L"'") + option + L" " + text + L"'";
    if (text.empty() || text.find_first_not_of(L"0123456789") != std::wstring::npos)
        return given + L" is not a whole number" + unit;
    size_t digits = text.find_first_not_of(L'0');
    if (digits != std::wstring::npos && text.size() - digits > 15)
        return given + L" is too large: the largest accepted is " + std::to_wstring(kLargestNumber);
    value = 0;
    for (wchar_t c : text) value = value * 10 + static_cast<unsigned>(c - L'0');
    return std::wstring();
}

// An option: its names, whether it takes a value, the commands that take it,
// and what it sets. |set| returns the error text, empty when the value is good.
struct OptionSpec {
    const wchar_t* name;
    const wchar_t* shortName;
    bool takesValue;
    unsigned commands;
    std::wstring (*set)(Options& options, const std::wstring& value);
};

std::wstring Once(bool& given, const wchar_t* name)
{
    if (given) return std::wstring(L"'") + name + L"' is given twice";
    given = true;
    return std::wstring();
}

const OptionSpec kOptions[] = {
    {L"--help", L"-h", false, kAll, [](Options& o, const std::wstring&) { o.help = true; return std::wstring(); }},
    {L"--format", nullptr, true, kAll, [](Options& o, const std::wstring& v) {
         if (v == L"text") o.format = Format::Text;
         else if (v == L"csv") o.format = Format::Csv;
         else if (v == L"json") o.format = Format::Json;
         else return L"unknown format '" + v + L"' (text, csv or json)";
         return std::wstring();
     }},
    {L"--profile", L"-p", true, kAll & ~kProfiles, [](Options& o, const std::wstring& v) {
         o.profile = v;
         return Once(o.hasProfile, L"-p");
     }},
    {L"--store", L"-s", true, kScans | kRestore, [](Options& o, const std::wstring& v) {
         o.store = v;
         return Once(o.hasStore, L"-s");
     }},
    {L"--store-id", nullptr, true, kScans | kRestore, [](Options& o, const std::wstring& v) {
         o.storeId = v;
         return IsHexId(v) ? Once(o.hasStoreId, L"--store-id") : L"'--store-id " + v + L"' is not an entry identifier in hex";
     }},
    {L"--all-stores", nullptr, false, kScans, [](Options& o, const std::wstring&) { o.allStores = true; return std::wstring(); }},
    {L"--exact-walk", nullptr, false, kScans, [](Options& o, const std::wstring&) { o.exactWalk = true; return std::wstring(); }},
    {L"--all", nullptr, false, kDelete, [](Options& o, const std::wstring&) { o.all = true; return std::wstring(); }},
    {L"--name", nullptr, true, kScans | kRestore, [](Options& o, const std::wstring& v) { o.names.push_back(v); return std::wstring(); }},
    {L"--id", nullptr, true, kScans | kRestore, [](Options& o, const std::wstring& v) {
         o.ids.push_back(v);
         return IsHexId(v) ? std::wstring() : L"'--id " + v + L"' is not an entry identifier in hex";
     }},
    {L"--older-than", nullptr, true, kScans, [](Options& o, const std::wstring& v) {
         std::wstring error = WholeNumber(L"--older-than", v, o.olderThanDays, L" of days");
         return error.empty() ? Once(o.hasOlderThan, L"--older-than") : error;
     }},
    {L"--empty", nullptr, false, kScans, [](Options& o, const std::wstring&) { o.empty = true; return std::wstring(); }},
    {L"--criteria-like", nullptr, true, kScans, [](Options& o, const std::wstring& v) {
         o.criteriaLike = v;
         o.criteria = true;
         return Once(o.hasCriteriaLike, L"--criteria-like");
     }},
    {L"--criteria", nullptr, false, kList | kDelete, [](Options& o, const std::wstring&) { o.criteria = true; return std::wstring(); }},
    {L"--dry-run", nullptr, false, kDelete | kRestore, [](Options& o, const std::wstring&) { o.dryRun = true; return std::wstring(); }},
    {L"--keep-going", nullptr, false, kDelete | kRestore, [](Options& o, const std::wstring&) { o.keepGoing = true; return std::wstring(); }},
    {L"--backup", nullptr, true, kDelete, [](Options& o, const std::wstring& v) {
         if (v.empty()) return std::wstring(L"'--backup' needs a file name");
         bool given = !o.backup.empty();
         o.backup = v;
         return given ? std::wstring(L"'--backup' is given twice") : std::wstring();
     }},
    {L"--no-backup", nullptr, false, kDelete, [](Options& o, const std::wstring&) { o.noBackup = true; return std::wstring(); }},
    {L"--from", nullptr, true, kRestore, [](Options& o, const std::wstring& v) {
         if (v.empty()) return std::wstring(L"'--from' needs a file name");
         bool given = !o.from.empty();
         o.from = v;
         return given ? std::wstring(L"'--from' is given twice") : std::wstring();
     }},
    {L"--over", nullptr, true, kCheck, [](Options& o, const std::wstring& v) {
         std::wstring error = WholeNumber(L"--over", v, o.over, L"");
         return error.empty() ? Once(o.hasOver, L"--over") : error;
     }},
    {L"--log", nullptr, true, kDelete | kCheck | kRestore, [](Options& o, const std::wstring& v) {
         o.log = v;
         return v.empty() ? std::wstring(L"'--log' needs a file name") : Once(o.hasLog, L"--log");
     }},
};

} // namespace

bool ParseCommandLine(const std::vector<std::wstring>& args, Options& options, std::wstring& error)
{
    if (args.empty()) {
        error = L"no command given";
        return false;
    }
    const std::wstring& first = args[0];
    if (first == L"--help" || first == L"-h" || first == L"/?") {
        options.command = Command::Help;
        return args.size() == 1 || (error = L"unexpected argument '" + args[1] + L"'", false);
    }
    if (first == L"--version") {
        options.command = Command::Version;
        return args.size() == 1 || (error = L"unexpected argument '" + args[1] + L"'", false);
    }
    for (const CommandName& c : kCommands)
        if (first == c.name) options.command = c.command;
    if (options.command == Command::None) {
        error = L"unknown command '" + first + L"'";
        return false;
    }

    const Command command = options.command;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        const OptionSpec* spec = nullptr;
        for (const OptionSpec& option : kOptions)
            if ((arg == option.name || (option.shortName && arg == option.shortName)) && (option.commands & Bit(command))) spec = &option;
        if (!spec) {
            error = L"unknown option '" + arg + L"' for '" + first + L"'";
            return false;
        }
        std::wstring value;
        if (spec->takesValue) {
            if (i + 1 >= args.size()) {
                error = L"'" + arg + L"' needs a value";
                return false;
            }
            value = args[++i];
        }
        error = spec->set(options, value);
        if (!error.empty()) return false;
    }
    if (options.help) return true;
    if (options.hasStore + options.hasStoreId + options.allStores > 1) {
        error = L"'-s', '--store-id' and '--all-stores' exclude each other";
        return false;
    }
    if (command == Command::Delete) {
        bool chosen = !options.names.empty() || !options.ids.empty();
        if (!options.all && !chosen) {
            error = L"'delete' needs --all, --name PATTERN or --id HEX";
            return false;
        }
        if (options.all && chosen) {
            error = L"'--all' excludes '--name' and '--id'";
            return false;
        }
    }
    if (command == Command::Delete && options.noBackup && !options.backup.empty()) {
        error = L"'--backup' and '--no-backup' exclude each other";
        return false;
    }
    if (command == Command::Restore && options.from.empty()) {
        error = L"'restore' needs --from FILE";
        return false;
    }
    if (command == Command::Check && !options.hasOver) {
        error = L"'check' needs --over N";
        return false;
    }
    return true;
}
