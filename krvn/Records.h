// What krvn reports: records of named fields, in UTF-16, written as an
// aligned text table, RFC 4180 CSV or JSON.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

enum class Format { Text, Csv, Json };

// One field's value; |literal| values (true, false, numbers) stand bare in JSON.
struct Field {
    std::wstring value;
    bool literal = false;
};

struct Table {
    std::vector<std::string> fields;  // the names, in csv headers and json keys alike
    std::vector<std::vector<Field>> rows;
};

// The whole output of a command. |summary| is the text format's last line;
// |counts| (name, number) and |lists| (name, table) close the JSON object of
// a deletion, which is then {"folders": [...], name: number, ..., name: [...]}
// instead of a bare array.
struct Report {
    Table table;
    std::wstring summary;
    std::vector<std::pair<std::string, long>> counts;
    std::vector<std::pair<std::string, Table>> lists;
};

std::wstring Render(const Report& report, Format format);

// Text of the ANSI code page, and UTF-8 text, as UTF-16.
std::wstring FromAnsi(const char* text);
std::wstring FromUtf8(const std::string& text);
std::string ToUtf8(const std::wstring& text);
// Bytes as upper-case hex.
std::wstring Hex(const BYTE* bytes, ULONG count);
// An HRESULT as 0xHHHHHHHH.
std::wstring HresultText(HRESULT hr);
