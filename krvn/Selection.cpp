#include "Selection.h"

#include <windows.h>

#include "Records.h"

namespace {

std::wstring Upper(std::wstring text)
{
    if (!text.empty()) CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

// <0, 0, >0 as |a| sorts before, with or after |b|: ordinal, ignoring case.
int CompareNames(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) - CSTR_EQUAL;
}

} // namespace

bool SameName(const std::wstring& a, const std::wstring& b)
{
    return CompareNames(a, b) == 0;
}

bool MatchesPattern(const std::wstring& name, const std::wstring& pattern)
{
    // Greedy matching with one backtrack point for the last '*'.
    std::wstring n = Upper(name), p = Upper(pattern);
    size_t i = 0, j = 0, star = std::wstring::npos, mark = 0;
    while (i < n.size()) {
        if (j < p.size() && (p[j] == L'?' || p[j] == n[i])) {
            ++i;
            ++j;
        } else if (j < p.size() && p[j] == L'*') {
            star = j++;
            mark = i;
        } else if (star != std::wstring::npos) {
            j = star + 1;
            i = ++mark;
        } else {
            return false;
        }
    }
    while (j < p.size() && p[j] == L'*') ++j;
    return j == p.size();
}

bool IsHexId(const std::wstring& text)
{
    if (text.empty() || text.size() % 2) return false;
    for (wchar_t c : text)
        if (!((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'))) return false;
    return true;
}

bool ListedBefore(const Found& a, const Found& b)
{
    for (size_t i = 0; i < a.holders.size() && i < b.holders.size(); ++i)
        if (int order = CompareNames(a.holders[i], b.holders[i])) return order < 0;
    if (a.holders.size() != b.holders.size()) return a.holders.size() < b.holders.size();
    if (int order = CompareNames(a.name, b.name)) return order < 0;
    return a.entryId < b.entryId;
}

bool Picked(const Options& options, const Found& folder)
{
    bool filtered = !options.names.empty() || !options.ids.empty();
    if (options.all || !filtered) return options.all || options.command != Command::Delete;
    for (const std::wstring& pattern : options.names)
        if (MatchesPattern(folder.name, pattern)) return true;
    std::wstring id = Hex(reinterpret_cast<const BYTE*>(folder.entryId.data()), static_cast<ULONG>(folder.entryId.size()));
    for (const std::wstring& wanted : options.ids)
        if (SameName(id, wanted)) return true;
    return false;
}
