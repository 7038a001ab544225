// Text conversions that every part of krvn reaches for: code pages, hex,
// HRESULTs, times, system errors, and names made safe to print.
#pragma once
#include <windows.h>
#include <mapix.h>

#include <string>

// A name or text as a provider gives it in two properties: its Unicode form
// (|wide|, PT_UNICODE) where it has one, else its 8-bit form (|ansi|,
// PT_STRING8) read through the code page. False, |text| untouched, when it has neither.
bool TextOf(const SPropValue& wide, const SPropValue& ansi, std::wstring& text);

// Whether a table row answered |value| with MAPI_E_NOT_ENOUGH_MEMORY, as a
// server answers a string too long for its rows: the object has it whole.
bool Refused(const SPropValue& value);

// Text of the ANSI code page, and UTF-8 text, as UTF-16.
std::wstring FromAnsi(const char* text);
std::wstring FromUtf8(const std::string& text);
// UTF-16 as UTF-8; an unpaired surrogate becomes U+FFFD.
std::string ToUtf8(const std::wstring& text);
// Bytes as upper-case hex.
std::wstring Hex(const BYTE* bytes, ULONG count);
std::wstring HexOf(const std::string& bytes);
// Hex digits (either case) as bytes; false when |hex| is not an even number of them.
bool FromHex(const std::string& hex, std::string& bytes);
// An HRESULT as 0xHHHHHHHH.
std::wstring HresultText(HRESULT hr);
// A time as UTC, "YYYY-MM-DDTHH:MM:SSZ"; empty when it is no time.
std::wstring UtcText(const FILETIME& time);
// The system's text for a Windows error code, without its final full stop.
std::wstring SystemError(DWORD error);

// |text| as a terminal may show it: every character of the Unicode categories
// Cc, Cf, Zl and Zp (control and format characters, invisible ones and
// direction marks among them, line and paragraph separators) and every half
// of a surrogate pair standing alone as an escape (\t, \n, \r, \x1B, \u202E,
// \U000E0041), so that no name breaks a line or passes for another; and, with
// |columns|, no wider than that many columns (then it ends in "…"; a
// surrogate pair stays whole). Escaping again changes nothing.
std::wstring Visible(const std::wstring& text, size_t columns = 0);
// How many columns a terminal gives |text| (East Asian wide characters and
// characters beyond the BMP take two, combining marks none).
size_t Columns(const std::wstring& text);

// A name in a message: quoted, and visible.
std::wstring Quoted(const std::wstring& name);
std::wstring Plural(size_t n, const wchar_t* one, const wchar_t* many);
