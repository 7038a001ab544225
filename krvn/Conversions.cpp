#include "Conversions.h"

#include <stdio.h>

namespace {

// Characters never shown as themselves: the Unicode categories Cc (control
// characters), Cf (format characters: invisible ones, direction marks and
// overrides, joiners, tags), Zl and Zp (line and paragraph separators). A name
// holding one could break a row, send a terminal control sequences or pass
// for another name.
const struct { unsigned first, last; } kHidden[] = {
    {0x0000, 0x001F}, {0x007F, 0x009F}, {0x00AD, 0x00AD}, {0x0600, 0x0605}, {0x061C, 0x061C}, {0x06DD, 0x06DD},
    {0x070F, 0x070F}, {0x0890, 0x0891}, {0x08E2, 0x08E2}, {0x180E, 0x180E}, {0x200B, 0x200F}, {0x2028, 0x202E},
    {0x2060, 0x2064}, {0x2066, 0x206F}, {0xFEFF, 0xFEFF}, {0xFFF9, 0xFFFB}, {0x110BD, 0x110BD}, {0x110CD, 0x110CD},
    {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3}, {0x1D173, 0x1D17A}, {0xE0001, 0xE0001}, {0xE0020, 0xE007F},
};

bool IsHidden(unsigned c)
{
    for (const auto& range : kHidden)
        if (c >= range.first && c <= range.last) return true;
    return false;
}

// The character at |text|[i]: a surrogate pair as one, a lone surrogate half as itself.
unsigned CharAt(const std::wstring& text, size_t i, size_t& units)
{
    units = IS_HIGH_SURROGATE(text[i]) && i + 1 < text.size() && IS_LOW_SURROGATE(text[i + 1]) ? 2 : 1;
    return units == 2 ? 0x10000 + ((text[i] - 0xD800u) << 10) + (text[i + 1] - 0xDC00u) : text[i];
}

// Shown as an escape: a hidden character, or half a surrogate pair (which no
// terminal can show, and UTF-8 cannot hold).
bool Escaped(unsigned c)
{
    return IsHidden(c) || (c >= 0xD800 && c <= 0xDFFF);
}

// Columns of one character: two for the East Asian wide and full-width
// blocks, none for combining marks and variation selectors, else one.
size_t Width(wchar_t c)
{
    if ((c >= 0x0300 && c <= 0x036F) || (c >= 0xFE00 && c <= 0xFE0F)) return 0;
    if ((c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
        (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
        (c >= 0xFFE0 && c <= 0xFFE6))
        return 2;
    return 1;
}

std::wstring Escape(unsigned c)
{
    switch (c) {
    case L'\t': return L"\\t";
    case L'\n': return L"\\n";
    case L'\r': return L"\\r";
    default: {
        wchar_t text[16];
        swprintf(text, 16, c > 0xFFFF ? L"\\U%08X" : c > 0xFF ? L"\\u%04X" : L"\\x%02X", c);
        return text;
    }
    }
}

} // namespace

bool TextOf(const SPropValue& wide, const SPropValue& ansi, std::wstring& text)
{
    if (PROP_TYPE(wide.ulPropTag) == PT_UNICODE && wide.Value.lpszW) text = wide.Value.lpszW;
    else if (PROP_TYPE(ansi.ulPropTag) == PT_STRING8 && ansi.Value.lpszA) text = FromAnsi(ansi.Value.lpszA);
    else return false;
    return true;
}

bool Refused(const SPropValue& value)
{
    return PROP_TYPE(value.ulPropTag) == PT_ERROR && value.Value.err == MAPI_E_NOT_ENOUGH_MEMORY;
}

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

std::wstring HexOf(const std::string& bytes)
{
    return Hex(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<ULONG>(bytes.size()));
}

bool FromHex(const std::string& hex, std::string& bytes)
{
    auto digit = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; };
    if (hex.size() % 2) return false;
    bytes.clear();
    bytes.reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        int high = digit(hex[i]), low = digit(hex[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes += static_cast<char>(high * 16 + low);
    }
    return true;
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

std::wstring SystemError(DWORD error)
{
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                   reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::wstring message = text ? text : L"error " + std::to_wstring(error);
    LocalFree(text);
    while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L'.' || message.back() == L' '))
        message.pop_back();
    return message;
}

std::wstring Visible(const std::wstring& text, size_t columns)
{
    std::wstring out;
    size_t used = 0;
    for (size_t i = 0, units = 1; i < text.size(); i += units) {
        unsigned c = CharAt(text, i, units);
        bool escaped = Escaped(c);
        std::wstring shown = escaped ? Escape(c) : text.substr(i, units);
        size_t width = escaped ? shown.size() : units == 2 ? 2 : Width(text[i]);
        // What is left must fit, or room for the ellipsis stays.
        if (columns && used + width > columns - 1 && (used + width > columns || i + units < text.size())) return out + L"\u2026";
        out += shown;
        used += width;
    }
    return out;
}

size_t Columns(const std::wstring& text)
{
    size_t used = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        bool pair = IS_HIGH_SURROGATE(text[i]) && i + 1 < text.size() && IS_LOW_SURROGATE(text[i + 1]);
        used += pair ? 2 : Width(text[i]);
        i += pair;
    }
    return used;
}

std::wstring Quoted(const std::wstring& name)
{
    return L"'" + Visible(name) + L"'";
}

std::wstring Plural(size_t n, const wchar_t* one, const wchar_t* many)
{
    return std::to_wstring(n) + L" " + (n == 1 ? one : many);
}
