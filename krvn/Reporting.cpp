#include "Reporting.h"

#include "Conversions.h"

Field Flag(bool value) { return LiteralField(value ? L"true" : L"false"); }

std::shared_ptr<Table> Incomplete(const Work& work)
{
    auto places = std::make_shared<Table>();
    places->fields = {"store", "path", "step", "hr", "reason"};
    for (const Damage& damage : work.scanned.damage) {
        const StoreRow& store = work.target.stores[damage.store];
        places->rows.push_back({store.hasName ? TextField(store.name) : NullField(), damage.leftOut ? NullField() : TextField(damage.path),
                                TextField(FromAnsi(damage.step.c_str())), damage.hr == S_OK ? NullField() : TextField(HresultText(damage.hr)),
                                TextField(DamageText(damage))});
    }
    return places;
}

void RecordTarget(Record& record, const Work& work)
{
    std::vector<std::wstring> stores;
    for (size_t store : work.stores) stores.push_back(work.target.stores[store].name);
    record.Add("profile", TextField(work.target.profile.name));
    record.Add("stores", ListField(stores));
}

Field TimeField(bool known, const FILETIME& time) { return known ? TextField(UtcText(time)) : NullField(); }

std::vector<std::string> RecordNames(const Options& options)
{
    std::vector<std::string> names = {"profile", "store", "name", "path", "entryid", "modified", "items"};
    if (options.criteria) names.insert(names.end(), {"criteria", "scope"});
    return names;
}

std::vector<Field> RecordFields(const Options& options, const Target& target, const Found& folder)
{
    const Evidence& e = folder.evidence;
    std::vector<Field> row = {TextField(target.profile.name), TextField(target.stores[folder.store].name), TextField(folder.name),
                              TextField(PathText(folder.holders)), TextField(HexOf(folder.entryId)), TimeField(e.hasModified, e.modified),
                              e.hasItems ? NumberField(e.items) : NullField()};
    if (options.criteria) {
        const Criteria& c = folder.criteria;
        row.push_back(c.read ? TextField(c.text) : NullField());
        row.push_back(c.read ? ListField(c.scope) : NullField());
    }
    return row;
}

std::wstring Unread(const Options& options, const Work& work)
{
    return options.criteria && work.criteriaUnread
               ? L"; criteria of " + std::to_wstring(work.criteriaUnread) + L" could not be read"
               : std::wstring();
}

