// krvn's help: the program's, and each command's.
#include "CommandLine.h"

namespace {

const wchar_t kStores[] =
    L"  Without -p the default profile is used, without -s its default store (any case,\r\n"
    L"  also a name outside the ANSI code page); --store-id HEX picks a store by the\r\n"
    L"  entryid that 'krvn stores' shows (two stores of one name need it);\r\n"
    L"  --all-stores takes every store of the profile.\r\n";
const wchar_t kFilters[] =
    L"  Filters (every one given must hold):\r\n"
    L"    --name PATTERN     the name matches (* and ?, whole name, any case; repeatable)\r\n"
    L"    --id HEX           the entry identifier (repeatable)\r\n"
    L"    --older-than DAYS  modified before now minus DAYS days (never a folder without a date)\r\n"
    L"    --empty            holding no item\r\n"
    L"    --criteria-like P  the search criteria match P (reads them, as --criteria)\r\n";
const wchar_t kWalk[] =
    L"  --exact-walk visits folder by folder, as Korvane's window does, instead of reading\r\n"
    L"  the finder's folders in one table (slower; lists what the window lists).\r\n";
const wchar_t kCriteria[] =
    L"  --criteria adds each folder's search criteria and the folders it searches: one\r\n"
    L"  OpenEntry and one GetSearchCriteria per folder, one open per searched folder.\r\n";
const wchar_t kLog[] =
    L"  --log FILE appends a JSON record of the run to FILE (%VARIABLES% expanded);\r\n"
    L"  a log that cannot be opened stops the command before anything is done.\r\n";
const wchar_t kBackup[] =
    L"  Before the first deletion every selected folder is backed up (name, place,\r\n"
    L"  comment, search criteria) to a new file in %LOCALAPPDATA%\\Korvane\\backups\r\n"
    L"  (those older than 180 days go), or appended to --backup FILE; a backup that\r\n"
    L"  cannot be written stops the command and nothing is deleted. Nothing the\r\n"
    L"  backup could not make again is deleted: a folder it cannot reach (its store\r\n"
    L"  or the folder cannot be opened) or whose search criteria it cannot read fails\r\n"
    L"  with the call's hr. 'krvn restore' makes the folders again from the backup.\r\n"
    L"  --no-backup: no way back.\r\n";

} // namespace

std::wstring HelpText(Command command)
{
    switch (command) {
    case Command::Profiles:
        return L"krvn profiles [--format text|csv|json]\r\n"
               L"  Lists the mail profiles of this user: name, default.\r\n";
    case Command::Stores:
        return L"krvn stores [-p PROFILE] [--format text|csv|json]\r\n"
               L"  Lists the message stores of a profile (default: the default profile):\r\n"
               L"  profile, name, default, entryid.\r\n";
    case Command::List:
        return std::wstring(L"krvn list [-p PROFILE] [-s STORE | --store-id HEX | --all-stores] [FILTERS]\r\n"
                            L"          [--criteria] [--exact-walk] [--format text|csv|json]\r\n"
                            L"  Lists the search folders below a store's finder folder: profile, store, name,\r\n"
                            L"  path, entryid, modified (UTC), items; ordered by path, then name. Folders with\r\n"
                            L"  a container class (the mail client's own) are never listed.\r\n") +
               kStores + kFilters + kCriteria + kWalk;
    case Command::Delete:
        return std::wstring(L"krvn delete [-p PROFILE] [-s STORE | --store-id HEX | --all-stores]\r\n"
                            L"            (--all | --name PATTERN ... | --id HEX ...) [FILTERS] [--criteria]\r\n"
                            L"            [--dry-run] [--keep-going] [--exact-walk] [--backup FILE | --no-backup]\r\n"
                            L"            [--log FILE] [--format ...]\r\n"
                            L"  Deletes listed search folders, in list order: --all of them, those whose name\r\n"
                            L"  matches a PATTERN, or those with an entry identifier HEX, narrowed by the other\r\n"
                            L"  filters. Stops at the first failure unless --keep-going. --dry-run deletes\r\n"
                            L"  nothing. Outcomes: deleted, failed (with hr and reason), would-delete,\r\n"
                            L"  not-reached.\r\n"
                            L"  Ctrl+C lets the deletion in hand finish; the rest are not-reached.\r\n") +
               kStores + kFilters + kCriteria + kWalk + kBackup + kLog;
    case Command::Summary:
        return std::wstring(L"krvn summary [-p PROFILE] [-s STORE | --store-id HEX | --all-stores] [FILTERS]\r\n"
                            L"             [--exact-walk] [--format text|csv|json]\r\n"
                            L"  For each store: the search folders, how many are empty, the oldest and newest\r\n"
                            L"  modified, and groups of names (runs of digits as *, any case) with their\r\n"
                            L"  counts and how many folders --name PATTERN selects (more than the count:\r\n"
                            L"  narrow the pattern before deleting with it).\r\n") +
               kStores + kFilters + kWalk;
    case Command::Check:
        return std::wstring(L"krvn check [-p PROFILE] [-s STORE | --store-id HEX | --all-stores] [FILTERS]\r\n"
                            L"           --over N [--exact-walk] [--log FILE] [--format text|csv|json]\r\n"
                            L"  Counts the search folders that pass the filters and prints one line; exit\r\n"
                            L"  code 1 when more than N, 0 when not, and then nothing on standard error: a\r\n"
                            L"  detection script for a management system.\r\n") +
               kStores + kFilters + kWalk + kLog;
    case Command::Restore:
        return std::wstring(L"krvn restore --from FILE [-p PROFILE] [-s STORE | --store-id HEX]\r\n"
                            L"             [--name PATTERN ... | --id HEX ...] [--dry-run] [--keep-going]\r\n"
                            L"             [--log FILE] [--format text|csv|json]\r\n"
                            L"  Makes the search folders of a backup that 'krvn delete' wrote again, in the\r\n"
                            L"  order of the backup: all, or those whose name matches a PATTERN or whose\r\n"
                            L"  entry identifier was HEX. Each goes into the store and folder it was in\r\n"
                            L"  (the folder found by its entry identifier, else by its path), with its\r\n"
                            L"  name, comment, search criteria, searched folders and search state.\r\n"
                            L"  Outcomes: restored (with its new entryid), exists (a folder of that name is\r\n"
                            L"  there: nothing made), would-restore, failed (with hr and reason),\r\n"
                            L"  not-reached. Stops at the first failure unless --keep-going.\r\n"
                            L"  -s STORE (a name, any case) or --store-id HEX puts every record into that\r\n"
                            L"  store of the profile instead: use it when the store's entry identifier\r\n"
                            L"  changed (a profile made again), so that every record fails with 'its store\r\n"
                            L"  ... is not in profile'. Parents are then found by entry identifier, else by\r\n"
                            L"  path below that store's finder.\r\n") +
               kLog;
    default:
        return L"krvn - lists and deletes search folders through Extended MAPI\r\n"
               L"\r\n"
               L"  krvn profiles [--format text|csv|json]\r\n"
               L"  krvn stores   [-p PROFILE] [--format ...]\r\n"
               L"  krvn list     [-p PROFILE] [STORES] [FILTERS] [--criteria] [--exact-walk] [--format ...]\r\n"
               L"  krvn delete   [-p PROFILE] [STORES] (--all | --name PATTERN ... | --id HEX ...)\r\n"
               L"                [FILTERS] [--criteria] [--dry-run] [--keep-going] [--exact-walk]\r\n"
               L"                [--backup FILE | --no-backup] [--log FILE] [--format ...]\r\n"
               L"  krvn summary  [-p PROFILE] [STORES] [FILTERS] [--exact-walk] [--format ...]\r\n"
               L"  krvn check    [-p PROFILE] [STORES] [FILTERS] --over N [--exact-walk] [--log FILE]\r\n"
               L"                [--format ...]\r\n"
               L"  krvn restore  --from FILE [-p PROFILE] [-s STORE | --store-id HEX]\r\n"
               L"                [--name PATTERN ... | --id HEX ...]\r\n"
               L"                [--dry-run] [--keep-going] [--log FILE] [--format ...]\r\n"
               L"  krvn --help | krvn COMMAND --help | krvn --version\r\n"
               L"\r\n"
               L"  STORES:  -s STORE | --store-id HEX | --all-stores\r\n"
               L"  FILTERS: --name PATTERN ... | --id HEX ... | --older-than DAYS | --empty |\r\n"
               L"           --criteria-like PATTERN\r\n"
               L"\r\n"
               L"Without -p the default profile is used, without -s its default store.\r\n"
               L"delete backs up what it deletes first; restore makes it again from the backup.\r\n"
               L"Names compare without regard to case. --exact-walk visits folder by folder,\r\n"
               L"as Korvane's window does, instead of reading the folders in one table.\r\n"
               L"Exit codes: 0 success (also when nothing matched; check: within the limit),\r\n"
               L"1 a deletion or restore failed (check: over the limit), 2 usage error, 3 the\r\n"
               L"mail data or a backup could not be reached, or not all of it (the messages say\r\n"
               L"where), 4 the output could not be written, 5 interrupted by Ctrl+C or Ctrl+Break.\r\n";
    }
}
