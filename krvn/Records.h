// What krvn reports: records of named fields, in UTF-16, written as an
// aligned text table, RFC 4180 CSV or JSON.
#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

enum class Format { Text, Csv, Json };

struct Table;

// One field's value. Text is quoted in JSON; a literal (true, false, a
// number) stands bare; null is empty in text and CSV; a list is joined with
// "; " in text and CSV and is an array in JSON; a table is an array of
// objects in JSON (text and CSV show such a field empty).
struct Field {
    enum Kind { Text, Literal, Null, List, Nested } kind = Text;
    std::wstring value;
    std::vector<std::wstring> items;
    std::shared_ptr<Table> nested;

    std::wstring Flat() const;  // as text and CSV show it
};
Field TextField(const std::wstring& value);
Field LiteralField(const std::wstring& value);
Field NullField();
Field ListField(const std::vector<std::wstring>& items);
Field NumberField(unsigned long long value);

struct Table {
    std::vector<std::string> fields;  // the names, in csv headers and json keys alike
    std::vector<std::vector<Field>> rows;
};

// The whole output of a command. |summary| is the text format's last line.
// In JSON the table is a bare array, or with a |name| an object:
// {name: [...], count name: number, ..., list name: [...]}.
struct Report {
    Table table;
    std::wstring summary;
    std::string name;
    std::vector<std::pair<std::string, long>> counts;
    std::vector<std::pair<std::string, Table>> lists;
};

std::wstring Render(const Report& report, Format format);
// A table's row as one JSON object on one line.
std::wstring JsonLine(const Table& table, size_t row);

// Text of the ANSI code page, and UTF-8 text, as UTF-16.
std::wstring FromAnsi(const char* text);
std::wstring FromUtf8(const std::string& text);
std::string ToUtf8(const std::wstring& text);
// Bytes as upper-case hex.
std::wstring Hex(const BYTE* bytes, ULONG count);
// An HRESULT as 0xHHHHHHHH.
std::wstring HresultText(HRESULT hr);
// A time as UTC, "YYYY-MM-DDTHH:MM:SSZ"; empty when it is no time.
std::wstring UtcText(const FILETIME& time);
