// krvn's command line: a command, then its options.
#pragma once
#include <string>
#include <vector>

#include "Records.h"

enum class Command { None, Help, Version, Profiles, Stores, List, Delete, Summary, Check, Restore };

struct Options {
    Command command = Command::None;
    bool help = false;           // COMMAND --help
    Format format = Format::Text;
    std::wstring profile;        // empty: the default profile
    bool hasProfile = false;
    std::wstring store;          // empty: the default store
    bool hasStore = false;
    std::wstring storeId;        // --store-id: the store by its entry identifier in hex
    bool hasStoreId = false;
    bool allStores = false;
    bool exactWalk = false;      // the dialog's walk, not the deep table
    // Which search folders: delete's choice, a filter elsewhere.
    bool all = false;
    std::vector<std::wstring> names;  // wildcard patterns
    std::vector<std::wstring> ids;    // entry identifiers in hex
    // Evidence: every filter given must hold.
    bool hasOlderThan = false;
    unsigned long long olderThanDays = 0;
    bool empty = false;
    bool hasCriteriaLike = false;
    std::wstring criteriaLike;
    bool criteria = false;       // read and report each folder's search criteria
    // delete, restore
    bool dryRun = false;
    bool keepGoing = false;
    // delete: where the backup goes (empty: a new file of krvn's), or none at all
    std::wstring backup;
    bool noBackup = false;
    // restore: the backup to make folders again from
    std::wstring from;
    // check
    bool hasOver = false;
    unsigned long long over = 0;
    // delete, check, restore: a record of the run appended to a file
    std::wstring log;
    bool hasLog = false;
};

// Parses the arguments after the program name. False with |error| naming the
// bad argument when the line is not one krvn takes.
bool ParseCommandLine(const std::vector<std::wstring>& args, Options& options, std::wstring& error);

// The help text of the program, or of one command.
std::wstring HelpText(Command command);
