// What the commands' reports share: a search folder's fields, the places
// and stores not read, and the run's record for the audit log.
#pragma once
#include <memory>
#include <string>
#include <vector>

#include "Records.h"
#include "Work.h"

// A run's record for the audit log: what the command adds to when, where, who and what.
struct Record {
    Table table;
    void Add(const char* name, Field value)
    {
        table.fields.push_back(name);
        table.rows[0].push_back(std::move(value));
    }
};

Field TimeField(bool known, const FILETIME& time);
Field Flag(bool value);

// A search folder's fields: profile, store, name, path, entryid, modified,
// items, and with --criteria its criteria and scope.
std::vector<std::string> RecordNames(const Options& options);
std::vector<Field> RecordFields(const Options& options, const Target& target, const Found& folder);

// What the scan could not read whole: the stores left out (without a path)
// and the places in stores.
std::shared_ptr<Table> Incomplete(const Work& work);
// The profile and the stores read that a record names.
void RecordTarget(Record& record, const Work& work);
// "; criteria of N could not be read", when --criteria could not read them all.
std::wstring Unread(const Options& options, const Work& work);
