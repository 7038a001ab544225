#include "CommandLine.h"

#include <windows.h>

#include "Selection.h"

namespace {

struct CommandName {
    const wchar_t* name;
    Command command;
};
const CommandName kCommands[] = {{L"profiles", Command::Profiles}, {L"stores", Command::Stores}, {L"list", Command::List},
                                 {L"delete", Command::Delete}, {L"summary", Command::Summary}, {L"check", Command::Check}};

// Which commands take an option.
enum : unsigned { kProfiles = 1, kStores = 2, kList = 4, kDelete = 8, kSummary = 16, kCheck = 32 };
const unsigned kAll = 63, kScans = kList | kDelete | kSummary | kCheck;

unsigned Bit(Command command)
{
    switch (command) {
    case Command::Profiles: return kProfiles;
    case Command::Stores: return kStores;
    case Command::List: return kList;
    case Command::Delete: return kDelete;
    case Command::Summary: return kSummary;
    default: return kCheck;
    }
}

// ASCII digits only, as many as a count of days or folders can need.
bool WholeNumber(const std::wstring& text, unsigned long long& value)
{
    if (text.empty() || text.size() > 15) return false;
    value = 0;
    for (wchar_t c : text) {
        if (c < L'0' || c > L'9') return false;
        value = value * 10 + static_cast<unsigned>(c - L'0');
    }
    return true;
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
    {L"--store", L"-s", true, kScans, [](Options& o, const std::wstring& v) {
         o.store = v;
         return Once(o.hasStore, L"-s");
     }},
    {L"--store-id", nullptr, true, kScans, [](Options& o, const std::wstring& v) {
         o.storeId = v;
         return IsHexId(v) ? Once(o.hasStoreId, L"--store-id") : L"'--store-id " + v + L"' is not an entry identifier in hex";
     }},
    {L"--all-stores", nullptr, false, kScans, [](Options& o, const std::wstring&) { o.allStores = true; return std::wstring(); }},
    {L"--exact-walk", nullptr, false, kScans, [](Options& o, const std::wstring&) { o.exactWalk = true; return std::wstring(); }},
    {L"--all", nullptr, false, kDelete, [](Options& o, const std::wstring&) { o.all = true; return std::wstring(); }},
    {L"--name", nullptr, true, kScans, [](Options& o, const std::wstring& v) { o.names.push_back(v); return std::wstring(); }},
    {L"--id", nullptr, true, kScans, [](Options& o, const std::wstring& v) {
         o.ids.push_back(v);
         return IsHexId(v) ? std::wstring() : L"'--id " + v + L"' is not an entry identifier in hex";
     }},
    {L"--older-than", nullptr, true, kScans, [](Options& o, const std::wstring& v) {
         if (!WholeNumber(v, o.olderThanDays)) return L"'--older-than " + v + L"' is not a whole number of days";
         return Once(o.hasOlderThan, L"--older-than");
     }},
    {L"--empty", nullptr, false, kScans, [](Options& o, const std::wstring&) { o.empty = true; return std::wstring(); }},
    {L"--criteria-like", nullptr, true, kScans, [](Options& o, const std::wstring& v) {
         o.criteriaLike = v;
         o.criteria = true;
         return Once(o.hasCriteriaLike, L"--criteria-like");
     }},
    {L"--criteria", nullptr, false, kList | kDelete, [](Options& o, const std::wstring&) { o.criteria = true; return std::wstring(); }},
    {L"--dry-run", nullptr, false, kDelete, [](Options& o, const std::wstring&) { o.dryRun = true; return std::wstring(); }},
    {L"--keep-going", nullptr, false, kDelete, [](Options& o, const std::wstring&) { o.keepGoing = true; return std::wstring(); }},
    {L"--over", nullptr, true, kCheck, [](Options& o, const std::wstring& v) {
         if (!WholeNumber(v, o.over)) return L"'--over " + v + L"' is not a whole number";
         return Once(o.hasOver, L"--over");
     }},
    {L"--log", nullptr, true, kDelete | kCheck, [](Options& o, const std::wstring& v) {
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
    if (command == Command::Check && !options.hasOver) {
        error = L"'check' needs --over N";
        return false;
    }
    return true;
}

std::wstring HelpText(Command command)
{
    const wchar_t* const stores = L"  Without -p the default profile is used, without -s its default store;\r\n"
                                  L"  --store-id HEX picks a store by the entryid that 'krvn stores' shows,\r\n"
                                  L"  --all-stores takes every store of the profile.\r\n";
    const wchar_t* const walk = L"  --exact-walk visits folder by folder, as Korvane's window does, instead of\r\n"
                                L"  reading the finder's folders in one table (slower; lists what the window lists).\r\n";
    switch (command) {
    case Command::Profiles:
        return L"krvn profiles [--format text|csv|json]\r\n"
               L"  Lists the mail profiles of this user: name, default.\r\n";
    case Command::Stores:
        return L"krvn stores [-p PROFILE] [--format text|csv|json]\r\n"
               L"  Lists the message stores of a profile (default: the default profile):\r\n"
               L"  profile, name, default, entryid.\r\n";
    case Command::List:
        return std::wstring(L"krvn list [-p PROFILE] [-s STORE | --store-id HEX | --all-stores]\r\n"
                            L"          [--name PATTERN ... | --id HEX ...] [--exact-walk] [--format text|csv|json]\r\n"
                            L"  Lists the search folders below a store's finder folder: profile, store, name,\r\n"
                            L"  path, entryid; ordered by path, then name. --name and --id keep only the\r\n"
                            L"  folders they match. Folders with a container class (the mail client's own)\r\n"
                            L"  are never listed.\r\n") + stores + walk;
    case Command::Delete:
        return std::wstring(L"krvn delete [-p PROFILE] [-s STORE | --store-id HEX | --all-stores]\r\n"
                            L"            (--all | --name PATTERN ... | --id HEX ...)\r\n"
                            L"            [--dry-run] [--keep-going] [--exact-walk] [--format text|csv|json]\r\n"
                            L"  Deletes listed search folders, in list order: --all of them, those whose\r\n"
                            L"  name matches a PATTERN (* and ? wildcards, any case), or those with an\r\n"
                            L"  entry identifier HEX. Stops at the first failure unless --keep-going.\r\n"
                            L"  --dry-run deletes nothing and reports what it would delete.\r\n"
                            L"  Outcomes: deleted, failed (with hr), would-delete, not-reached.\r\n"
                            L"  Ctrl+C lets the deletion in hand finish; the rest are not-reached.\r\n") + stores + walk;
    default:
        return L"krvn - lists and deletes search folders through Extended MAPI\r\n"
               L"\r\n"
               L"  krvn profiles [--format text|csv|json]\r\n"
               L"  krvn stores   [-p PROFILE] [--format ...]\r\n"
               L"  krvn list     [-p PROFILE] [-s STORE | --store-id HEX | --all-stores]\r\n"
               L"                [--name PATTERN ... | --id HEX ...] [--exact-walk] [--format ...]\r\n"
               L"  krvn delete   [-p PROFILE] [-s STORE | --store-id HEX | --all-stores]\r\n"
               L"                (--all | --name PATTERN ... | --id HEX ...) [--dry-run] [--keep-going]\r\n"
               L"                [--exact-walk] [--format ...]\r\n"
               L"  krvn --help | krvn COMMAND --help | krvn --version\r\n"
               L"\r\n"
               L"Without -p the default profile is used, without -s its default store.\r\n"
               L"Names compare without regard to case. --exact-walk visits folder by folder,\r\n"
               L"as Korvane's window does, instead of reading the folders in one table.\r\n"
               L"Exit codes: 0 success (also when nothing matched), 1 a deletion failed,\r\n"
               L"2 usage error, 3 the mail data could not be reached, or not all of it\r\n"
               L"(the messages say where), 4 the output could not be written,\r\n"
               L"5 interrupted by Ctrl+C or Ctrl+Break.\r\n";
    }
}
