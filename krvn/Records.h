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
// objects in JSON (text and CSV show such a field empty). A mark is shown
// after the value in the text format only.
struct Field {
    enum Kind { Text, Literal, Null, List, Nested } kind = Text;
    std::wstring value;
    std::vector<std::wstring> items;
    std::shared_ptr<Table> nested;
    std::wstring mark;

    std::wstring Flat() const;  // as text and CSV show it
};
Field TextField(const std::wstring& value);
Field LiteralField(const std::wstring& value);
Field NullField();
Field ListField(const std::vector<std::wstring>& items);
Field NumberField(unsigned long long value);
Field NestedField(std::shared_ptr<Table> table);

struct Table {
    std::vector<std::string> fields;  // the names, in csv headers and json keys alike
    std::vector<std::vector<Field>> rows;
};

// The text format shows each field visibly (control characters escaped) and
// no wider than this many columns; CSV and JSON hold every name exactly.
const size_t kTextColumns = 80;

// The whole output of a command. |summary| is the text format's last line.
// In JSON the table is a bare array, or with a |name| an object:
// {name: [...], value name: value, ..., list name: [...]}.
struct Report {
    Table table;
    std::wstring summary;
    std::string name;
    std::vector<std::pair<std::string, Field>> values;
    std::vector<std::pair<std::string, Table>> lists;
};

std::wstring Render(const Report& report, Format format);
// A table's row as one JSON object on one line.
std::wstring JsonLine(const Table& table, size_t row);
