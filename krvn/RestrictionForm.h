// A search restriction in JSON, losslessly: every restriction type MAPI
// defines (with the count and annotation restrictions that not every header
// names) and every property type a restriction carries, so that a backup can
// give back exactly what the provider gave.
//
// The form is flat, a JSON array of nodes in prefix order: and() and or()
// say how many operands follow, not(), count(), sub(), comment() and
// annotation() are followed by their one operand (null where it is null).
// No nesting, so that no depth strains a reader (PowerShell's
// ConvertFrom-Json stops at 1,024 levels) or the stack.
#pragma once
#include <windows.h>
#include <mapix.h>

#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

using Json = nlohmann::ordered_json;

// Restriction types that mingw's headers lack.
const ULONG kResCount = 0x0B;       // a count and a restriction, laid out as RES_NOT's
const ULONG kResAnnotation = 0x0C;  // laid out as RES_COMMENT

// Text as the form writes it: a JSON string where it is whole UTF-16, else
// {"utf16": "HEX"} with its code units (an unpaired surrogate has no UTF-8).
Json TextForm(const wchar_t* text);
bool TextFrom(const Json& form, std::wstring& text);

// |restriction| as the form; false with |why| when it holds what MAPI does not define.
bool RestrictionToJson(const SRestriction& restriction, Json& form, std::string& why);

// A restriction built from the form, in memory of its own.
class BuiltRestriction {
public:
    // False with |why| when |form| is not the form of one restriction.
    bool Build(const Json& form, std::string& why);
    const SRestriction* Get() const { return m_root; }

    template <class T>
    T* New(size_t count)
    {
        m_blocks.emplace_back(new char[sizeof(T) * (count ? count : 1)]());
        return reinterpret_cast<T*>(m_blocks.back().get());
    }

private:
    std::vector<std::unique_ptr<char[]>> m_blocks;
    SRestriction* m_root = nullptr;
};
