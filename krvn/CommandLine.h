// krvn's command line: a command, then its options.
#pragma once
#include <string>
#include <vector>

#include "Records.h"

enum class Command { None, Help, Version, Profiles, Stores, List, Delete };

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
    bool all = false;            // delete: every listed folder
    std::vector<std::wstring> names;  // delete: wildcard patterns
    std::vector<std::wstring> ids;    // delete: entry identifiers in hex
    bool dryRun = false;
    bool keepGoing = false;
    bool exactWalk = false;      // list, delete: the dialog's walk, not the deep table
};

// Parses the arguments after the program name. False with |error| naming the
// bad argument when the line is not one krvn takes.
bool ParseCommandLine(const std::vector<std::wstring>& args, Options& options, std::wstring& error);

// The help text of the program, or of one command.
std::wstring HelpText(Command command);
