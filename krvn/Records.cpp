#include "Records.h"

#include <stdio.h>

#include <algorithm>

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
    std::vector<size_t> widths;
    for (const std::string& name : table.fields) widths.push_back(name.size());
    for (const auto& row : table.rows)
        for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].value.size());
    auto line = [&](const std::vector<std::wstring>& cells) {
        std::wstring out;
        for (size_t i = 0; i < cells.size(); ++i) {
            out += cells[i];
            if (i + 1 < cells.size()) out += std::wstring(widths[i] - cells[i].size() + 2, L' ');
        }
        out.erase(out.find_last_not_of(L' ') + 1);
        return out + L"\r\n";
    };
    std::wstring out;
    if (!table.rows.empty()) {
        std::vector<std::wstring> header;
        for (const std::string& name : table.fields) header.push_back(Widen(name));
        out += line(header);
        for (const auto& row : table.rows) {
            std::vector<std::wstring> cells;
            for (const Field& field : row) cells.push_back(field.Flat());
            out += line(cells);
        }
    }
    return out + report.summary + L"\r\n";
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
        for (const auto& count : report.counts)
            out += L",\r\n  " + JsonString(Widen(count.first)) + L": " + std::to_wstring(count.second);
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

Field TextField(const std::wstring& value) { return {Field::Text, value, {}, nullptr}; }
Field LiteralField(const std::wstring& value) { return {Field::Literal, value, {}, nullptr}; }
Field NullField() { return {Field::Null, std::wstring(), {}, nullptr}; }
Field ListField(const std::vector<std::wstring>& items) { return {Field::List, std::wstring(), items, nullptr}; }
Field NumberField(unsigned long long value) { return LiteralField(std::to_wstring(value)); }

std::wstring FromAnsi(const char* text)
{
    int length = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (length <= 1) return std::wstring();
    std::wstring out(length, L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &out[0], length);
    out.resize(length - 1);
    return out;
}

std::wstring FromUtf8(const std::string& text)
{
    if (text.empty()) return std::wstring();
    int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(length > 0 ? length : 0, L'\0');
    if (length > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], length);
    return out;
}

std::string ToUtf8(const std::wstring& text)
{
    if (text.empty()) return std::string();
    int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(length > 0 ? length : 0, '\0');
    if (length > 0)
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], length, nullptr, nullptr);
    return out;
}

std::wstring Hex(const BYTE* bytes, ULONG count)
{
    static const wchar_t digits[] = L"0123456789ABCDEF";
    std::wstring out;
    out.reserve(count * 2);
    for (ULONG i = 0; i < count; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::wstring HresultText(HRESULT hr)
{
    wchar_t text[16];
    swprintf(text, 16, L"0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

std::wstring UtcText(const FILETIME& time)
{
    SYSTEMTIME utc;
    if (!FileTimeToSystemTime(&time, &utc)) return std::wstring();
    wchar_t text[32];
    swprintf(text, 32, L"%04u-%02u-%02uT%02u:%02u:%02uZ", utc.wYear, utc.wMonth, utc.wDay, utc.wHour, utc.wMinute, utc.wSecond);
    return text;
}
