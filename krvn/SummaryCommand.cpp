#include "SummaryCommand.h"

#include <algorithm>
#include <map>

#include "Conversions.h"
#include "Reporting.h"
#include "Selection.h"

namespace {

// The oldest and newest modification of a set of folders.
struct Span {
    bool any = false;
    FILETIME oldest = {}, newest = {};

    void Add(const Evidence& e)
    {
        if (!e.hasModified) return;
        if (!any || CompareFileTime(&e.modified, &oldest) < 0) oldest = e.modified;
        if (!any || CompareFileTime(&e.modified, &newest) > 0) newest = e.modified;
        any = true;
    }
};

// A store's summary: its search folders, the empty ones, their span, and the
// groups of their names, most numerous first, ties in ordinal order of the
// pattern. Names group as --name matches them, ignoring case: a group shows
// the spelling of its first member, and how many folders its pattern selects.
struct StoreSummary {
    size_t folders = 0, empty = 0;
    Span span;
    struct Group {
        std::wstring pattern;
        size_t count = 0, selects = 0;
        Span span;
    };
    std::vector<Group> groups;
};

StoreSummary Summarise(const Work& work, size_t store)
{
    StoreSummary summary;
    std::map<std::wstring, StoreSummary::Group> groups;  // by the pattern in upper case
    std::vector<std::wstring> names;
    for (const Found* folder : work.selected) {
        if (folder->store != store) continue;
        ++summary.folders;
        summary.empty += folder->evidence.hasItems && folder->evidence.items == 0;
        summary.span.Add(folder->evidence);
        std::wstring pattern = GroupPattern(folder->name);
        StoreSummary::Group& group = groups[FoldCase(pattern)];
        if (!group.count) group.pattern = pattern;
        ++group.count;
        group.span.Add(folder->evidence);
        names.push_back(folder->name);
    }
    NameIndex index(names);
    for (auto& group : groups) {
        group.second.selects = index.Matches(group.second.pattern);
        summary.groups.push_back(group.second);
    }
    std::stable_sort(summary.groups.begin(), summary.groups.end(),
                     [](const StoreSummary::Group& a, const StoreSummary::Group& b) { return a.count > b.count; });
    return summary;
}

// A group's row: its pattern (marked in text when it is wildcards only), its
// count, how many its pattern selects (marked in text when more), its span.
std::vector<Field> GroupFields(const StoreSummary::Group& group)
{
    std::vector<Field> row = {TextField(group.pattern), NumberField(group.count), NumberField(group.selects),
                              TimeField(group.span.any, group.span.oldest), TimeField(group.span.any, group.span.newest)};
    if (OnlyWildcards(group.pattern)) row[0].mark = L"(any name)";
    if (group.selects > group.count) row[2].mark = L"(+" + std::to_wstring(group.selects - group.count) + L" others)";
    return row;
}

} // namespace

int SummaryCommand(const Options& options)
{
    Work work;
    Progress progress;
    if (int code = Prepare(options, work, progress)) return code;
    const std::vector<std::string> storeNames = {"profile", "store", "search_folders", "empty", "oldest", "newest"};
    Report flat, nested;  // one row per group (text, csv); one object per store (json)
    flat.table.fields = storeNames;
    flat.table.fields.insert(flat.table.fields.end(), {"pattern", "count", "selects", "group_oldest", "group_newest"});
    nested.name = "stores";
    nested.table.fields = storeNames;
    nested.table.fields.push_back("groups");
    size_t total = 0;
    for (size_t store : work.stores) {  // the stores read: one left out is no store without search folders
        StoreSummary summary = Summarise(work, store);
        total += summary.folders;
        std::vector<Field> row = {TextField(work.target.profile.name), TextField(work.target.stores[store].name), NumberField(summary.folders),
                                  NumberField(summary.empty), TimeField(summary.span.any, summary.span.oldest),
                                  TimeField(summary.span.any, summary.span.newest)};
        auto groups = std::make_shared<Table>();
        groups->fields = {"pattern", "count", "selects", "oldest", "newest"};
        for (const StoreSummary::Group& group : summary.groups) {
            groups->rows.push_back(GroupFields(group));
            flat.table.rows.push_back(row);
            flat.table.rows.back().insert(flat.table.rows.back().end(), groups->rows.back().begin(), groups->rows.back().end());
        }
        if (summary.groups.empty()) {  // a store without search folders still shows its counts
            flat.table.rows.push_back(row);
            flat.table.rows.back().insert(flat.table.rows.back().end(), 5, NullField());
        }
        row.push_back(NestedField(groups));
        nested.table.rows.push_back(row);
    }
    nested.lists = {{"incomplete", *Incomplete(work)}};
    size_t leftOut = std::count_if(work.scanned.damage.begin(), work.scanned.damage.end(), [](const Damage& d) { return d.leftOut; });
    flat.summary = Plural(work.stores.size(), L"store", L"stores") + L", " + Plural(total, L"search folder", L"search folders") +
                   (leftOut ? L"; " + Plural(leftOut, L"store", L"stores") + L" left out, not read" : L"") +
                   Unread(options, work);
    Output(Render(options.format == Format::Json ? nested : flat, options.format), work.result);
    return work.result.ExitCode();
}

