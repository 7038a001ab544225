#include "Selection.h"

#include <windows.h>

#include <algorithm>

#include "Conversions.h"

bool ListedBefore(const Found& a, const Found& b)
{
    for (size_t i = 0; i < a.holders.size() && i < b.holders.size(); ++i)
        if (int order = CompareNames(a.holders[i], b.holders[i])) return order < 0;
    if (a.holders.size() != b.holders.size()) return a.holders.size() < b.holders.size();
    if (int order = CompareNames(a.name, b.name)) return order < 0;
    return a.entryId < b.entryId;
}

bool Picked(const Options& options, const std::wstring& name, const std::string& entryId)
{
    // delete always names its choice; the other commands take every folder without a filter
    if (options.all || (options.names.empty() && options.ids.empty())) return true;
    for (const std::wstring& pattern : options.names)
        if (MatchesPattern(name, pattern)) return true;
    std::wstring id = HexOf(entryId);
    for (const std::wstring& wanted : options.ids)
        if (SameName(id, wanted)) return true;
    return false;
}

bool PassesEvidence(const Options& options, const Found& folder, ULONGLONG now)
{
    const Evidence& e = folder.evidence;
    if (options.empty && !(e.hasItems && e.items == 0)) return false;
    if (!options.hasOlderThan) return true;
    const ULONGLONG day = 24ULL * 60 * 60 * 10000000;  // in FILETIME ticks
    if (!e.hasModified || options.olderThanDays > now / day) return false;
    ULONGLONG modified = (static_cast<ULONGLONG>(e.modified.dwHighDateTime) << 32) | e.modified.dwLowDateTime;
    return modified < now - options.olderThanDays * day;
}

bool PassesCriteria(const Options& options, const Found& folder)
{
    if (!options.hasCriteriaLike) return true;
    const Criteria& c = folder.criteria;
    return c.read && !c.cut && MatchesPattern(c.text, options.criteriaLike);
}

std::wstring GroupPattern(const std::wstring& name)
{
    auto decimal = [](wchar_t c) { return c >= L'0' && c <= L'9'; };
    std::wstring first, pattern;
    for (size_t i = 0; i < name.size();) {
        size_t end = i;
        bool digits = false;
        while (end < name.size() && IsHexDigit(name[end])) digits |= decimal(name[end++]);
        if (end - i >= 8 && digits) first += L'*';
        else first.append(name, i, std::max(end, i + 1) - i);
        i = std::max(end, i + 1);
    }
    for (size_t i = 0; i < first.size();) {
        if (!decimal(first[i])) {
            pattern += first[i++];
            continue;
        }
        while (i < first.size() && decimal(first[i])) ++i;
        pattern += L'*';
    }
    return pattern;
}
