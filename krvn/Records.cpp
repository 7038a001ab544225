#include "Records.h"

#include <stdio.h>

#include <algorithm>

#include "Conversions.h"

namespace {

std::wstring Widen(const std::string& ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

// RFC 4180: a field with a comma, a quote or a line break is quoted, quotes doubled.
std::wstring CsvField(const std::wstring& value)
{
    if (value.find_first_of(L",\"\r\n") == std::wstring::npos) return value;
    std::wstring out = L"\"";
    for (wchar_t c : value) {
        if (c == L'"') out += L'"';
        out += c;
    }
    return out + L"\"";
}

std::wstring JsonString(const std::wstring& value)
{
    std::wstring out = L"\"";
    for (wchar_t c : value) {
        switch (c) {
        case L'"': out += L"\\\""; break;
        case L'\\': out += L"\\\\"; break;
        case L'\n': out += L"\\n"; break;
        case L'\r': out += L"\\r"; break;
        case L'\t': out += L"\\t"; break;
        default:
            if (c < 0x20) {
                wchar_t escape[8];
                swprintf(escape, 8, L"\\u%04x", static_cast<unsigned>(c));
                out += escape;
            } else {
                out += c;
            }
        }
    }
    return out + L"\"";
}

std::wstring JsonObject(const Table& table, const std::vector<Field>& row);

std::wstring JsonValue(const Field& field)
{
    switch (field.kind) {
    case Field::Literal: return field.value;
    case Field::Null: return L"null";
    case Field::List: {
        std::wstring out = L"[";
        for (size_t i = 0; i < field.items.size(); ++i) out += (i ? L", " : L"") + JsonString(field.items[i]);
        return out + L"]";
    }
    case Field::Nested: {
        std::wstring out = L"[";
        for (size_t i = 0; i < field.nested->rows.size(); ++i) out += (i ? L", " : L"") + JsonObject(*field.nested, field.nested->rows[i]);
        return out + L"]";
    }
    default: return JsonString(field.value);
    }
}

std::wstring JsonObject(const Table& table, const std::vector<Field>& row)
{
    std::wstring out = L"{";
    for (size_t i = 0; i < row.size(); ++i) {
        if (i) out += L", ";
        out += JsonString(Widen(table.fields[i])) + L": " + JsonValue(row[i]);
    }
    return out + L"}";
}

// Every object on a line of its own, so that line tools can count them.
std::wstring JsonArray(const Table& table, const std::wstring& indent)
{
    if (table.rows.empty()) return L"[]";
    std::wstring out = L"[\r\n";
    for (size_t r = 0; r < table.rows.size(); ++r)
        out += indent + L"  " + JsonObject(table, table.rows[r]) + (r + 1 < table.rows.size() ? L",\r\n" : L"\r\n");
    return out + indent + L"]";
}

std::wstring TextTable(const Report& report)
{
    const Table& table = report.table;
    // Every row one line: each cell visible and cut to a width a terminal holds.
    std::vector<std::vector<std::wstring>> lines(1);
    for (const std::string& name : table.fields) lines[0].push_back(Widen(name));
    for (const auto& row : table.rows) {
        lines.emplace_back();
        for (const Field& field : row)
            lines.back().push_back(Visible(field.Flat(), kTextColumns) + (field.mark.empty() ? L"" : L" " + field.mark));
    }
    std::vector<size_t> widths(table.fields.size());
    for (const auto& cells : lines)
        for (size_t i = 0; i < cells.size(); ++i) widths[i] = std::max(widths[i], Columns(cells[i]));
    std::wstring out;
    for (const auto& cells : table.rows.empty() ? std::vector<std::vector<std::wstring>>() : lines) {
        std::wstring line;
        for (size_t i = 0; i < cells.size(); ++i) {
            line += cells[i];
            if (i + 1 < cells.size()) line += std::wstring(widths[i] - Columns(cells[i]) + 2, L' ');
        }
        line.erase(line.find_last_not_of(L' ') + 1);
        out += line + L"\r\n";
    }
    return out + Visible(report.summary) + L"\r\n";  // the summary may name a file or a store
}

} // namespace

std::wstring Render(const Report& report, Format format)
{
    const Table& table = report.table;
    switch (format) {
    case Format::Csv: {
        std::wstring out;
        for (size_t i = 0; i < table.fields.size(); ++i) out += (i ? L"," : L"") + Widen(table.fields[i]);
        out += L"\r\n";
        for (const auto& row : table.rows) {
            for (size_t i = 0; i < row.size(); ++i) out += (i ? L"," : L"") + CsvField(row[i].Flat());
            out += L"\r\n";
        }
        return out;
    }
    case Format::Json: {
        if (report.name.empty()) return JsonArray(table, L"") + L"\r\n";
        std::wstring out = L"{\r\n  " + JsonString(Widen(report.name)) + L": " + JsonArray(table, L"  ");
        for (const auto& value : report.values) out += L",\r\n  " + JsonString(Widen(value.first)) + L": " + JsonValue(value.second);
        for (const auto& list : report.lists)
            out += L",\r\n  " + JsonString(Widen(list.first)) + L": " + JsonArray(list.second, L"  ");
        return out + L"\r\n}\r\n";
    }
    default:
        return TextTable(report);
    }
}

std::wstring JsonLine(const Table& table, size_t row)
{
    return JsonObject(table, table.rows[row]);
}

std::wstring Field::Flat() const
{
    if (kind == List) {
        std::wstring out;
        for (size_t i = 0; i < items.size(); ++i) out += (i ? L"; " : L"") + items[i];
        return out;
    }
    return kind == Text || kind == Literal ? value : std::wstring();
}

Field TextField(const std::wstring& value) { return {Field::Text, value, {}, nullptr, {}}; }
Field LiteralField(const std::wstring& value) { return {Field::Literal, value, {}, nullptr, {}}; }
Field NullField() { return {Field::Null, std::wstring(), {}, nullptr, {}}; }
Field ListField(const std::vector<std::wstring>& items) { return {Field::List, std::wstring(), items, nullptr, {}}; }
Field NumberField(unsigned long long value) { return LiteralField(std::to_wstring(value)); }
Field NestedField(std::shared_ptr<Table> table) { return {Field::Nested, std::wstring(), {}, std::move(table), {}}; }
