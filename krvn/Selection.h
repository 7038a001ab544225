// Which listed search folders a command acts on, and in what order: name
// patterns, entry identifiers, and the one order of krvn's records.
#pragma once
#include <string>

#include "CommandLine.h"
#include "Patterns.h"
#include "StoreScan.h"

// The order of krvn's records within a store, whatever order the provider
// hands its rows in: by path, folder by folder, then by name (both ordinal,
// ignoring case), ties by entry identifier.
bool ListedBefore(const Found& a, const Found& b);

// Whether a folder of that name and entry identifier is one that --all,
// --name or --id picks (delete), or that the --name and --id filters let
// through (the other commands; without them, every folder).
bool Picked(const Options& options, const std::wstring& name, const std::string& entryId);

// Whether the folder passes --older-than and --empty, at |now| (FILETIME
// ticks): modified before now minus the days, and holding no item. A folder
// that lacks the property passes neither.
bool PassesEvidence(const Options& options, const Found& folder, ULONGLONG now);
// Whether its criteria text matches --criteria-like (criteria that could not
// be read, or only in part, match no pattern).
bool PassesCriteria(const Options& options, const Found& folder);

// The pattern that a summary groups a name under: every run of 8 or more hex
// digits holding a decimal digit, then every other run of decimal digits,
// becomes "*". It matches the name as --name PATTERN.
std::wstring GroupPattern(const std::wstring& name);
