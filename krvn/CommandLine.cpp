#include "CommandLine.h"

#include <windows.h>

#include "Selection.h"

namespace {

struct CommandName {
    const wchar_t* name;
    Command command;
};
const CommandName kCommands[] = {
    {L"profiles", Command::Profiles}, {L"stores", Command::Stores}, {L"list", Command::List}, {L"delete", Command::Delete}};

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
    const bool scans = command == Command::List || command == Command::Delete;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::wstring& arg = args[i];
        // The options that take a value.
        auto value = [&](std::wstring& out) {
            if (i + 1 >= args.size()) {
                error = L"'" + arg + L"' needs a value";
                return false;
            }
            out = args[++i];
            return true;
        };
        std::wstring text;
        if (arg == L"--help" || arg == L"-h") {
            options.help = true;
        } else if (arg == L"--format") {
            if (!value(text)) return false;
            if (text == L"text") options.format = Format::Text;
            else if (text == L"csv") options.format = Format::Csv;
            else if (text == L"json") options.format = Format::Json;
            else {
                error = L"unknown format '" + text + L"' (text, csv or json)";
                return false;
            }
        } else if ((arg == L"-p" || arg == L"--profile") && command != Command::Profiles) {
            if (!value(options.profile)) return false;
            options.hasProfile = true;
        } else if ((arg == L"-s" || arg == L"--store") && scans) {
            if (!value(options.store)) return false;
            options.hasStore = true;
        } else if (arg == L"--store-id" && scans) {
            if (!value(options.storeId)) return false;
            if (!IsHexId(options.storeId)) {
                error = L"'--store-id " + options.storeId + L"' is not an entry identifier in hex";
                return false;
            }
            options.hasStoreId = true;
        } else if (arg == L"--exact-walk" && scans) {
            options.exactWalk = true;
        } else if (arg == L"--all-stores" && scans) {
            options.allStores = true;
        } else if (arg == L"--all" && command == Command::Delete) {
            options.all = true;
        } else if (arg == L"--name" && scans) {
            if (!value(text)) return false;
            options.names.push_back(text);
        } else if (arg == L"--id" && scans) {
            if (!value(text)) return false;
            if (!IsHexId(text)) {
                error = L"'--id " + text + L"' is not an entry identifier in hex";
                return false;
            }
            options.ids.push_back(text);
        } else if (arg == L"--dry-run" && command == Command::Delete) {
            options.dryRun = true;
        } else if (arg == L"--keep-going" && command == Command::Delete) {
            options.keepGoing = true;
        } else {
            error = L"unknown option '" + arg + L"' for '" + first + L"'";
            return false;
        }
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
