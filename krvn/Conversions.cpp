#include "Conversions.h"

#include <stdio.h>

namespace {

// Characters shown as escapes: control characters, and those that break a
// line or turn the direction of what follows (a name could pass for another).
bool IsControl(wchar_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || (c >= 0x2028 && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

// Columns of one character: two for the East Asian wide and full-width
// blocks, none for combining marks and joiners, else one.
size_t Width(wchar_t c)
{
    if ((c >= 0x0300 && c <= 0x036F) || (c >= 0x200B && c <= 0x200F) || (c >= 0xFE00 && c <= 0xFE0F)) return 0;
    if ((c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0xA4CF) || (c >= 0xAC00 && c <= 0xD7A3) ||
        (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
        (c >= 0xFFE0 && c <= 0xFFE6))
        return 2;
    return 1;
}

std::wstring Escape(wchar_t c)
{
    switch (c) {
    case L'\t': return L"\\t";
    case L'\n': return L"\\n";
    case L'\r': return L"\\r";
    default: {
        wchar_t text[8];
        swprintf(text, 8, c > 0xFF ? L"\\u%04X" : L"\\x%02X", static_cast<unsigned>(c));
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
    for (size_t i = 0; i < text.size(); ++i) {
        bool pair = IS_HIGH_SURROGATE(text[i]) && i + 1 < text.size() && IS_LOW_SURROGATE(text[i + 1]);
        std::wstring shown = IsControl(text[i]) ? Escape(text[i]) : text.substr(i, pair ? 2 : 1);
        size_t width = pair ? 2 : IsControl(text[i]) ? shown.size() : Width(text[i]);
        // What is left must fit, or room for the ellipsis stays.
        if (columns && used + width > columns - 1 && (used + width > columns || i + (pair ? 2 : 1) < text.size()))
            return out + L"\u2026";
        out += shown;
        used += width;
        i += pair;
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
