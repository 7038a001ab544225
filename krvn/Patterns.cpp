#include "Patterns.h"

#include <windows.h>

#include <algorithm>

namespace {

// Both in upper case already.
bool MatchUpper(const std::wstring& n, const std::wstring& p)
{
    // Greedy matching with one backtrack point for the last '*'.
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

// How many of the sorted |names| begin with |prefix| and match |pattern| (|reversed|: both read backwards).
size_t CountFrom(const std::vector<std::wstring>& names, const std::wstring& prefix, const std::wstring& pattern, bool reversed)
{
    size_t count = 0;
    for (auto it = std::lower_bound(names.begin(), names.end(), prefix); it != names.end() && it->compare(0, prefix.size(), prefix) == 0; ++it)
        count += MatchUpper(reversed ? std::wstring(it->rbegin(), it->rend()) : *it, pattern);
    return count;
}

} // namespace

std::wstring FoldCase(std::wstring text)
{
    if (!text.empty()) CharUpperBuffW(&text[0], static_cast<DWORD>(text.size()));
    return text;
}

int CompareNames(const std::wstring& a, const std::wstring& b)
{
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) - CSTR_EQUAL;
}

bool SameName(const std::wstring& a, const std::wstring& b)
{
    return CompareNames(a, b) == 0;
}

bool MatchesPattern(const std::wstring& name, const std::wstring& pattern)
{
    return MatchUpper(FoldCase(name), FoldCase(pattern));
}

bool OnlyWildcards(const std::wstring& pattern)
{
    return pattern.find_first_not_of(L"*?") == std::wstring::npos;
}

bool IsHexDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

bool IsHexId(const std::wstring& text)
{
    if (text.empty() || text.size() % 2) return false;
    return std::all_of(text.begin(), text.end(), IsHexDigit);
}

NameIndex::NameIndex(const std::vector<std::wstring>& names)
{
    for (const std::wstring& name : names) {
        m_names.push_back(FoldCase(name));
        m_reversed.emplace_back(m_names.back().rbegin(), m_names.back().rend());
    }
    std::sort(m_names.begin(), m_names.end());
    std::sort(m_reversed.begin(), m_reversed.end());
}

size_t NameIndex::Matches(const std::wstring& pattern) const
{
    std::wstring p = FoldCase(pattern);
    size_t first = p.find_first_of(L"*?"), last = p.find_last_of(L"*?");
    if (first == std::wstring::npos) return CountFrom(m_names, p, p, false);  // one name, in any case
    if (first > 0) return CountFrom(m_names, p.substr(0, first), p, false);
    if (last + 1 < p.size()) return CountFrom(m_reversed, std::wstring(p.rbegin(), p.rbegin() + (p.size() - last - 1)), p, true);
    return CountFrom(m_names, std::wstring(), p, false);
}
