// How krvn compares names and entry identifiers given on its command line
// with those it finds: ordinal, ignoring case, whole names, * and ?.
#pragma once
#include <string>
#include <vector>

// <0, 0, >0 as |a| sorts before, with or after |b|: ordinal, ignoring case.
int CompareNames(const std::wstring& a, const std::wstring& b);
bool SameName(const std::wstring& a, const std::wstring& b);
// |text| as names and patterns are compared: in upper case.
std::wstring FoldCase(std::wstring text);
// Wildcard matching (* any run, ? one character) over the whole name, ignoring case.
bool MatchesPattern(const std::wstring& name, const std::wstring& pattern);
// Whether a pattern is wildcards only, and so matches every name of its length or more.
bool OnlyWildcards(const std::wstring& pattern);
bool IsHexDigit(wchar_t c);
// Whether |text| is an entry identifier in hex: ASCII hex digits, at least one byte.
bool IsHexId(const std::wstring& text);

// Counts how many of a set of names a pattern matches, without matching
// every name against every pattern: a pattern's literal beginning, or else
// its literal end, narrows the names to try.
class NameIndex {
public:
    explicit NameIndex(const std::vector<std::wstring>& names);
    size_t Matches(const std::wstring& pattern) const;

private:
    std::vector<std::wstring> m_names, m_reversed;  // upper case, sorted
};
